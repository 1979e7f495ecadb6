#include "console/console_message_box.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "core/text_util.h"
#include "platform/console.h"

namespace quorvel {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageStyle;

namespace {

// One lock for every block written by the console message box, so blocks
// from several threads never interleave.
std::mutex& OutputMutex() {
    static std::mutex mutex;
    return mutex;
}

void WriteBlock(int fd, const std::string& block) {
    std::lock_guard lock(OutputMutex());
    if (fd == platform::StandardOutputFd()) {
        std::fflush(stdout);  // keep order with text the program printed through stdio
    }
    platform::WriteWhole(fd, block);
}

struct Ticket {
    std::optional<MessageAnswer> answer;
};

}  // namespace

struct ConsoleAnswers::State {
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::deque<std::shared_ptr<Ticket>> waiting;
    std::optional<bool> terminal;  // unset: decided by whether stdin is a terminal

    bool TerminalLocked() {
        if (!terminal) {
            terminal = platform::StdinIsTerminal();
        }
        return *terminal;
    }
    void AnswerAllLocked(MessageAnswer answer) {
        for (auto& ticket : waiting) {
            ticket->answer = answer;
        }
        waiting.clear();
        answered.notify_all();
    }
};

ConsoleAnswers& ConsoleAnswers::Instance() {
    static ConsoleAnswers instance;  // ended after main, when nobody asks any more
    return instance;
}

ConsoleAnswers::State& ConsoleAnswers::Shared() const {
    static State state;
    return state;
}

bool ConsoleAnswers::Offer(char key) {
    std::optional<MessageAnswer> answer;
    if (key == 'y' || key == 'Y') {
        answer = MessageAnswer::Yes;
    } else if (key == 'n' || key == 'N') {
        answer = MessageAnswer::No;
    } else {
        return false;
    }
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    if (s.waiting.empty()) {
        return false;
    }
    s.waiting.front()->answer = answer;
    s.waiting.pop_front();
    s.answered.notify_all();
    return true;
}

bool ConsoleAnswers::Waiting() const {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    return !s.waiting.empty();
}

void ConsoleAnswers::SetTerminalAvailable(bool available) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    s.terminal = available;
    if (!available) {
        s.AnswerAllLocked(MessageAnswer::Yes);
    }
}

bool ConsoleAnswers::TerminalAvailable() const {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    return s.TerminalLocked();
}

void ConsoleAnswers::ReleaseAll() {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    s.AnswerAllLocked(MessageAnswer::Yes);
}

MessageAnswer ConsoleAnswers::Ask(const std::function<void()>& announce) {
    State& s = Shared();
    std::unique_lock lock(s.mutex);
    if (!s.TerminalLocked()) {
        lock.unlock();
        if (announce) {
            announce();
        }
        return MessageAnswer::Yes;
    }
    auto ticket = std::make_shared<Ticket>();
    s.waiting.push_back(ticket);
    lock.unlock();
    if (announce) {
        announce();
    }
    lock.lock();
    s.answered.wait(lock, [&] { return ticket->answer.has_value(); });
    return *ticket->answer;
}

ConsoleMessageBox::ConsoleMessageBox() : m_fd(platform::StandardOutputFd()) {}

ConsoleMessageBox::ConsoleMessageBox(int outputFd) : m_fd(outputFd) {}

MessageAnswer ConsoleMessageBox::Show(const std::string& title, const std::string& text,
                                      const MessageStyle& style) {
    // A name in a message is data: a control sequence in it is shown, never
    // obeyed by the terminal.
    std::string block;
    block.reserve(title.size() + text.size() + 16);
    block += "[";
    block += EscapeControls(title);
    block += "]\n";
    block += EscapeControls(text, true);
    if (block.back() != '\n') {
        block += '\n';
    }
    const bool question = style.buttons == MessageButtons::YesNo;
    if (question && ConsoleAnswers::Instance().TerminalAvailable()) {
        block += "(Y/N)\n";
    }
    if (!question) {
        WriteBlock(m_fd, block);
        return MessageAnswer::Ok;
    }
    return ConsoleAnswers::Instance().Ask([&] { WriteBlock(m_fd, block); });
}

void ConsoleMessageBox::Notify(const std::string& title, const std::string& text,
                               const MessageStyle& style) {
    MessageStyle ok = style;
    ok.buttons = MessageButtons::Ok;
    Show(title, text, ok);  // printed at once; nobody is asked
}

}  // namespace quorvel
