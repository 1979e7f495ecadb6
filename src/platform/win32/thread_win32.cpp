#include <atomic>
#include <memory>

#include "platform/thread.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

struct Thread::Impl {
    HANDLE handle = nullptr;
    DWORD id = 0;
    std::function<void()> body;
    std::atomic<bool> finished{false};
    bool detached = false;  // set on the thread itself: it frees this at its end
};

namespace {

DWORD WINAPI ThreadEntry(LPVOID arg) {
    auto* impl = static_cast<Thread::Impl*>(arg);
    impl->body();
    impl->body = nullptr;
    impl->finished.store(true, std::memory_order_release);
    if (impl->detached) {
        delete impl;
    }
    return 0;
}

}  // namespace

Thread::Thread() = default;

Thread::Thread(std::function<void()> body, std::size_t stackSize) {
    auto impl = std::make_unique<Impl>();
    impl->body = std::move(body);
    // The size is what the thread reserves, not what it commits at once.
    impl->handle =
        ::CreateThread(nullptr, stackSize, &ThreadEntry, impl.get(),
                       stackSize > 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, &impl->id);
    if (impl->handle != nullptr) {
        m_impl = std::move(impl);
    }
}

Thread::~Thread() {
    Join();
}

Thread::Thread(Thread&& other) noexcept : m_impl(std::move(other.m_impl)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Join();
        m_impl = std::move(other.m_impl);
    }
    return *this;
}

void Thread::Join() {
    if (!m_impl) {
        return;
    }
    if (IsCurrent()) {
        ::CloseHandle(m_impl->handle);
        m_impl->detached = true;
        m_impl.release();  // the running thread frees it as it ends
        return;
    }
    ::WaitForSingleObject(m_impl->handle, INFINITE);
    ::CloseHandle(m_impl->handle);
    m_impl.reset();
}

bool Thread::Finished() const {
    return !m_impl || m_impl->finished.load(std::memory_order_acquire);
}

bool Thread::IsCurrent() const {
    return m_impl && m_impl->id == ::GetCurrentThreadId();
}

}  // namespace quorvel::platform
