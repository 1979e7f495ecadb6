#include "engine/change_notify_thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/change_notifier.h"
#include "platform/thread.h"

namespace quorvel {

namespace {

// A burst whose changes follow each other within the quiet time is served by
// one check (an editor's save, a copy, a small archive unpacked); a steady
// stream is still served at least every maxDelay.
std::atomic<long long> g_quietUs{30000};
std::atomic<long long> g_maxDelayUs{100000};

// The thread only waits and calls back, so a small stack will do.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStack = 4u << 20;
#else
constexpr std::size_t kStack = 256u << 10;
#endif

}  // namespace

struct ChangeNotifyThread::State {
    platform::ChangeNotifier notifier;
    std::mutex mutex;
    std::condition_variable ended;
    std::function<void()> onChange;  // cleared when the owner stops us
    bool finished = false;
    std::thread::id threadId;
};

void ChangeNotifyThread::SetGathering(std::chrono::microseconds quiet,
                                      std::chrono::microseconds maxDelay) {
    g_quietUs.store(quiet.count(), std::memory_order_relaxed);
    g_maxDelayUs.store(maxDelay.count(), std::memory_order_relaxed);
}

std::chrono::microseconds ChangeNotifyThread::SettleTime() {
    return std::chrono::microseconds(g_quietUs.load(std::memory_order_relaxed));
}

ChangeNotifyThread::ChangeNotifyThread(std::shared_ptr<State> state)
    : m_state(std::move(state)), m_notifier(&m_state->notifier) {}

std::unique_ptr<ChangeNotifyThread> ChangeNotifyThread::Start(const std::string& path, bool subtree,
                                                              bool directoryNames,
                                                              std::function<void()> onChange) {
    auto state = std::make_shared<State>();
    if (!state->notifier.Start(path, subtree, directoryNames, /*walkSubtree=*/false)) {
        return nullptr;
    }
    state->onChange = std::move(onChange);
    const bool started = platform::StartDetachedThread(
        [state]() {
            {
                std::lock_guard lock(state->mutex);
                state->threadId = std::this_thread::get_id();
            }
            for (;;) {
                platform::ChangeNotifier::WaitOptions options;
                options.quiet =
                    std::chrono::microseconds(g_quietUs.load(std::memory_order_relaxed));
                options.maxDelay =
                    std::chrono::microseconds(g_maxDelayUs.load(std::memory_order_relaxed));
                const auto result = state->notifier.Wait(options);
                if (result != platform::ChangeNotifier::Result::Changed) {
                    break;
                }
                std::lock_guard lock(state->mutex);
                if (!state->onChange) {
                    break;
                }
                state->onChange();
            }
            std::lock_guard lock(state->mutex);
            state->finished = true;
            state->ended.notify_all();
        },
        kStack);
    if (!started) {
        return nullptr;
    }
    return std::unique_ptr<ChangeNotifyThread>(new ChangeNotifyThread(std::move(state)));
}

ChangeNotifyThread::~ChangeNotifyThread() {
    m_state->notifier.Stop();
    std::unique_lock lock(m_state->mutex);
    m_state->onChange = nullptr;
    if (m_state->threadId != std::this_thread::get_id()) {
        m_state->ended.wait_for(lock, std::chrono::milliseconds(100),
                                [&] { return m_state->finished; });
    }
}

bool ChangeNotifyThread::Running() const {
    std::lock_guard lock(m_state->mutex);
    return !m_state->finished;
}

}  // namespace quorvel
