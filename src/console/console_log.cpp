#include "console/console_log.h"

#include <mutex>

#include "core/text_util.h"
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

SystemLogSink::SystemLogSink(std::unique_ptr<platform::SystemLog> log) : m_log(std::move(log)) {}

void SystemLogSink::Write(const LogRecord& record) {
    using platform::SystemLog;
    // The journal keeps the time itself; data is escaped as on a terminal.
    std::vector<SystemLog::Field> fields;
    if (record.item > 0) {
        fields.push_back({"QUORVEL_ITEM_NUMBER", std::to_string(record.item)});
    }
    if (!record.itemName.empty()) {
        fields.push_back({"QUORVEL_ITEM", EscapeControls(record.itemName)});
    }
    if (!record.action.empty()) {
        fields.push_back({"QUORVEL_ACTION", EscapeControls(record.action)});
    }
    constexpr std::size_t kFieldsOfFiles = 100;
    for (std::size_t i = 0; i < record.files.size() && i < kFieldsOfFiles; ++i) {
        fields.push_back({"QUORVEL_FILE", EscapeControls(record.files[i])});
    }
    if (record.seconds >= 0) {
        fields.push_back({"QUORVEL_SECONDS", std::to_string(record.seconds)});
    }
    const auto priority = record.level == LogLevel::Error     ? SystemLog::Priority::Error
                          : record.level == LogLevel::Warning ? SystemLog::Priority::Warning
                                                              : SystemLog::Priority::Info;
    if (!m_log->Write(priority, FormatLogLine(record, false), fields)) {
        // Not taken: standard error, which the service manager keeps too.
        platform::WriteWhole(platform::kStandardErrorFd, FormatLogLine(record) + "\n");
    }
}

void LoggedFileOpUi::Error(const platform::FileOperation&, const std::string&) {}

}  // namespace quorvel
