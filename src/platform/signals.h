#pragma once

#include <functional>
#include <memory>

namespace quorvel::platform {

/// The process signals the programs react to.
enum class ProcessSignal {
    Interrupt,  ///< SIGINT (Ctrl+C from a terminal that sends signals)
    Terminate,  ///< SIGTERM (stop and shutdown)
    HangUp,     ///< SIGHUP (the terminal went away)
    Pause,      ///< SIGUSR1
    Continue,   ///< SIGUSR2
};

/// Blocks the signals of ProcessSignal in the calling thread, so that no
/// thread started afterwards receives them asynchronously and a
/// SignalListener can take them instead. Call it in main before any thread
/// starts. Child processes must unblock them again (the spawning code does).
void BlockProcessSignals();

/// Takes the blocked process signals on a dedicated thread and calls the
/// handler there for each one, so the handler may take locks and do real
/// work. Destroying the listener stops and joins its thread.
class SignalListener {
public:
    explicit SignalListener(std::function<void(ProcessSignal)> handler);
    ~SignalListener();
    SignalListener(const SignalListener&) = delete;
    SignalListener& operator=(const SignalListener&) = delete;

    /// True when the listener could be set up.
    bool Running() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
