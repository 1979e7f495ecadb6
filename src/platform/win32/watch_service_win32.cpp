#include <atomic>
#include <mutex>
#include <thread>

#include "platform/watch_service.h"

// Windows has no limit of notification handles worth sharing one for: each
// tree keeps its own ReadDirectoryChangesW handle and a thread of its own,
// both owned by the tree's Watch.

namespace quorvel::platform {

struct WatchService::Impl {
    mutable std::mutex mutex;
    Gathering gathering;
};

namespace {

class Win32Watch : public WatchService::Watch {
public:
    Win32Watch(WatchService& service, std::function<void()> onChange)
        : m_service(service), m_onChange(std::move(onChange)) {}

    bool Start(const std::string& path, bool subtree, bool directoryNames) {
        if (!m_notifier.Start(path, subtree, directoryNames, /*walkSubtree=*/false)) {
            return false;
        }
        m_thread = std::jthread([this] {
            for (;;) {
                const WatchService::Gathering g = m_service.CurrentGathering();
                ChangeNotifier::WaitOptions options;
                options.quiet = g.quiet;
                options.maxDelay = g.maxDelay;
                const auto result = m_notifier.Wait(options);
                if (result == ChangeNotifier::Result::Failed) {
                    m_active.store(false);
                }
                if (result != ChangeNotifier::Result::Stopped) {
                    std::lock_guard lock(m_callbackMutex);
                    if (!m_closed && m_onChange) {
                        m_onChange();
                    }
                }
                if (result != ChangeNotifier::Result::Changed) {
                    return;
                }
            }
        });
        return true;
    }

    ~Win32Watch() override {
        {
            std::lock_guard lock(m_callbackMutex);
            m_closed = true;
        }
        m_notifier.Stop();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    bool Active() const override { return m_active.load(); }
    std::string Problem() const override { return {}; }
    ChangeSet TakeChanges() override { return m_notifier.TakeChanges(); }
    void BeginWalk() override { m_notifier.BeginWalk(); }
    bool EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry) override {
        return m_notifier.EnsureWatched(relativeDirectory, entry);
    }
    void EndWalk(bool wholeTree) override { m_notifier.EndWalk(wholeTree); }
    void Unwatch(std::string_view relativeDirectory) override {
        m_notifier.Unwatch(relativeDirectory);
    }
    void LoseEvents() override { m_notifier.LoseEvents(); }
    std::size_t WatchCount() const override { return m_notifier.WatchCount(); }

private:
    WatchService& m_service;
    ChangeNotifier m_notifier;
    std::function<void()> m_onChange;
    std::mutex m_callbackMutex;
    bool m_closed = false;
    std::atomic<bool> m_active{true};
    std::jthread m_thread;
};

}  // namespace

WatchService::WatchService() : m_impl(std::make_unique<Impl>()) {}

WatchService::~WatchService() = default;

WatchService& WatchService::Process() {
    static WatchService service;
    return service;
}

std::unique_ptr<WatchService::Watch> WatchService::Add(const std::string& path, bool subtree,
                                                       bool directoryNames,
                                                       std::function<void()> onChange,
                                                       std::string* error) {
    auto watch = std::make_unique<Win32Watch>(*this, std::move(onChange));
    if (!watch->Start(path, subtree, directoryNames)) {
        if (error != nullptr) {
            *error = "the directory can not be watched";
        }
        return nullptr;
    }
    return watch;
}

void WatchService::SetGathering(Gathering gathering) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->gathering = gathering;
}

WatchService::Gathering WatchService::CurrentGathering() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->gathering;
}

void WatchService::SetWatchLimit(long /*limit*/) {}

std::optional<long> WatchLimitPerUser() {
    return std::nullopt;
}

}  // namespace quorvel::platform
