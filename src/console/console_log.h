#pragma once

#include <memory>

#include "core/activity_log.h"
#include "platform/file_operation.h"
#include "platform/system_log.h"

namespace quorvel {

/// The activity log of the console program: one line a record on standard
/// error, every control character of its data escaped.
class ConsoleLog : public LogSink {
public:
    /// errorsOnly keeps only the records of failures.
    explicit ConsoleLog(int fd, bool errorsOnly = false);
    void Write(const LogRecord& record) override;

private:
    int m_fd;
    bool m_errorsOnly;
};

/// The activity log of the service: each record in the system's log (the
/// journal, with the fields QUORVEL_ITEM, QUORVEL_ITEM_NUMBER,
/// QUORVEL_ACTION, QUORVEL_FILE (one a file), QUORVEL_SECONDS and the
/// record's PRIORITY), so the usual journal tools can filter by item.
class SystemLogSink : public LogSink {
public:
    explicit SystemLogSink(std::unique_ptr<platform::SystemLog> log);
    void Write(const LogRecord& record) override;

private:
    std::unique_ptr<platform::SystemLog> m_log;
};

/// The console's file operations: they ask nothing and replace nothing where
/// a question would be asked; their errors reach the user through the log.
class LoggedFileOpUi : public platform::ConsoleFileOpUi {
public:
    void Error(const platform::FileOperation& operation, const std::string& message) override;
};

}  // namespace quorvel
