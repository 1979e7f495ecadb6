#pragma once

#include <memory>
#include <optional>
#include <string_view>

namespace quorvel::platform {

/// The descriptor of standard output.
int StandardOutputFd();

/// The descriptor of standard error, the same number on every system.
inline constexpr int kStandardErrorFd = 2;

/// Writes all of text to the descriptor, going on after interrupted or
/// partial writes; false when the descriptor refused it.
bool WriteWhole(int fd, std::string_view text);

/// Ends the process at once with the exit code, after flushing the C
/// streams, without running destructors of static objects or exit handlers
/// (threads that are still running must not see them destroyed).
[[noreturn]] void ExitWithoutCleanup(int code);

/// True when standard input is a terminal.
bool StdinIsTerminal();

/// True when standard input is a terminal and this process belongs to its
/// foreground job (a background job must not read it or change its mode).
bool StdinIsForegroundTerminal();

/// Puts the terminal on standard input into raw mode without echo (no line
/// editing, no signal keys: Ctrl+C arrives as the byte 3) for the object's
/// lifetime. The previous settings come back when the object is destroyed,
/// and also when the process dies of a fatal signal while the object lives.
/// Does nothing when standard input is not a terminal of the foreground job.
class RawTerminal {
public:
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    /// True when the terminal was switched to raw mode.
    bool Active() const { return m_active; }

private:
    bool m_active = false;
};

/// Reads single key presses from standard input. Another thread can end a
/// pending read at any time with Wake.
class KeyReader {
public:
    KeyReader();
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    /// Blocks until a byte arrives on standard input or Wake is called.
    /// Answers the byte, or nothing once woken. When standard input is not
    /// a terminal of the foreground job, or has reached its end or failed,
    /// it is no longer read and the call only waits for Wake.
    std::optional<unsigned char> ReadKey();

    /// Ends the pending ReadKey and every later one. Safe from any thread.
    void Wake();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
