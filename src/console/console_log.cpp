#include "console/console_log.h"

#include <mutex>

#include "platform/console.h"

namespace quorvel {

ConsoleLog::ConsoleLog(int fd, bool errorsOnly) : m_fd(fd), m_errorsOnly(errorsOnly) {}

void ConsoleLog::Write(const LogRecord& record) {
    if (m_errorsOnly && record.level != LogLevel::Error) {
        return;
    }
    // One write a line, so lines of several threads never interleave.
    platform::WriteWhole(m_fd, FormatLogLine(record) + "\n");
}

void LoggedFileOpUi::Error(const platform::FileOperation&, const std::string&) {}

}  // namespace quorvel
