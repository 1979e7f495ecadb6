#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

#include "platform/signals.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

sigset_t ProcessSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

bool ToProcessSignal(std::uint32_t signo, ProcessSignal& out) {
    switch (static_cast<int>(signo)) {
        case SIGINT:
            out = ProcessSignal::Interrupt;
            return true;
        case SIGTERM:
            out = ProcessSignal::Terminate;
            return true;
        case SIGHUP:
            out = ProcessSignal::HangUp;
            return true;
        case SIGUSR1:
            out = ProcessSignal::Pause;
            return true;
        case SIGUSR2:
            out = ProcessSignal::Continue;
            return true;
        default:
            return false;
    }
}

}  // namespace

void BlockProcessSignals() {
    sigset_t set = ProcessSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

struct SignalListener::Impl {
    std::function<void(ProcessSignal)> handler;
    UniqueFd signals;
    UniqueFd stop;
    std::thread thread;

    void Run() {
        for (;;) {
            pollfd fds[2] = {{signals.Get(), POLLIN, 0}, {stop.Get(), POLLIN, 0}};
            int rc = ::poll(fds, 2, -1);
            if (rc < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if (fds[0].revents == 0) {
                continue;
            }
            signalfd_siginfo info{};
            ssize_t n = ::read(signals.Get(), &info, sizeof info);
            if (n != static_cast<ssize_t>(sizeof info)) {
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                    continue;
                }
                return;
            }
            ProcessSignal which;
            if (ToProcessSignal(info.ssi_signo, which)) {
                handler(which);
            }
        }
    }
};

SignalListener::SignalListener(std::function<void(ProcessSignal)> handler)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->handler = std::move(handler);
    sigset_t set = ProcessSignalSet();
    // The listener only sees signals that no thread takes otherwise, so the
    // creating thread blocks them too (a no-op when main already did).
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_impl->signals.Reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    m_impl->stop.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_impl->signals || !m_impl->stop) {
        return;
    }
    Impl* impl = m_impl.get();
    m_impl->thread = std::thread([impl] { impl->Run(); });
}

SignalListener::~SignalListener() {
    if (m_impl->thread.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(m_impl->stop.Get(), &one, sizeof one);
        m_impl->thread.join();
    }
}

bool SignalListener::Running() const {
    return m_impl->thread.joinable();
}

}  // namespace quorvel::platform
