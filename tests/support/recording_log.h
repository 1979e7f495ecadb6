#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/activity_log.h"

namespace quorvel::test {

/// Keeps the activity log's records while it lives.
class RecordingLog {
public:
    RecordingLog() : m_sink(std::make_shared<Sink>()), m_attachment(m_sink) {}

    std::vector<LogRecord> Records() const {
        std::lock_guard lock(m_sink->mutex);
        return m_sink->records;
    }
    /// The formatted lines of the records at the level or above.
    std::vector<std::string> Lines(LogLevel atLeast = LogLevel::Info) const {
        std::vector<std::string> lines;
        for (const LogRecord& r : Records()) {
            if (r.level >= atLeast) {
                lines.push_back(FormatLogLine(r));
            }
        }
        return lines;
    }
    /// All error lines, one after the other.
    std::string Errors() const {
        std::string all;
        for (const std::string& line : Lines(LogLevel::Error)) {
            all += line + "\n";
        }
        return all;
    }

private:
    struct Sink : LogSink {
        void Write(const LogRecord& record) override {
            std::lock_guard lock(mutex);
            records.push_back(record);
        }
        mutable std::mutex mutex;
        std::vector<LogRecord> records;
    };
    std::shared_ptr<Sink> m_sink;
    ActivityLog::Attachment m_attachment;
};

}  // namespace quorvel::test
