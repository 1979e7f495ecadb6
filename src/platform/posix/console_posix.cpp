#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

// The terminal settings to put back. Plain globals because the fatal-signal
// handler reads them; written only before the handler is installed.
termios g_savedTerminal{};
std::atomic<bool> g_rawActive{false};

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};
constexpr int kFatalCount = sizeof(kFatalSignals) / sizeof(kFatalSignals[0]);
struct sigaction g_previous[kFatalCount];

int FatalIndex(int sig) {
    for (int i = 0; i < kFatalCount; ++i) {
        if (kFatalSignals[i] == sig) {
            return i;
        }
    }
    return -1;
}

// Runs only async-signal-safe calls: put the terminal back, hand the signal
// to whoever handled it before (a sanitizer, or the default action).
void OnFatalSignal(int sig, siginfo_t* info, void*) {
    if (g_rawActive.exchange(false)) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    }
    int index = FatalIndex(sig);
    if (index >= 0) {
        ::sigaction(sig, &g_previous[index], nullptr);
    }
    // A fault repeats when the handler returns; a sent signal has to be raised
    // again (it stays pending until the handler returns).
    if (info == nullptr || info->si_code <= 0) {
        ::raise(sig);
    }
}

}  // namespace

void ExitWithoutCleanup(int code) {
    std::fflush(nullptr);
    std::quick_exit(code);
}

int StandardOutputFd() {
    return STDOUT_FILENO;
}

bool WriteWhole(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool StdinIsForegroundTerminal() {
    // A background job that touched the terminal would be stopped by
    // SIGTTOU or SIGTTIN, so it leaves the terminal alone.
    return StdinIsTerminal() && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

RawTerminal::RawTerminal() {
    if (!StdinIsForegroundTerminal() || g_rawActive.load()) {
        return;
    }
    termios current{};
    if (::tcgetattr(STDIN_FILENO, &current) != 0) {
        return;
    }
    g_savedTerminal = current;
    termios raw = current;
    // Output processing stays as it is, so printed lines still end properly.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    struct sigaction action {};
    action.sa_sigaction = &OnFatalSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kFatalCount; ++i) {
        ::sigaction(kFatalSignals[i], &action, &g_previous[i]);
    }
    g_rawActive.store(true);
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        g_rawActive.store(false);
        for (int i = 0; i < kFatalCount; ++i) {
            ::sigaction(kFatalSignals[i], &g_previous[i], nullptr);
        }
        return;
    }
    m_active = true;
}

RawTerminal::~RawTerminal() {
    if (!m_active) {
        return;
    }
    if (g_rawActive.exchange(false)) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    }
    for (int i = 0; i < kFatalCount; ++i) {
        ::sigaction(kFatalSignals[i], &g_previous[i], nullptr);
    }
}

struct KeyReader::Impl {
    UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> woken{false};
    bool readInput = StdinIsForegroundTerminal();
};

KeyReader::KeyReader() : m_impl(std::make_unique<Impl>()) {}

KeyReader::~KeyReader() = default;

void KeyReader::Wake() {
    m_impl->woken.store(true, std::memory_order_release);
    std::uint64_t one = 1;
    if (m_impl->wake) {
        [[maybe_unused]] auto written = ::write(m_impl->wake.Get(), &one, sizeof one);
    }
}

std::optional<unsigned char> KeyReader::ReadKey() {
    for (;;) {
        if (m_impl->woken.load(std::memory_order_acquire)) {
            return std::nullopt;
        }
        pollfd fds[2] = {};
        nfds_t count = 0;
        fds[count++] = {m_impl->wake.Get(), POLLIN, 0};
        if (m_impl->readInput) {
            fds[count++] = {STDIN_FILENO, POLLIN, 0};
        }
        int rc = ::poll(fds, count, -1);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Without poll there is nothing left to wait with; report an end
            // rather than spin.
            return std::nullopt;
        }
        if (fds[0].revents != 0) {
            continue;  // the flag is checked at the top
        }
        if (count > 1 && fds[1].revents != 0) {
            unsigned char byte = 0;
            ssize_t n = ::read(STDIN_FILENO, &byte, 1);
            if (n == 1) {
                return byte;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            // End of input or a read error: stop reading, wait for Wake.
            m_impl->readInput = false;
        }
    }
}

}  // namespace quorvel::platform
