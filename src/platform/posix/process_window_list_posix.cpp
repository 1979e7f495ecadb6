#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/dir_handle.h"
#include "platform/posix/pid_fd.h"
#include "platform/posix/window_list_backends.h"

namespace quorvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The start time of a process (clock ticks since boot) and whether it has
// already ended (a zombie); nothing when it does not exist.
struct ProcState {
    unsigned long long start = 0;
    bool ended = false;
};

std::optional<ProcState> ReadProcState(int pid) {
    auto stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) {
        return std::nullopt;
    }
    auto close = stat->rfind(')');  // the command name may hold blanks and parentheses
    if (close == std::string::npos || close + 2 >= stat->size()) {
        return std::nullopt;
    }
    ProcState state;
    const char* p = stat->c_str() + close + 2;
    state.ended = *p == 'Z' || *p == 'X';
    // Fields after the name start with field 3 (state); the start time is field 22.
    int field = 3;
    while (*p != '\0' && field < 22) {
        if (*p == ' ') {
            ++field;
        }
        ++p;
    }
    state.start = std::strtoull(p, nullptr, 10);
    return state;
}

// Waits until the process has ended or the time is up.
void WaitForEnd(int pid, const UniqueFd& pidfd, unsigned long long start,
                std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    while (Clock::now() < deadline) {
        if (pidfd) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            struct pollfd p = {pidfd.Get(), POLLIN, 0};
            int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (n != 0) {
                return;
            }
            continue;
        }
        auto state = ReadProcState(pid);
        if (!state || state->ended || state->start != start) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class ProcessWindowList : public WindowList {
public:
    std::vector<TopLevelWindow> Windows() override {
        struct Entry {
            TopLevelWindow window;
            unsigned long long start;
        };
        std::vector<Entry> entries;
        const uid_t uid = ::getuid();
        const int self = ::getpid();
        DirHandle dir = DirHandle::Open("/proc");
        if (!dir) {
            return {};
        }
        while (struct dirent* e = dir.Next()) {
            char* end = nullptr;
            long pid = std::strtol(e->d_name, &end, 10);
            if (*end != '\0' || pid <= 0 || pid == self) {
                continue;
            }
            std::string base = std::string("/proc/") + e->d_name;
            struct stat st {};
            if (::stat(base.c_str(), &st) != 0 || st.st_uid != uid) {
                continue;
            }
            auto cmdline = ReadWholeFile(base + "/cmdline");
            auto state = ReadProcState(static_cast<int>(pid));
            if (!cmdline || cmdline->empty() || !state || state->ended) {
                continue;  // kernel threads have no command line
            }
            while (!cmdline->empty() && cmdline->back() == '\0') {
                cmdline->pop_back();
            }
            std::replace(cmdline->begin(), cmdline->end(), '\0', ' ');
            entries.push_back({{state->start, *cmdline, static_cast<int>(pid)}, state->start});
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.start != b.start ? a.start > b.start : a.window.pid > b.window.pid;
        });
        std::vector<TopLevelWindow> windows;
        windows.reserve(entries.size());
        for (auto& e : entries) {
            windows.push_back(std::move(e.window));
        }
        return windows;
    }

    bool Close(const TopLevelWindow& window, std::chrono::milliseconds wait) override {
        UniqueFd pidfd;
        if (!Pinned(window, pidfd) || !SendSignal(window.pid, pidfd, SIGTERM)) {
            return false;
        }
        WaitForEnd(window.pid, pidfd, window.id, wait);
        return true;
    }

    bool Terminate(const TopLevelWindow& window) override {
        UniqueFd pidfd;
        return Pinned(window, pidfd) && SendSignal(window.pid, pidfd, SIGKILL);
    }

private:
    // Opens the process and checks that it is still the one listed.
    static bool Pinned(const TopLevelWindow& window, UniqueFd& pidfd) {
        if (window.pid <= 0 || window.pid == ::getpid()) {
            return false;
        }
        pidfd = OpenPidFd(window.pid);
        auto state = ReadProcState(window.pid);
        return state && !state->ended && state->start == window.id;
    }
};

}  // namespace

std::unique_ptr<WindowList> OpenProcessWindowList() {
    return std::make_unique<ProcessWindowList>();
}

}  // namespace quorvel::platform
