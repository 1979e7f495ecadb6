#pragma once

#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvel::platform {

enum class WaitOutcome { Ready, Stopped, TimedOut, Failed };

/// Waits until eventFd is readable (Ready), stopFd is (Stopped) or until
/// passes (TimedOut; never without until). A timer wakes a tenth of a
/// millisecond or more after it is due, so the last stretch before until is
/// waited by polling: what waits for a quiet time to end starts when it ends,
/// not when the timer comes round.
inline WaitOutcome WaitForEvents(int stopFd, int eventFd,
                                 std::optional<std::chrono::steady_clock::time_point> until) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kPolledStretch = std::chrono::microseconds(250);
    for (;;) {
        timespec timeout{};
        timespec* limit = nullptr;
        if (until) {
            const auto now = Clock::now();
            if (now >= *until) {
                return WaitOutcome::TimedOut;
            }
            const auto left = *until - now;
            if (left > kPolledStretch) {
                const auto sleep =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(left - kPolledStretch);
                timeout.tv_sec = static_cast<time_t>(sleep.count() / 1000000000);
                timeout.tv_nsec = static_cast<long>(sleep.count() % 1000000000);
            } else {
                ::sched_yield();
            }
            limit = &timeout;
        }
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {eventFd, POLLIN, 0}};
        const int r = ::ppoll(fds, 2, limit, nullptr);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitOutcome::Failed;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return WaitOutcome::Stopped;
        }
        if (r == 0) {
            continue;  // the time is looked at above
        }
        if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return WaitOutcome::Failed;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return WaitOutcome::Ready;
        }
    }
}

/// Reads every event queued on a non-blocking inotify descriptor and calls
/// f(event, name) for each, in order.
template <typename F>
void ForEachInotifyEvent(int fd, std::vector<char>& buffer, F&& f) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // EAGAIN: nothing more queued
        }
        if (n == 0) {
            return;
        }
        for (std::size_t off = 0; off + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
            inotify_event ev;
            std::memcpy(&ev, buffer.data() + off, sizeof(ev));
            const char* namePtr = buffer.data() + off + sizeof(inotify_event);
            const std::string_view name =
                ev.len > 0 ? std::string_view(namePtr, ::strnlen(namePtr, ev.len))
                           : std::string_view();
            off += sizeof(inotify_event) + ev.len;
            f(ev, name);
        }
    }
}

}  // namespace quorvel::platform
