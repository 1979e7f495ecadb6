#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/mask_list.h"
#include "engine/base_monitoring.h"
#include "engine/change_notify_thread.h"
#include "engine/dir_scan.h"
#include "engine/snapshot.h"

namespace quorvel {

/// A monitored directory, optionally with its subtree: reports files added,
/// changed or deleted since the previous check (or their absence), or files
/// older than a limit. The snapshot may be kept in a cache file between runs,
/// and changes reported by the system may bring the next check forward.
class CheckDirThread : public BaseMonitoring {
public:
    /// A new item; its "CacheDirectory" defaults to defaultCacheDirectory
    /// (the program's option), else to the user's cache directory.
    static std::shared_ptr<CheckDirThread> Create(bool paused,
                                                  const std::string& defaultCacheDirectory = {});
    ~CheckDirThread() override;

    void ApplySettings() override;
    void CheckNow(bool resumeIfPaused) override;
    void SetReset(bool rescan) override;

    std::string CacheId() const { return m_cacheId->Value(); }
    std::string CacheDirectory() const { return m_cacheDirectory->Value(); }
    /// The cache file this item reads and writes.
    std::string CachePath() const;
    bool StorePrevInfo() const { return m_storePrevInfo->Value(); }
    ConditionType Condition() const { return static_cast<ConditionType>(m_conditionType->Value()); }
    /// True while a change watcher runs for the item.
    bool Watching() const;
    /// Why the item cannot react to changes at once (the kernel refused a
    /// watch), or empty. The log says it once.
    std::string RealTimeProblem() const;
    /// Entries in the snapshot of the last completed check.
    std::size_t SnapshotSize() const { return m_snapshotSize.load(std::memory_order_acquire); }
    /// Checks that ran to their end (not postponed, not cut short).
    std::uint64_t CompletedChecks() const { return m_completed.load(std::memory_order_acquire); }
    /// Checks that read only the directories a notification named.
    std::uint64_t IncrementalChecks() const {
        return m_incrementalChecks.load(std::memory_order_acquire);
    }
    /// As if the kernel had lost change events (for tests).
    void SimulateLostEvents();
    /// Process-wide: whether notifications may bring checks of only what
    /// changed (on unless a benchmark compares with whole checks).
    static void SetIncrementalChecks(bool on);

protected:
    CheckDirThread(bool paused, const std::string& defaultCacheDirectory);
    /// Loads the cache, when the item keeps one.
    void Prepare() override;
    bool Check() override;
    void AfterCheck(bool chainCompleted) override;

private:
    bool IncrementalAllowed(const DirScanRules& rules) const;

    void RestartWatcher(const std::string& path);
    void StopWatcher();
    void NoteRealTimeProblem(const std::string& problem);

    Snapshot m_snapshot;
    Snapshot m_spare;  // worker only: room for the next snapshot
    bool m_fromCache = false;
    bool m_cachePending = false;  // worker only
    bool m_cacheFailing = false;  // worker only: the last cache write failed
    std::unique_ptr<ChangeNotifyThread> m_watcher;
    bool m_watchedSubtree = false;         // worker only: what the watcher covers
    bool m_watchedDirectoryNames = false;  // worker only
    mutable std::mutex m_watcherMutex;
    std::string m_realTimeProblem;  // guarded by m_watcherMutex
    MaskList m_masks, m_excludeMasks, m_dirMasks, m_exclDirMasks;
    std::atomic<double> m_lastCheckTime{0.0};
    std::atomic<std::size_t> m_snapshotSize{0};
    std::atomic<std::uint64_t> m_completed{0};
    std::atomic<std::uint64_t> m_incrementalChecks{0};
    std::atomic<bool> m_notified{false};  // a notification asked for the next check
    std::atomic<bool> m_wholeNext{true};  // the next check reads the whole tree
    std::string m_lastWalk;               // worker only: path and masks of the last walk
    std::vector<std::string> m_volatile;  // worker only: entries to look at in every walk

    StringParam* m_cacheId;
    BoolParam* m_realTime;
    IntParam* m_realTimeInterval;
    BoolParam* m_cacheData;
    BoolParam* m_checkExistingOnly;
    StringParam* m_cacheDirectory;
    StringParam* m_mask;
    StringParam* m_excludeMask;
    StringParam* m_dirMask;
    StringParam* m_exclDirMask;
    BoolParam* m_fullPathMask;
    BoolParam* m_dirMonitoring;
    BoolParam* m_subdir;
    BoolParam* m_countHidden;
    BoolParam* m_inverse;
    StringParam* m_conditions;
    BoolParam* m_storePrevInfo;
    IntParam* m_conditionType;
    IntParam* m_olderInterval;
    BoolParam* m_ignoreAdded;
    BoolParam* m_ignoreOpened;
    BoolParam* m_break;
};

}  // namespace quorvel
