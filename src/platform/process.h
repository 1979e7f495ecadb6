#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace quorvel::platform {

/// How a started program should show itself. On Linux only Hidden changes
/// anything: it connects the program's standard streams to /dev/null. On
/// Windows each is the window's show command.
enum class ShowMode : int { Normal = 0, Minimized = 1, Maximized = 2, Hidden = 3 };

/// A started child process, leader of a process group of its own. Move-only.
///
/// A child that was not waited for to its end when the handle goes away is
/// handed to a process-wide reaper, which collects it as soon as it ends, so
/// no zombie stays behind. The reaper only ever waits for the children handed
/// to it, never for "any child", so it cannot steal the exit status of a
/// child that some handle is still waiting for.
class ChildProcess {
public:
    ChildProcess() = default;
    /// Takes over a started child; pidfd may be invalid where the system has
    /// no process descriptors.
    ChildProcess(int pid, UniqueFd pidfd);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// True when the handle holds a child (ended or not).
    bool Valid() const { return m_pid > 0; }
    explicit operator bool() const { return Valid(); }
    /// Process id (also the id of its process group), or -1.
    int Pid() const { return m_pid; }

    /// Waits for the child to end, for at most timeout (no value: without
    /// limit). True when the child has ended and was collected. Never spins:
    /// it sleeps on the process descriptor, or polls with a growing pause.
    bool Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    /// True once Wait has seen the child end.
    bool Ended() const { return m_ended; }
    /// The exit code of a child that ended normally.
    std::optional<int> ExitCode() const;
    /// The signal that ended the child, if a signal did.
    std::optional<int> TermSignal() const;

    /// Sends SIGKILL to the child's whole process group (so the children of
    /// a script go too) unless the child was already collected, then waits
    /// briefly for it. Harmless when the child has ended.
    void Terminate();

    /// Gives the child to the reaper now and empties the handle.
    void Release();

private:
    int m_pid = -1;
    UniqueFd m_pidfd;
    bool m_ended = false;
    int m_status = 0;
    // Where the system has them (Windows): the process handle and the job
    // that holds the process and everything it starts.
    void* m_process = nullptr;
    void* m_job = nullptr;

    friend ChildProcess AdoptNativeProcess(int pid, void* process, void* job);
};

/// Takes over a started process by its handles (Windows: the process and
/// its job object, either may be null); the handle owns them.
ChildProcess AdoptNativeProcess(int pid, void* process, void* job);

/// Where and how to start a program.
struct SpawnOptions {
    std::string directory;  ///< working directory; empty = ours
    bool hidden = false;    ///< standard streams to /dev/null
};

/// Starts program (a path, not searched in PATH) with the given argument
/// vector (argv[0] included) in a new process group, with default signal
/// handling, an empty signal mask and no descriptor of ours beyond the
/// standard streams. No shell is involved. An invalid handle when the
/// program could not be started.
ChildProcess Spawn(const std::string& program, const std::vector<std::string>& argv,
                   const SpawnOptions& options = {});

/// Opens a command the way a desktop shell does, without ever passing a text
/// to a shell: "$VAR" and "${VAR}" (and a leading "~") are expanded in
/// command and directory; a command that names an executable (a path, or a
/// name found in PATH) is started with argv = the command followed by the
/// parameters split into words (SplitShellWords); an existing document or
/// folder, or a URL, is opened with xdg-open (the parameters are then not
/// used). Anything else starts nothing and answers an invalid handle.
/// literal, when given, marks the characters of parameters that stand for
/// themselves (SplitShellWords).
ChildProcess ShellExecute(std::string_view command, std::string_view parameters,
                          std::string_view directory, ShowMode show,
                          const std::vector<bool>* literal = nullptr);

/// Splits text into words as a POSIX shell does (on Windows: as a Windows
/// program's start-up code splits its command line), and does nothing else: words
/// are separated by blanks (space, tab, line feed); text between single
/// quotes is literal; between double quotes a backslash escapes only "$",
/// "`", '"', "\" and a line feed; elsewhere a backslash makes the next
/// character literal (a backslash before a line feed removes both). Quotes
/// make a word even when empty; an unclosed quote runs to the end. No
/// globbing, no variable, command or arithmetic substitution.
///
/// literal, when given, holds one flag per byte of text: a flagged byte is
/// plain text of the word it stands in, never a blank, quote or backslash
/// with a meaning, so text put in by a macro can neither split a word nor
/// join two.
std::vector<std::string> SplitShellWords(std::string_view text,
                                         const std::vector<bool>* literal = nullptr);

/// Expands "$NAME" and "${NAME}" (NAME: letters, digits and "_", not
/// starting with a digit) from the environment, an unset variable giving
/// nothing; a leading "~" followed by "/" or the end becomes the home
/// directory. Every other "$" is kept.
std::string ExpandEnvironmentReferences(std::string_view text);

/// The path of the executable that command names: a command holding "/" is
/// a path (relative ones taken from directory when it is not empty); any
/// other is searched in PATH. Nothing when it is no executable regular file.
std::optional<std::string> FindExecutable(std::string_view command,
                                          std::string_view directory = {});

/// Number of children the reaper still waits for (for tests).
std::size_t ChildrenAwaitingReaper();

}  // namespace quorvel::platform
