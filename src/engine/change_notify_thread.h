#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/change_notifier.h"
#include "platform/watch_service.h"

namespace quorvel {

/// The change notification of one directory item: the process's watch
/// service watches the item's directory (and its subtree when asked) and
/// reports each burst of changes by calling onChange (the item asks itself
/// for a check there). Every real-time item shares the service's one kernel
/// instance and one thread.
class ChangeNotifyThread {
public:
    /// Registers for changes under path (with the subtree when subtree is
    /// set; changes to directory entries only when directoryNames is set).
    /// The directories below are watched as the item's walks report them
    /// (EnsureWatched). Nothing, with the reason in error, when the
    /// directory cannot be watched: the item then keeps checking on its
    /// interval.
    static std::unique_ptr<ChangeNotifyThread> Start(const std::string& path, bool subtree,
                                                     bool directoryNames,
                                                     std::function<void()> onChange,
                                                     std::string* error = nullptr);

    /// Stops watching: onChange is never called after this returns.
    ~ChangeNotifyThread();
    ChangeNotifyThread(const ChangeNotifyThread&) = delete;
    ChangeNotifyThread& operator=(const ChangeNotifyThread&) = delete;

    /// True while the directory is watched, or its return is waited for.
    bool Running() const { return m_watch->Active(); }
    /// Why changes may pass unseen, or empty.
    std::string Problem() const { return m_watch->Problem(); }

    /// The watches follow the item's walks (platform::ChangeNotifier).
    void BeginWalk() { m_watch->BeginWalk(); }
    bool EnsureWatched(std::string_view relativeDirectory, platform::ScanEntry& entry) {
        return m_watch->EnsureWatched(relativeDirectory, entry);
    }
    void EndWalk(bool wholeTree) { m_watch->EndWalk(wholeTree); }
    void Unwatch(std::string_view relativeDirectory) { m_watch->Unwatch(relativeDirectory); }
    void LoseEvents() { m_watch->LoseEvents(); }
    /// The changes reported since they were last taken.
    platform::ChangeSet TakeChanges() { return m_watch->TakeChanges(); }

    /// How changes are gathered into one report: a report goes out once no
    /// change came for quiet, and at the latest maxDelay after the first.
    /// Process-wide; tests lengthen it so that a burst is surely one report.
    static void SetGathering(std::chrono::microseconds quiet, std::chrono::microseconds maxDelay);
    /// The quiet time in force: how long a report waits after the last change.
    static std::chrono::microseconds SettleTime();

private:
    explicit ChangeNotifyThread(std::unique_ptr<platform::WatchService::Watch> watch)
        : m_watch(std::move(watch)) {}
    std::unique_ptr<platform::WatchService::Watch> m_watch;
};

}  // namespace quorvel
