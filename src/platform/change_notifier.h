#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel::platform {

class ScanEntry;

/// What changed under a watched directory since the changes were last
/// taken. Directories are named relative to the watched one ("" is the
/// watched directory itself, "a/b" a directory below it).
struct ChangeSet {
    /// Directories whose entries changed (created, deleted, renamed,
    /// written, given new attributes).
    std::vector<std::string> directories;
    /// For each of those directories, the names of its entries that changed;
    /// the others are as they were.
    std::unordered_map<std::string, std::unordered_set<std::string>> names;
    /// Directories that came into the tree or became readable: everything
    /// below them is new to whoever walked the tree before.
    std::vector<std::string> newSubtrees;
    /// Events were lost (the kernel's queue overflowed) or a directory
    /// could not be watched: only a walk of the whole tree is sure to see
    /// every change.
    bool incomplete = false;
    /// The watched directory itself went away or moved.
    bool rootGone = false;

    bool Empty() const {
        return directories.empty() && newSubtrees.empty() && !incomplete && !rootGone;
    }
};

/// Waits for changes in a directory, optionally with its whole subtree:
/// entries created, deleted or renamed, and files written or given a new
/// time. Changes to directory entries count only when asked for. Watches
/// follow the subtree as directories appear, move and disappear, and a walk
/// of the tree can make sure that every directory it walks is watched
/// (EnsureWatched). A lost event queue counts as a change.
///
/// Start and Wait run on one thread; Stop, EnsureWatched, BeginWalk,
/// EndWalk and TakeChanges may be called from any thread.
class ChangeNotifier {
public:
    ChangeNotifier();
    ~ChangeNotifier();
    ChangeNotifier(const ChangeNotifier&) = delete;
    ChangeNotifier& operator=(const ChangeNotifier&) = delete;

    /// Registers for changes under path. False when the directory cannot be
    /// watched (missing, not a directory, no access, out of watches). With
    /// walkSubtree, every directory below is watched now (where watches are
    /// left); without, the subtree is watched as a walk reports it.
    bool Start(const std::string& path, bool subtree, bool directoryNames, bool walkSubtree = true);

    enum class Result { Changed, Stopped, Failed };

    struct WaitOptions {
        /// After a change, keep collecting until no change came for this long,
        /// so that a burst of changes is reported once...
        std::chrono::microseconds quiet{30000};
        /// ...but never later than this after the first change.
        std::chrono::microseconds maxDelay{100000};
    };

    /// Blocks until a change (then answers Changed), Stop (Stopped), or the
    /// watch ending for good, for example when the directory was removed
    /// (Failed; a removal is first reported as a change). When changes is
    /// given, the paths of the changes below the watched directory are
    /// appended to it (an empty path for a lost queue or the directory
    /// itself). Every change is also kept for TakeChanges.
    Result Wait(const WaitOptions& options, std::vector<std::string>* changes = nullptr);

    /// Makes the current or the next Wait answer Stopped. Never blocks.
    void Stop();

    /// Hands over the changes gathered since the last call.
    ChangeSet TakeChanges();

    /// A walk of the tree starts: directories it reports through
    /// EnsureWatched count as present.
    void BeginWalk();
    /// The directory entry (relativeDirectory, relative to the watched one,
    /// names it) is about to be walked: watch it when it is not watched yet,
    /// before its entries are read, so no change in it is missed. False when
    /// no watch could be added (the next changes are then incomplete).
    bool EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry);
    /// The walk ended. When it walked the whole tree, watches of directories
    /// it did not report and that did not appear meanwhile are dropped.
    void EndWalk(bool wholeTree);
    /// Stops watching a directory and everything below it, for example
    /// when a walk found it gone.
    void Unwatch(std::string_view relativeDirectory);

    /// Counts as if the kernel's queue had overflowed (for tests): the next
    /// changes taken are incomplete.
    void LoseEvents();

    /// Number of directories watched (for tests).
    std::size_t WatchCount() const;
    /// True when relativeDirectory is watched (for tests).
    bool IsWatched(std::string_view relativeDirectory) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
