#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace quorvel::platform {

std::string SystemServiceName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

std::string QuoteUnitWord(std::string_view word, bool programPath) {
    std::string out = "\"";
    for (char c : word) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '%':
                out += "%%";
                break;
            case '$':
                out += programPath ? "$" : "$$";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", u);
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

namespace {

// A command line as the unit's Exec lines read it.
std::string ExecLine(const std::vector<std::string>& command) {
    std::string execStart;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (i > 0) {
            execStart += ' ';
        }
        const std::string& word = command[i];
        // Plain switches stay readable; anything else is quoted.
        bool plain = i > 0 && !word.empty() &&
                     word.find_first_not_of(
                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                         "0123456789/-_.=") == std::string::npos;
        execStart += plain ? word : QuoteUnitWord(word, i == 0);
    }
    return execStart;
}

}  // namespace

std::string UnitFileText(const ServiceUnit& unit, bool userManager) {
    std::string description;
    for (char c : unit.description) {
        if (c == '%') {
            description += "%%";
        } else if (c != '\n' && c != '\r') {
            description += c;
        }
    }
    std::string text;
    text += "[Unit]\n";
    text += "Description=" + description + "\n";
    text += "\n";
    text += "[Service]\n";
    text += "Type=notify\n";
    if (!unit.checkCommand.empty()) {
        text += "ExecStartPre=" + ExecLine(unit.checkCommand) + "\n";
    }
    text += "ExecStart=" + ExecLine(unit.command) + "\n";
    text += "Restart=no\n";
    text += "\n";
    text += "[Install]\n";
    text +=
        std::string("WantedBy=") + (userManager ? "default.target" : "multi-user.target") + "\n";
    return text;
}

std::string UnitDirectory(bool userManager) {
    if (auto dir = GetEnvironment("QUORVEL_SYSTEMD_UNIT_DIR"); dir && !dir->empty()) {
        while (dir->size() > 1 && dir->back() == '/') {
            dir->pop_back();
        }
        return *dir;
    }
    if (!userManager) {
        return "/etc/systemd/system";
    }
    if (auto config = GetEnvironment("XDG_CONFIG_HOME");
        config && !config->empty() && (*config)[0] == '/') {
        return *config + "/systemd/user";
    }
    return HomeDirectory() + "/.config/systemd/user";
}

namespace {

// Owns the spawn attributes and file actions until the child is started.
class SpawnSetup {
public:
    SpawnSetup() {
        m_attrOk = ::posix_spawnattr_init(&m_attr) == 0;
        m_actionsOk = ::posix_spawn_file_actions_init(&m_actions) == 0;
    }
    ~SpawnSetup() {
        if (m_attrOk) {
            ::posix_spawnattr_destroy(&m_attr);
        }
        if (m_actionsOk) {
            ::posix_spawn_file_actions_destroy(&m_actions);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Ok() const { return m_attrOk && m_actionsOk; }
    posix_spawnattr_t* Attr() { return &m_attr; }
    posix_spawn_file_actions_t* Actions() { return &m_actions; }

private:
    posix_spawnattr_t m_attr{};
    posix_spawn_file_actions_t m_actions{};
    bool m_attrOk = false;
    bool m_actionsOk = false;
};

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return -1;
}

// Waits for the child with a deadline; kills it when the deadline passes.
int WaitForChild(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return DecodeStatus(status);
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (pidFd) {
            pollfd fd{pidFd.Get(), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
        } else {
            // Kernels without pidfd: look again shortly.
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20)));
        }
    }
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               bool quiet) {
    if (argv.empty() || argv[0].empty()) {
        return -1;
    }
    SpawnSetup setup;
    if (!setup.Ok()) {
        return -1;
    }
    // The programs run blocks the signals it takes on its own thread; the
    // child gets the ordinary mask and dispositions back.
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE}) {
        sigaddset(&defaults, sig);
    }
    ::posix_spawnattr_setsigmask(setup.Attr(), &empty);
    ::posix_spawnattr_setsigdefault(setup.Attr(), &defaults);
    ::posix_spawnattr_setflags(setup.Attr(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    ::posix_spawn_file_actions_addopen(setup.Actions(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (quiet) {
        ::posix_spawn_file_actions_addopen(setup.Actions(), STDERR_FILENO, "/dev/null", O_WRONLY,
                                           0);
    }

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], setup.Actions(), setup.Attr(), args.data(), environ) != 0) {
        return -1;
    }
    return WaitForChild(pid, timeout);
}

ServiceManager::ServiceManager(bool userManager, std::string host)
    : m_userManager(userManager), m_host(std::move(host)) {}

std::vector<std::string> ServiceManager::ManagerArguments() const {
    // A remote user manager cannot be reached; a host always means its
    // system manager.
    if (!m_host.empty()) {
        return {"--host=" + m_host};
    }
    if (m_userManager) {
        return {"--user"};
    }
    return {};
}

bool ServiceManager::Systemctl(const std::vector<std::string>& arguments, bool quiet) const {
    std::vector<std::string> argv{"systemctl"};
    for (auto& a : ManagerArguments()) {
        argv.push_back(a);
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv, m_timeout, quiet) == 0;
}

std::string ServiceManager::UnitPath(const std::string& name) const {
    return UnitDirectory(m_userManager) + "/" + name + ".service";
}

bool ServiceManager::Install(const ServiceUnit& unit) {
    // systemd takes no escape in the program path of ExecStart: a path
    // holding a quote, a backslash or a control character would give a
    // unit the manager refuses, so it is refused here.
    if (unit.command.empty() ||
        std::any_of(unit.command.front().begin(), unit.command.front().end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return c == '"' || c == '\\' || u < 0x20 || u == 0x7f;
        })) {
        return false;
    }
    std::string path = UnitPath(unit.name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
        return false;
    }
    if (!CreateDirectories(UnitDirectory(m_userManager), 0755)) {
        return false;
    }
    if (!WriteFileAtomically(path, UnitFileText(unit, m_userManager), 0644)) {
        return false;
    }
    if (!Systemctl({"daemon-reload"})) {
        // Leave nothing behind that the manager never saw, so a later
        // install can try again.
        RemoveFile(path);
        return false;
    }
    return true;
}

bool ServiceManager::Remove(const std::string& name,
                            const std::vector<std::string>& unsetVariables) {
    std::string path = UnitPath(name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return false;
    }
    Systemctl({"stop", name + ".service"}, true);
    // An enabled unit leaves its link in the target's wants; a later install
    // would come back enabled.
    Systemctl({"disable", "--quiet", name + ".service"}, true);
    if (!unsetVariables.empty()) {
        std::vector<std::string> args{"unset-environment"};
        args.insert(args.end(), unsetVariables.begin(), unsetVariables.end());
        Systemctl(args, true);
    }
    if (!RemoveFile(path)) {
        return false;
    }
    return Systemctl({"daemon-reload"});
}

bool ServiceManager::Start(const std::string& name,
                           const std::vector<EnvironmentChange>& environment) {
    // A running service keeps its configuration: starting it again would
    // only hand the next start another one and report success for nothing.
    if (Systemctl({"is-active", "--quiet", name + ".service"}, true)) {
        return false;
    }
    std::vector<std::string> set{"set-environment"};
    std::vector<std::string> unset{"unset-environment"};
    for (const auto& change : environment) {
        if (change.value) {
            set.push_back(change.name + "=" + *change.value);
        } else {
            unset.push_back(change.name);
        }
    }
    if (set.size() > 1 && !Systemctl(set)) {
        return false;
    }
    if (unset.size() > 1 && !Systemctl(unset)) {
        return false;
    }
    return Systemctl({"start", name + ".service"});
}

bool ServiceManager::Stop(const std::string& name) {
    return Systemctl({"stop", name + ".service"});
}

struct ServiceNotifier::Impl {
    UniqueFd socket;
    sockaddr_un address{};
    socklen_t length = 0;
};

std::unique_ptr<ServiceNotifier> ServiceNotifier::FromEnvironment() {
    auto address = GetEnvironment("NOTIFY_SOCKET");
    if (!address || address->empty()) {
        return nullptr;
    }
    auto notifier = std::make_unique<ServiceNotifier>(*address);
    if (!notifier->Valid()) {
        return nullptr;
    }
    return notifier;
}

ServiceNotifier::ServiceNotifier(const std::string& address) : m_impl(std::make_unique<Impl>()) {
    if (address.size() < 2 || (address[0] != '/' && address[0] != '@') ||
        address.size() > sizeof(m_impl->address.sun_path)) {
        return;
    }
    if (address[0] == '/' && address.size() >= sizeof(m_impl->address.sun_path)) {
        return;  // no room for the terminating zero
    }
    m_impl->address.sun_family = AF_UNIX;
    std::memcpy(m_impl->address.sun_path, address.data(), address.size());
    if (address[0] == '@') {
        m_impl->address.sun_path[0] = '\0';  // abstract name: exactly its bytes
        m_impl->length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    } else {
        m_impl->length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() + 1);
    }
    m_impl->socket.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

ServiceNotifier::~ServiceNotifier() = default;

std::vector<std::string> ServiceNotifier::StartArguments() const {
    return {};
}

void ServiceNotifier::SetExitStatus(int /*code*/) {}

bool ServiceNotifier::Valid() const {
    return m_impl->socket.Valid() && m_impl->length > 0;
}

bool ServiceNotifier::Notify(std::string_view state) {
    if (!Valid()) {
        return false;
    }
    for (;;) {
        ssize_t n = ::sendto(m_impl->socket.Get(), state.data(), state.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&m_impl->address), m_impl->length);
        if (n >= 0) {
            return static_cast<std::size_t>(n) == state.size();
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

}  // namespace quorvel::platform
