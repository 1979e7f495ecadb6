#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "platform/paths.h"
#include "platform/posix/pid_fd.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace quorvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

/// Collects pid without blocking. True when it has ended (or is no longer
/// ours to collect, which happens when SIGCHLD is ignored).
bool TryCollect(int pid, int* status, bool* statusKnown) {
    for (;;) {
        int st = 0;
        pid_t rc = ::waitpid(pid, &st, WNOHANG);
        if (rc == pid) {
            *status = st;
            *statusKnown = true;
            return true;
        }
        if (rc == 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        *statusKnown = false;
        return true;  // ECHILD: nothing left to collect
    }
}

/// Collects the children that nobody waits for. It sleeps in poll() on their
/// process descriptors plus one event descriptor that announces new ones, and
/// waits only for those pids, never for "any child".
class Reaper {
public:
    static Reaper& Instance() {
        static Reaper reaper;  // ended after main, when no child is started any more
        return reaper;
    }

    ~Reaper() {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        Wake();
        m_thread = Thread();
    }

    void Adopt(int pid, UniqueFd pidfd) {
        int status = 0;
        bool known = false;
        if (TryCollect(pid, &status, &known)) {
            return;  // already over: nothing to hand over
        }
        {
            std::lock_guard lock(m_mutex);
            m_children.push_back(Child{pid, std::move(pidfd)});
            m_pending.store(m_children.size(), std::memory_order_release);
            if (!m_thread.Joinable()) {
                m_thread = Thread([this] { Run(); });
            }
        }
        Wake();
    }

    std::size_t Pending() const { return m_pending.load(std::memory_order_acquire); }

private:
    struct Child {
        int pid;
        UniqueFd pidfd;
    };

    Reaper() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void Wake() {
        if (m_wake) {
            std::uint64_t one = 1;
            ssize_t ignored = ::write(m_wake.Get(), &one, sizeof one);
            (void)ignored;
        }
    }

    void Run() {
        std::vector<pollfd> fds;
        std::vector<int> pids;  // pids[i] belongs to fds[i + 1]
        for (;;) {
            bool anyWithoutFd = false;
            fds.clear();
            pids.clear();
            fds.push_back(pollfd{m_wake.Get(), POLLIN, 0});
            {
                std::lock_guard lock(m_mutex);
                if (m_quit) {
                    return;  // what is left is collected by init when we end
                }
                for (const Child& child : m_children) {
                    if (child.pidfd) {
                        fds.push_back(pollfd{child.pidfd.Get(), POLLIN, 0});
                        pids.push_back(child.pid);
                    } else {
                        anyWithoutFd = true;
                    }
                }
            }
            // Without process descriptors (or without the event descriptor)
            // a modest poll interval still collects every child.
            const int timeout = (anyWithoutFd || !m_wake) ? 100 : -1;
            int rc = ::poll(fds.data(), fds.size(), timeout);
            if (rc < 0 && errno != EINTR) {
                ::usleep(100000);
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t value = 0;
                ssize_t ignored = ::read(m_wake.Get(), &value, sizeof value);
                (void)ignored;
            }
            std::unordered_set<int> ready;
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents != 0) {
                    ready.insert(pids[i - 1]);
                }
            }
            std::lock_guard lock(m_mutex);
            auto done = [&](const Child& child) {
                if (child.pidfd && !ready.contains(child.pid)) {
                    return false;
                }
                int status = 0;
                bool known = false;
                return TryCollect(child.pid, &status, &known);
            };
            m_children.erase(std::remove_if(m_children.begin(), m_children.end(), done),
                             m_children.end());
            m_pending.store(m_children.size(), std::memory_order_release);
        }
    }

    UniqueFd m_wake;
    std::mutex m_mutex;
    std::vector<Child> m_children;
    std::atomic<std::size_t> m_pending{0};
    bool m_quit = false;
    Thread m_thread;  // last: it goes first, before what it uses
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9');
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

/// "scheme:" with a scheme of two characters or more, so a drive letter is
/// not taken for one.
bool LooksLikeUrl(std::string_view text) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 2 || !IsNameStart(text[0]) || text[0] == '_') {
        return false;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!(IsNameChar(c) && c != '_') && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

std::string MakeAbsolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

/// The path a relative command or document names, seen from directory.
std::string Resolve(std::string_view name, std::string_view directory) {
    std::string path(name);
    if (!path.empty() && path[0] != '/' && !directory.empty()) {
        path = std::string(directory) + "/" + path;
    }
    return MakeAbsolute(path);
}

}  // namespace

ChildProcess::ChildProcess(int pid, UniqueFd pidfd) : m_pid(pid), m_pidfd(std::move(pidfd)) {}

ChildProcess::~ChildProcess() {
    Release();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_pidfd(std::move(other.m_pidfd)),
      m_ended(std::exchange(other.m_ended, false)),
      m_status(std::exchange(other.m_status, 0)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        m_pid = std::exchange(other.m_pid, -1);
        m_pidfd = std::move(other.m_pidfd);
        m_ended = std::exchange(other.m_ended, false);
        m_status = std::exchange(other.m_status, 0);
    }
    return *this;
}

void ChildProcess::Release() {
    if (m_pid > 0 && !m_ended) {
        Reaper::Instance().Adopt(m_pid, std::move(m_pidfd));
    }
    m_pid = -1;
    m_pidfd.Reset();
    m_ended = false;
    m_status = 0;
}

namespace {
// m_status holds the raw wait status; this marks a status we never saw.
constexpr int kUnknownStatus = -1;
}  // namespace

bool ChildProcess::Wait(std::optional<std::chrono::milliseconds> timeout) {
    if (m_pid <= 0) {
        return false;
    }
    if (m_ended) {
        return true;
    }
    auto collected = [this] {
        int status = 0;
        bool known = false;
        if (!TryCollect(m_pid, &status, &known)) {
            return false;
        }
        m_ended = true;
        m_status = known ? status : kUnknownStatus;
        m_pidfd.Reset();
        return true;
    };
    if (!timeout) {
        for (;;) {
            int status = 0;
            pid_t rc = ::waitpid(m_pid, &status, 0);
            if (rc == m_pid) {
                m_ended = true;
                m_status = status;
                m_pidfd.Reset();
                return true;
            }
            if (rc < 0 && errno != EINTR) {
                m_ended = true;
                m_status = kUnknownStatus;
                m_pidfd.Reset();
                return true;
            }
        }
    }
    const Clock::time_point deadline = Clock::now() + *timeout;
    if (m_pidfd) {
        for (;;) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            int ms = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
            pollfd pfd{m_pidfd.Get(), POLLIN, 0};
            int rc = ::poll(&pfd, 1, ms);
            if (rc > 0) {
                if (collected()) {
                    return true;
                }
                break;  // unexpected: fall back to polling the status
            }
            if (rc == 0) {
                return collected();
            }
            if (errno != EINTR) {
                break;
            }
        }
    }
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (collected()) {
            return true;
        }
        auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        std::this_thread::sleep_for(std::min(pause, std::max(left, std::chrono::milliseconds(1))));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

std::optional<int> ChildProcess::ExitCode() const {
    if (!m_ended || m_status == kUnknownStatus || !WIFEXITED(m_status)) {
        return std::nullopt;
    }
    return WEXITSTATUS(m_status);
}

std::optional<int> ChildProcess::TermSignal() const {
    if (!m_ended || m_status == kUnknownStatus || !WIFSIGNALED(m_status)) {
        return std::nullopt;
    }
    return WTERMSIG(m_status);
}

void ChildProcess::Terminate() {
    if (m_pid <= 0 || m_ended) {
        return;
    }
    // The child is not collected yet, so its pid and group id still name it.
    if (::kill(-m_pid, SIGKILL) != 0) {
        ::kill(m_pid, SIGKILL);
    }
    // A killed process ends promptly unless it is stuck in the kernel; then
    // the reaper takes it over when the handle goes away.
    Wait(std::chrono::seconds(5));
}

ChildProcess Spawn(const std::string& program, const std::vector<std::string>& argv,
                   const SpawnOptions& options) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return {};
    }
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return {};
    }
    struct Cleanup {
        posix_spawn_file_actions_t* actions;
        posix_spawnattr_t* attr;
        ~Cleanup() {
            posix_spawn_file_actions_destroy(actions);
            posix_spawnattr_destroy(attr);
        }
    } cleanup{&actions, &attr};

    bool ok = true;
    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    ok = ok && posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                   POSIX_SPAWN_SETSIGDEF) == 0;
    ok = ok && posix_spawnattr_setpgroup(&attr, 0) == 0;
    ok = ok && posix_spawnattr_setsigmask(&attr, &empty) == 0;
    ok = ok && posix_spawnattr_setsigdefault(&attr, &all) == 0;
    if (!options.directory.empty()) {
        ok = ok && posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str()) == 0;
    }
    if (options.hidden) {
        ok = ok && posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
        ok = ok && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0;
        ok = ok && posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    }
    // Our descriptors are close-on-exec already; this also covers any that a
    // library opened without the flag.
    ok = ok && posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
    if (!ok) {
        return {};
    }

    std::vector<char*> args;
    args.reserve(argv.size() + 2);
    if (argv.empty()) {
        args.push_back(const_cast<char*>(program.c_str()));
    }
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), environ) != 0 ||
        pid <= 0) {
        return {};
    }
    return ChildProcess(pid, OpenPidFd(pid));
}

ChildProcess ShellExecute(std::string_view command, std::string_view parameters,
                          std::string_view directory, ShowMode show,
                          const std::vector<bool>* literal) {
    const std::string cmd = ExpandEnvironmentReferences(command);
    if (cmd.empty()) {
        return {};
    }
    SpawnOptions options;
    options.directory = ExpandEnvironmentReferences(directory);
    options.hidden = show == ShowMode::Hidden;

    if (auto program = FindExecutable(cmd, options.directory)) {
        std::vector<std::string> argv = SplitShellWords(parameters, literal);
        argv.insert(argv.begin(), cmd);
        return Spawn(*program, argv, options);
    }

    std::string target;
    if (LooksLikeUrl(cmd)) {
        target = cmd;
    } else {
        target = Resolve(cmd, options.directory);
        struct stat st {};
        if (::stat(target.c_str(), &st) != 0) {
            return {};  // nothing to open
        }
    }
    auto opener = FindExecutable("xdg-open");
    if (!opener) {
        return {};
    }
    return Spawn(*opener, {"xdg-open", target}, options);
}

std::vector<std::string> SplitShellWords(std::string_view text, const std::vector<bool>* literal) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    const std::size_t n = text.size();
    auto plain = [&](std::size_t at) {
        return literal != nullptr && at < literal->size() && (*literal)[at];
    };
    std::size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (plain(i)) {
            word += c;
            inWord = true;
            ++i;
        } else if (IsBlank(c)) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            ++i;
        } else if (c == '\'') {
            inWord = true;
            ++i;
            // Up to the template's own closing quote; text put in by a macro
            // is kept whatever it holds.
            while (i < n && (text[i] != '\'' || plain(i))) {
                word += text[i++];
            }
            if (i < n) {
                ++i;
            }
        } else if (c == '"') {
            inWord = true;
            ++i;
            while (i < n && (text[i] != '"' || plain(i))) {
                if (text[i] == '\\' && !plain(i) && i + 1 < n && !plain(i + 1) &&
                    std::string_view("$`\"\\\n").find(text[i + 1]) != std::string_view::npos) {
                    if (text[i + 1] != '\n') {
                        word += text[i + 1];
                    }
                    i += 2;
                } else {
                    word += text[i++];
                }
            }
            if (i < n) {
                ++i;  // the closing quote
            }
        } else if (c == '\\') {
            if (i + 1 >= n) {
                word += c;  // a lone final backslash stays
                inWord = true;
                ++i;
            } else if (text[i + 1] == '\n' && !plain(i + 1)) {
                i += 2;  // line continuation
            } else {
                word += text[i + 1];
                inWord = true;
                i += 2;
            }
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string ExpandEnvironmentReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    if (!text.empty() && text[0] == '~' && (text.size() == 1 || text[1] == '/')) {
        out += HomeDirectory();
        i = 1;
    }
    while (i < text.size()) {
        const char c = text[i];
        if (c != '$' || i + 1 >= text.size()) {
            out += c;
            ++i;
            continue;
        }
        std::size_t start;
        std::size_t end;
        std::size_t next;
        if (text[i + 1] == '{') {
            start = i + 2;
            end = start;
            while (end < text.size() && IsNameChar(text[end])) {
                ++end;
            }
            if (end == start || end >= text.size() || text[end] != '}' ||
                !IsNameStart(text[start])) {
                out += c;
                ++i;
                continue;
            }
            next = end + 1;
        } else if (IsNameStart(text[i + 1])) {
            start = i + 1;
            end = start;
            while (end < text.size() && IsNameChar(text[end])) {
                ++end;
            }
            next = end;
        } else {
            out += c;
            ++i;
            continue;
        }
        if (auto value = GetEnvironment(std::string(text.substr(start, end - start)))) {
            out += *value;
        }
        i = next;
    }
    return out;
}

std::optional<std::string> FindExecutable(std::string_view command, std::string_view directory) {
    if (command.empty()) {
        return std::nullopt;
    }
    if (command.find('/') != std::string_view::npos) {
        std::string path = Resolve(command, directory);
        if (IsExecutableFile(path)) {
            return path;
        }
        return std::nullopt;
    }
    std::string searchPath = GetEnvironment("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    std::size_t start = 0;
    for (;;) {
        std::size_t colon = searchPath.find(':', start);
        const std::string_view entry = std::string_view(searchPath).substr(
            start, colon == std::string::npos ? std::string::npos : colon - start);
        // An empty entry means the current directory.
        std::string candidate = entry.empty() ? std::string(".") : std::string(entry);
        candidate += '/';
        candidate += command;
        if (IsExecutableFile(candidate)) {
            return MakeAbsolute(candidate);
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return std::nullopt;
}

std::size_t ChildrenAwaitingReaper() {
    return Reaper::Instance().Pending();
}

}  // namespace quorvel::platform
