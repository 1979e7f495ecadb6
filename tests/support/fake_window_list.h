#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window_list.h"

namespace quorvel::test {

/// A window list held in memory, topmost first; records what was asked of
/// it. Closed or terminated windows leave the list.
class FakeWindowList : public platform::WindowList {
public:
    enum class Request { Close, Terminate };
    struct Call {
        Request request;
        std::uint64_t id;
        std::string title;
    };

    /// Adds a window below the ones added before.
    void Add(std::uint64_t id, std::string title, int pid = 0) {
        std::lock_guard lock(m_mutex);
        m_windows.push_back({id, std::move(title), pid});
    }

    std::vector<platform::TopLevelWindow> Windows() override {
        std::lock_guard lock(m_mutex);
        return m_windows;
    }
    bool Close(const platform::TopLevelWindow& window, std::chrono::milliseconds) override {
        return Record(Request::Close, window);
    }
    bool Terminate(const platform::TopLevelWindow& window) override {
        return Record(Request::Terminate, window);
    }

    std::vector<Call> Calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    bool Record(Request request, const platform::TopLevelWindow& window) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({request, window.id, window.title});
        std::erase_if(m_windows, [&](const auto& w) { return w.id == window.id; });
        return true;
    }

    mutable std::mutex m_mutex;
    std::vector<platform::TopLevelWindow> m_windows;
    std::vector<Call> m_calls;
};

}  // namespace quorvel::test
