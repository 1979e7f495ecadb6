#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/change_notifier.h"

namespace quorvel {

/// Waits on its own thread for changes under a directory and reports each
/// burst of them by calling onChange (a directory item asks itself for a
/// check there). The thread ends when stopped or when the watch is lost.
class ChangeNotifyThread {
public:
    /// Registers for changes under path (with the subtree when subtree is
    /// set; changes to directory entries only when directoryNames is set) and
    /// starts the thread. The directories below are watched as the item's
    /// walks report them (EnsureWatched). Nothing when the directory cannot
    /// be watched: the item then keeps checking on its interval.
    static std::unique_ptr<ChangeNotifyThread> Start(const std::string& path, bool subtree,
                                                     bool directoryNames,
                                                     std::function<void()> onChange);

    /// Stops the thread: onChange is never called after this returns. Waits
    /// at most 100 ms for the thread to end; it frees itself later if not.
    ~ChangeNotifyThread();
    ChangeNotifyThread(const ChangeNotifyThread&) = delete;
    ChangeNotifyThread& operator=(const ChangeNotifyThread&) = delete;

    /// True while the thread waits for changes.
    bool Running() const;

    /// The watches follow the item's walks (platform::ChangeNotifier).
    void BeginWalk() { m_notifier->BeginWalk(); }
    bool EnsureWatched(std::string_view relativeDirectory, platform::ScanEntry& entry) {
        return m_notifier->EnsureWatched(relativeDirectory, entry);
    }
    void EndWalk(bool wholeTree) { m_notifier->EndWalk(wholeTree); }
    void Unwatch(std::string_view relativeDirectory) { m_notifier->Unwatch(relativeDirectory); }
    void LoseEvents() { m_notifier->LoseEvents(); }
    /// The changes reported since they were last taken.
    platform::ChangeSet TakeChanges() { return m_notifier->TakeChanges(); }

    /// How changes are gathered into one report: a report goes out once no
    /// change came for quiet, and at the latest maxDelay after the first.
    /// Process-wide; tests lengthen it so that a burst is surely one report.
    static void SetGathering(std::chrono::microseconds quiet, std::chrono::microseconds maxDelay);
    /// The quiet time in force: how long a report waits after the last change.
    static std::chrono::microseconds SettleTime();

private:
    struct State;
    explicit ChangeNotifyThread(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
    platform::ChangeNotifier* m_notifier;  // owned by m_state
};

}  // namespace quorvel
