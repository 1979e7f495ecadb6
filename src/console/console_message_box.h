#pragma once

#include <functional>
#include <string>

#include "platform/message_box.h"

namespace quorvel {

/// The message box of the console program. Shows the title and the text as
/// one block on standard output, written whole even when several threads
/// show messages at once. A Yes/No question then waits for a Y or N key,
/// which the console's key loop hands over through ConsoleAnswers; where no
/// terminal can be read the answer is Yes at once. An Ok message does not
/// wait for a key.
class ConsoleMessageBox : public platform::MessageBox {
public:
    /// Writes to standard output.
    ConsoleMessageBox();
    /// Writes to the given descriptor, which stays owned by the caller.
    explicit ConsoleMessageBox(int outputFd);
    platform::MessageAnswer Show(const std::string& title, const std::string& text,
                                 const platform::MessageStyle& style) override;
    void Notify(const std::string& title, const std::string& text,
                const platform::MessageStyle& style) override;

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
    platform::MessageAnswer Ask(const std::function<void()>& announce = {});

    ConsoleAnswers(const ConsoleAnswers&) = delete;
    ConsoleAnswers& operator=(const ConsoleAnswers&) = delete;

private:
    ConsoleAnswers() = default;
    struct State;
    State& Shared() const;
};

}  // namespace quorvel
