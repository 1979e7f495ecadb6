#include <atomic>
#include <mutex>

#include "platform/signals.h"
#include "platform/win32/service_signals.h"
#include "platform/win32/win32_util.h"

// Console control events (Ctrl+C, Ctrl+Break, the console window closed,
// logoff, shutdown) and the service manager's controls reach the program as
// the same ProcessSignal values the Linux build takes from signals. The
// system calls the control handler on a thread of its own, so the program's
// handler runs there and may take locks.

namespace quorvel::platform {

namespace {

struct Listener {
    std::function<void(ProcessSignal)> handler;
    std::mutex running;  // held while the handler runs, so the destructor waits for it
    win32::UniqueHandle ended{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

std::mutex g_mutex;
Listener* g_listener = nullptr;

bool Deliver(ProcessSignal signal) {
    std::unique_lock lock(g_mutex);
    Listener* listener = g_listener;
    if (listener == nullptr) {
        return false;
    }
    std::lock_guard running(listener->running);
    lock.unlock();
    listener->handler(signal);
    return true;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    ProcessSignal signal = ProcessSignal::Interrupt;
    bool closing = false;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            signal = ProcessSignal::Interrupt;
            break;
        case CTRL_CLOSE_EVENT:
            signal = ProcessSignal::HangUp;
            closing = true;
            break;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            signal = ProcessSignal::Terminate;
            closing = true;
            break;
        default:
            return FALSE;
    }
    HANDLE ended = nullptr;
    {
        std::lock_guard lock(g_mutex);
        if (g_listener == nullptr) {
            return FALSE;  // the default: the process ends
        }
        ended = g_listener->ended.Get();
    }
    Deliver(signal);
    if (closing) {
        // The process ends when this returns: give the program the few
        // seconds the system allows to stop its items in order.
        ::WaitForSingleObject(ended, 4500);
    }
    return TRUE;
}

}  // namespace

namespace win32 {

bool DeliverProcessSignal(ProcessSignal signal) {
    return Deliver(signal);
}

}  // namespace win32

void BlockProcessSignals() {}

struct SignalListener::Impl : Listener {};

SignalListener::SignalListener(std::function<void(ProcessSignal)> handler)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->handler = std::move(handler);
    std::lock_guard lock(g_mutex);
    g_listener = m_impl.get();
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

SignalListener::~SignalListener() {
    {
        std::lock_guard lock(g_mutex);
        if (g_listener == m_impl.get()) {
            g_listener = nullptr;
        }
    }
    std::lock_guard running(m_impl->running);  // a handler still running ends first
    ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    ::SetEvent(m_impl->ended.Get());
}

bool SignalListener::Running() const {
    return true;
}

}  // namespace quorvel::platform
