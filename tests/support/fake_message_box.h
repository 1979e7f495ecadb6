#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace quorvel::test {

/// A message box that records what it was asked to show and answers from a
/// queue prepared in advance (Ok for an Ok message, Yes for a question once
/// the queue is empty).
class FakeMessageBox : public platform::MessageBox {
public:
    struct Shown {
        std::string title;
        std::string text;
        platform::MessageStyle style;
    };

    void QueueAnswer(platform::MessageAnswer answer) {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(answer);
    }

    platform::MessageAnswer Show(const std::string& title, const std::string& text,
                                 const platform::MessageStyle& style) override {
        std::lock_guard lock(m_mutex);
        m_shown.push_back({title, text, style});
        if (style.buttons == platform::MessageButtons::Ok) {
            return platform::MessageAnswer::Ok;
        }
        if (m_answers.empty()) {
            return platform::MessageAnswer::Yes;
        }
        platform::MessageAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    void Notify(const std::string& title, const std::string& text,
                const platform::MessageStyle& style) override {
        platform::MessageStyle ok = style;
        ok.buttons = platform::MessageButtons::Ok;
        Show(title, text, ok);
    }

    std::vector<Shown> ShownMessages() const {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }
    std::size_t Count() const {
        std::lock_guard lock(m_mutex);
        return m_shown.size();
    }

private:
    mutable std::mutex m_mutex;
    std::deque<platform::MessageAnswer> m_answers;
    std::vector<Shown> m_shown;
};

}  // namespace quorvel::test
