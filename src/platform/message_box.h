#pragma once

#include <functional>

#include <memory>
#include <string>

namespace quorvel::platform {

/// The buttons of a message window.
enum class MessageButtons { Ok, YesNo };

/// What the user answered. Failed: the window could not be shown.
enum class MessageAnswer { Ok, Yes, No, Failed };

/// How a message window presents itself.
struct MessageStyle {
    MessageButtons buttons = MessageButtons::Ok;
    bool alwaysOnTop = false;          ///< stays above every other window
    bool serviceNotification = false;  ///< visible on the interactive desktop from a service
};

/// Shows a titled message to the user. Each program plugs in its own
/// implementation (a dialog in the desktop program, the console otherwise).
/// Implementations are called from any thread, also from several at once.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    /// Shows the message and returns once the user has answered it (an
    /// implementation that cannot ask answers Ok or Yes at once).
    virtual MessageAnswer Show(const std::string& title, const std::string& text,
                               const MessageStyle& style) = 0;
};

/// The message box of the console program. Shows the title and the text as
/// one block on standard output, written whole even when several threads
/// show messages at once. A Yes/No question then waits for a Y or N key,
/// which the console's key loop hands over through ConsoleAnswers; where no
/// terminal can be read the answer is Yes at once. An Ok message does not
/// wait for a key.
class ConsoleMessageBox : public MessageBox {
public:
    /// Writes to standard output.
    ConsoleMessageBox();
    /// Writes to the given descriptor, which stays owned by the caller.
    explicit ConsoleMessageBox(int outputFd);
    MessageAnswer Show(const std::string& title, const std::string& text,
                       const MessageStyle& style) override;

private:
    int m_fd;
};

/// The process-wide channel through which the console's key loop answers
/// the Yes/No questions of ConsoleMessageBox. Questions are answered in the
/// order they were asked; a key that no question waits for is dropped, so a
/// stale key never answers a later question.
class ConsoleAnswers {
public:
    static ConsoleAnswers& Instance();

    /// Offers a key read from the console. True when it answered a waiting
    /// question ("y"/"Y" = Yes, "n"/"N" = No); false when no question waits
    /// or the key is neither answer (the caller may then use the key itself).
    bool Offer(char key);
    /// True while at least one question waits for its answer.
    bool Waiting() const;
    /// Declares whether a terminal can be read (false for a service or
    /// redirected input). Without one, every question is answered Yes at
    /// once, and questions waiting now are answered Yes.
    void SetTerminalAvailable(bool available);
    bool TerminalAvailable() const;
    /// Answers every waiting question Yes (for example when the program
    /// stops), so no thread stays blocked.
    void ReleaseAll();

    /// Waits for the answer to one question (used by ConsoleMessageBox).
    /// The question is queued before announce runs (announce prints it), so
    /// a key typed the moment the question appears is never lost.
    MessageAnswer Ask(const std::function<void()>& announce = {});

    ConsoleAnswers(const ConsoleAnswers&) = delete;
    ConsoleAnswers& operator=(const ConsoleAnswers&) = delete;

private:
    ConsoleAnswers() = default;
    struct State;
    State& Shared() const;
};

/// The message box that actions use; the console one unless a program set
/// another. Safe to call from any thread.
std::shared_ptr<MessageBox> CurrentMessageBox();

/// Replaces the process-wide message box (nullptr restores the console one).
void SetMessageBox(std::shared_ptr<MessageBox> box);

}  // namespace quorvel::platform
