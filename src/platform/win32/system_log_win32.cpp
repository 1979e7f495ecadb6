#include <mutex>

#include "platform/system_log.h"
#include "platform/win32/win32_util.h"

// The Application event log, under the service's own name as its source.
// The fields go into the text, one "NAME=value" line each.

namespace quorvel::platform {

namespace {

class EventLog : public SystemLog {
public:
    explicit EventLog(HANDLE source) : m_source(source) {}
    ~EventLog() override { ::DeregisterEventSource(m_source); }

    bool Write(Priority priority, const std::string& message,
               const std::vector<Field>& fields) override {
        std::string text = message;
        for (const Field& f : fields) {
            text += "\r\n" + f.name + "=" + f.value;
        }
        const std::wstring wide = win32::Widen(text);
        LPCWSTR strings[] = {wide.c_str()};
        const WORD type = priority == Priority::Error     ? EVENTLOG_ERROR_TYPE
                          : priority == Priority::Warning ? EVENTLOG_WARNING_TYPE
                                                          : EVENTLOG_INFORMATION_TYPE;
        std::lock_guard lock(m_mutex);
        return ::ReportEventW(m_source, type, 0, 1, nullptr, 1, 0, strings, nullptr) != FALSE;
    }

private:
    HANDLE m_source;
    std::mutex m_mutex;
};

}  // namespace

std::unique_ptr<SystemLog> SystemLog::Open(const std::string& identifier) {
    HANDLE source = ::RegisterEventSourceW(nullptr, win32::Widen(identifier).c_str());
    if (source == nullptr) {
        return nullptr;
    }
    return std::make_unique<EventLog>(source);
}

}  // namespace quorvel::platform
