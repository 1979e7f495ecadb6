#include "core/activity_log.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "core/text_util.h"

namespace quorvel {

namespace {

struct Sinks {
    std::mutex mutex;
    std::vector<std::shared_ptr<LogSink>> attached;
};

Sinks& TheSinks() {
    static Sinks sinks;
    return sinks;
}

}  // namespace

std::string FormatLogTime(DateTime time) {
    const auto parts = time.Decode();
    if (!parts) {
        return "??.??.???? ??:??:??";
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%02d.%02d.%04d %02d:%02d:%02d", parts->day, parts->month,
                  parts->year, parts->hour, parts->minute, parts->second);
    return text;
}

void ActivityLog::Report(LogRecord record) {
    if (record.time.Days() == 0.0) {
        record.time = DateTime::Now();
    }
    std::vector<std::shared_ptr<LogSink>> sinks;
    {
        Sinks& s = TheSinks();
        std::lock_guard lock(s.mutex);
        sinks = s.attached;
    }
    for (const auto& sink : sinks) {
        sink->Write(record);
    }
}

void ActivityLog::Report(LogLevel level, std::string message) {
    LogRecord record;
    record.level = level;
    record.message = std::move(message);
    Report(std::move(record));
}

ActivityLog::Attachment::Attachment(std::shared_ptr<LogSink> sink) : m_sink(std::move(sink)) {
    if (m_sink) {
        Sinks& s = TheSinks();
        std::lock_guard lock(s.mutex);
        s.attached.push_back(m_sink);
    }
}

ActivityLog::Attachment::~Attachment() {
    if (m_sink) {
        Sinks& s = TheSinks();
        std::lock_guard lock(s.mutex);
        std::erase(s.attached, m_sink);
    }
}

ActivityLog::Attachment::Attachment(Attachment&& other) noexcept
    : m_sink(std::move(other.m_sink)) {}

ActivityLog::Attachment& ActivityLog::Attachment::operator=(Attachment&& other) noexcept {
    if (this != &other) {
        Attachment old(std::move(*this));
        m_sink = std::move(other.m_sink);
    }
    return *this;
}

std::string_view LogLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Error:
            return "error";
        case LogLevel::Warning:
            return "warning";
        case LogLevel::Info:
            break;
    }
    return "info";
}

std::string FormatLogLine(const LogRecord& record, bool withTime) {
    std::string line = withTime ? FormatLogTime(record.time) + " " : std::string();
    line += LogLevelName(record.level);
    if (record.item > 0 || !record.itemName.empty()) {
        line += " | item ";
        line += std::to_string(record.item);
        if (!record.itemName.empty()) {
            line += ' ';
            line += record.itemName;
        }
    }
    if (!record.action.empty()) {
        line += " | ";
        line += record.action;
    }
    line += " | ";
    line += record.message;
    if (record.seconds >= 0) {
        char took[32];
        std::snprintf(took, sizeof(took), " (%.3f s)", record.seconds);
        line += took;
    }
    // A check of a large tree may concern thousands of files: the line names
    // the first few and counts the rest.
    constexpr std::size_t kFilesShown = 10;
    const std::size_t shown = std::min(record.files.size(), kFilesShown);
    for (std::size_t i = 0; i < shown; ++i) {
        line += i == 0 ? " | " : ", ";
        line += record.files[i];
    }
    if (record.files.size() > shown) {
        line += " and " + std::to_string(record.files.size() - shown) + " more";
    }
    return EscapeControls(line);
}

}  // namespace quorvel
