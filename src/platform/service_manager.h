#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::platform {

/// One word of a unit's command line, quoted so that the service manager
/// hands it to the program unchanged: enclosed in double quotes, with
/// backslash, double quote and control characters escaped and "%" doubled.
/// "$" is doubled too, except in the program path, which is never subject to
/// variable substitution.
std::string QuoteUnitWord(std::string_view word, bool programPath = false);

/// A service name as the system's service manager spells it: lower case
/// for systemd units, as given for Windows.
std::string SystemServiceName(std::string_view name);

/// What an installed service runs.
struct ServiceUnit {
    std::string name;                  ///< unit name without ".service"
    std::string description;           ///< the Description= line
    std::vector<std::string> command;  ///< absolute program path, then arguments
    /// Run before each start (ExecStartPre=, where the manager has it); a
    /// failure stops the start. Nothing when empty.
    std::vector<std::string> checkCommand;
};

/// The text of the unit file: a notify-type service without restart policy,
/// wanted by the multi-user target (system) or the default target (user)
/// once someone enables it.
std::string UnitFileText(const ServiceUnit& unit, bool userManager);

/// The directory that holds installed units: /etc/systemd/system for the
/// system manager, $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user)
/// for the user's manager. $QUORVEL_SYSTEMD_UNIT_DIR replaces both, for
/// staged installs and tests. No trailing separator.
std::string UnitDirectory(bool userManager);

/// One change to the service manager's environment: set name to value, or
/// unset name when there is no value.
struct EnvironmentChange {
    std::string name;
    std::optional<std::string> value;
};

/// Runs a program found on PATH with the given arguments (never through a
/// shell), with the process signals unblocked and standard output discarded
/// (standard error too when quiet). Waits at most timeout, then kills it.
/// Answers the exit status, or -1 when it could not be started, was killed
/// or timed out.
int RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               bool quiet = false);

/// Installs, removes, starts and stops services of one service manager
/// through systemctl: the system manager as root, else the user's manager
/// (--user); a host name sends start and stop to that host's system manager
/// (--host=host).
class ServiceManager {
public:
    ServiceManager(bool userManager, std::string host = {});

    /// Writes the unit file (mode 0644, atomically) and reloads the manager.
    /// Fails when the unit file exists already or the manager cannot reload;
    /// in the latter case the new file is removed again.
    bool Install(const ServiceUnit& unit);
    /// Stops the unit (result ignored), unsets the given environment
    /// variables (result ignored), deletes the unit file and reloads. Fails
    /// when there is no unit file or it cannot be deleted or the reload fails.
    bool Remove(const std::string& name, const std::vector<std::string>& unsetVariables = {});
    /// Applies the environment changes to the manager, then starts the unit.
    /// Fails, changing nothing, when the unit is running already. (Windows'
    /// service manager has no environment: the values that are set become
    /// the service's start parameters.)
    bool Start(const std::string& name, const std::vector<EnvironmentChange>& environment = {});
    bool Stop(const std::string& name);

    /// The systemctl arguments that select the manager ("--user",
    /// "--host=...").
    std::vector<std::string> ManagerArguments() const;
    /// How long one systemctl call may take.
    void SetTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

private:
    bool Systemctl(const std::vector<std::string>& arguments, bool quiet = false) const;
    std::string UnitPath(const std::string& name) const;

    bool m_userManager;
    std::string m_host;
    std::chrono::milliseconds m_timeout{std::chrono::seconds(150)};
};

/// Sends status notifications to the service manager over the datagram
/// socket named by $NOTIFY_SOCKET (a path, or "@name" for an abstract
/// socket).
class ServiceNotifier {
public:
    /// A notifier for $NOTIFY_SOCKET; nothing when the variable is unset or
    /// names no usable socket.
    static std::unique_ptr<ServiceNotifier> FromEnvironment();
    /// A notifier for the given address; Valid() tells whether it can send.
    explicit ServiceNotifier(const std::string& address);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    bool Valid() const;
    /// What the service manager handed the service when it started it
    /// (Windows: the start parameters; empty elsewhere).
    std::vector<std::string> StartArguments() const;
    /// The service's own code for why it ends, reported when it stops
    /// (Windows: the service-specific exit code; elsewhere the process's
    /// exit status tells).
    void SetExitStatus(int code);
    /// Sends one message of newline-separated assignments ("READY=1",
    /// "STATUS=..."). False when it could not be sent.
    bool Notify(std::string_view state);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
