#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quorvel::platform {

/// The system's log for a service: the journal on Linux, through its native
/// protocol so that records keep their fields (journalctl can filter by
/// them); the Application event log on Windows.
class SystemLog {
public:
    /// The journal's priorities (syslog levels).
    enum class Priority { Error = 3, Warning = 4, Info = 6 };

    /// A field of a record: upper-case letters, digits and "_", not
    /// starting with "_"; the value may hold any bytes.
    struct Field {
        std::string name;
        std::string value;
    };

    /// The log records go to, tagged with identifier; nothing when the
    /// system has none to reach (no journal socket). The journal's socket
    /// is /run/systemd/journal/socket unless $QUORVEL_JOURNAL_SOCKET names
    /// another (tests).
    static std::unique_ptr<SystemLog> Open(const std::string& identifier);

    virtual ~SystemLog() = default;
    /// Hands one record over; false when the system did not take it.
    virtual bool Write(Priority priority, const std::string& message,
                       const std::vector<Field>& fields) = 0;
};

}  // namespace quorvel::platform
