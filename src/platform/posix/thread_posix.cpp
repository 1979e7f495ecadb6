#include <pthread.h>

#include <atomic>
#include <memory>

#include "platform/thread.h"

namespace quorvel::platform {

struct Thread::Impl {
    pthread_t handle{};
    std::function<void()> body;
    std::atomic<bool> finished{false};
    bool detached = false;  // set on the thread itself: it frees this at its end
};

namespace {

void* ThreadEntry(void* arg) {
    auto* impl = static_cast<Thread::Impl*>(arg);
    impl->body();
    impl->body = nullptr;  // what it captured goes with the thread's work
    impl->finished.store(true, std::memory_order_release);
    if (impl->detached) {
        delete impl;
    }
    return nullptr;
}

}  // namespace

Thread::Thread() = default;

Thread::Thread(std::function<void()> body, std::size_t stackSize) {
    auto impl = std::make_unique<Impl>();
    impl->body = std::move(body);
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return;
    }
    if (stackSize > 0) {
        pthread_attr_setstacksize(&attr, stackSize);
    }
    const int rc = pthread_create(&impl->handle, &attr, &ThreadEntry, impl.get());
    pthread_attr_destroy(&attr);
    if (rc == 0) {
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
        // The thread's own owner goes away on it: it ends by itself.
        pthread_detach(m_impl->handle);
        m_impl->detached = true;
        m_impl.release();  // the running thread frees it as it ends
        return;
    }
    pthread_join(m_impl->handle, nullptr);
    m_impl.reset();
}

bool Thread::Finished() const {
    return !m_impl || m_impl->finished.load(std::memory_order_acquire);
}

bool Thread::IsCurrent() const {
    return m_impl && pthread_equal(m_impl->handle, pthread_self()) != 0;
}

}  // namespace quorvel::platform
