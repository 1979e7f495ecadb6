#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/date_time.h"

namespace quorvel {

/// How much a record of the activity log matters.
enum class LogLevel : std::uint8_t { Info = 0, Warning = 1, Error = 2 };

/// One record of the activity log: a check that acted, an action that ran,
/// or something that failed.
struct LogRecord {
    DateTime time;  ///< when it happened; Report fills in the present moment when 0
    LogLevel level = LogLevel::Info;
    int item = 0;                    ///< the item's position in its list, from 1; 0: none
    std::string itemName;            ///< the item's "FileName" as configured
    std::string action;              ///< the action's description; empty for a check
    std::vector<std::string> files;  ///< the files concerned
    std::string message;             ///< what happened, as a sentence
    double seconds = -1.0;           ///< how long it took; negative when not measured
};

/// Where records go (standard error, the journal, a window). Write is called
/// from any thread, also from several at once.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Write(const LogRecord& record) = 0;
};

/// The process's activity log: records go to every sink attached at the
/// time. Thread-safe; without a sink a record costs a lock and nothing more.
class ActivityLog {
public:
    static void Report(LogRecord record);
    /// A record of the program itself (no item, no action).
    static void Report(LogLevel level, std::string message);

    /// Attaches a sink for the lifetime of the returned object.
    class Attachment {
    public:
        Attachment() = default;
        explicit Attachment(std::shared_ptr<LogSink> sink);
        ~Attachment();
        Attachment(Attachment&& other) noexcept;
        Attachment& operator=(Attachment&& other) noexcept;
        Attachment(const Attachment&) = delete;
        Attachment& operator=(const Attachment&) = delete;

    private:
        std::shared_ptr<LogSink> m_sink;
    };
};

/// "dd.mm.yyyy hh:nn:ss".
std::string FormatLogTime(DateTime time);

/// "error", "warning" or "info".
std::string_view LogLevelName(LogLevel level);

/// The record as one line of text without its line ending, every control
/// character of its data escaped: time (unless left out), level, item,
/// action, message, files.
std::string FormatLogLine(const LogRecord& record, bool withTime = true);

}  // namespace quorvel
