#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace quorvel::platform {

/// A thread with an owner: it runs body on a stack of the given size (0: the
/// system's default) and is joined when the object is destroyed or assigned
/// to. Items keep many threads alive at once, so a modest stack keeps memory
/// low. Move-only.
class Thread {
public:
    Thread();
    /// Starts body at once; Joinable is false when no thread could start.
    explicit Thread(std::function<void()> body, std::size_t stackSize = 0);
    ~Thread();
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Joinable() const { return m_impl != nullptr; }
    /// Waits for the body to end. A thread never joins itself: called on the
    /// thread itself, it lets the thread go on alone.
    void Join();
    /// True when body has returned (the join then does not wait).
    bool Finished() const;
    /// True when called on this thread.
    bool IsCurrent() const;

    struct Impl;  ///< the system's thread and the body's state

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
