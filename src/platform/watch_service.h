#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/change_notifier.h"

namespace quorvel::platform {

class ScanEntry;

/// How many directories one user may watch at once (on Linux the kernel's
/// fs.inotify.max_user_watches); nothing where the system sets no such limit.
std::optional<long> WatchLimitPerUser();

/// The process's watcher of directory trees. On Linux one inotify instance
/// and one thread serve every tree, however many are watched (the kernel
/// allows a user 128 instances, shared with every other program of that
/// user); each tree keeps its own watches and changes.
///
/// Changes are gathered into reports: a report goes out once no change came
/// for the quiet time, and at the latest maxDelay after the first change.
class WatchService {
public:
    struct Gathering {
        std::chrono::microseconds quiet{30000};
        std::chrono::microseconds maxDelay{100000};
    };

    /// One watched tree. The calls have the meaning of ChangeNotifier's and
    /// may come from any thread. Destroying it stops watching; onChange is
    /// never called after the destructor has returned.
    class Watch {
    public:
        virtual ~Watch() = default;
        /// True while the tree is watched, or while its root is away and
        /// its return is waited for; false once nothing can be watched.
        virtual bool Active() const = 0;
        /// Why changes may pass unseen (no watch was left for a directory),
        /// as a sentence; empty when nothing is wrong.
        virtual std::string Problem() const = 0;
        virtual ChangeSet TakeChanges() = 0;
        virtual void BeginWalk() = 0;
        virtual bool EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry) = 0;
        virtual void EndWalk(bool wholeTree) = 0;
        virtual void Unwatch(std::string_view relativeDirectory) = 0;
        virtual void LoseEvents() = 0;
        virtual std::size_t WatchCount() const = 0;
    };

    WatchService();
    /// Stops the thread and waits for it. Every Watch must be gone by then.
    ~WatchService();
    WatchService(const WatchService&) = delete;
    WatchService& operator=(const WatchService&) = delete;

    /// The service of the process, made at first use and ended after main.
    static WatchService& Process();

    /// Watches path (with its subtree when subtree is set; directory entries
    /// count only when directoryNames is set). The directories below are
    /// watched as walks report them (EnsureWatched). onChange is called on
    /// the service's thread for every report, and once more when the tree
    /// can no longer be watched. Nothing, with the reason in error, when the
    /// root cannot be watched.
    std::unique_ptr<Watch> Add(const std::string& path, bool subtree, bool directoryNames,
                               std::function<void()> onChange, std::string* error = nullptr);

    void SetGathering(Gathering gathering);
    Gathering CurrentGathering() const;

    /// At most this many kernel watches may be added from now on; each one
    /// more is refused as when the kernel's limit is reached (for tests).
    /// Negative: no limit but the kernel's.
    void SetWatchLimit(long limit);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
