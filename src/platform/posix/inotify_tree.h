#pragma once

#include <sys/inotify.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/change_collector.h"
#include "platform/change_notifier.h"

namespace quorvel::platform {

class InotifyTree;
class ScanEntry;

/// What every watch asks of the kernel. One mask for all, because the
/// kernel keeps one watch per directory and instance: a tree that asked for
/// less would take events from another tree watching the same directory.
constexpr std::uint32_t kInotifyWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                            IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                            IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

/// The kernel's watches of one inotify instance. Several trees may share an
/// instance, and the kernel gives one watch per directory however many trees
/// ask for it, so a watch is only removed when no tree uses it any more.
class KernelWatches {
public:
    virtual ~KernelWatches() = default;
    /// The watch of the directory at path for tree; -1 with errno set when
    /// the kernel refuses it.
    virtual int Add(const std::string& path, InotifyTree& tree) = 0;
    /// The tree no longer uses the watch.
    virtual void Remove(int wd, InotifyTree& tree) = 0;
};

/// One watched tree on an inotify instance: the parent/child tree of its
/// watches (a directory that moves takes its subtree along), the changes
/// gathered since they were last taken, and the watch of the root's parent
/// while the root is away. Every member function takes the tree's lock;
/// Handle is called by whoever reads the instance's events.
class InotifyTree : public ChangeCollector {
public:
    InotifyTree(KernelWatches& kernel, std::string root, bool subtree, bool directoryNames,
                bool walkSubtree);
    ~InotifyTree();
    InotifyTree(const InotifyTree&) = delete;
    InotifyTree& operator=(const InotifyTree&) = delete;

    /// Watches the root (and, with walkSubtree, every directory below it).
    /// False, with errno set, when the root cannot be watched.
    bool Start();
    /// Stops watching: every kernel watch of the tree is given back.
    void Close();

    /// Takes one event of the instance; answers whether it counts as a
    /// change (the path below the root goes to changes when given).
    bool Handle(const inotify_event& event, std::string_view name,
                std::vector<std::string>* changes);
    /// A batch of events ended: directories moved out of the tree go.
    void EndBatch();

    /// False once not even the root's parent can be watched: the tree sees
    /// nothing any more.
    bool Active() const;
    /// Why changes may pass unseen (no watch left for a directory), or empty.
    std::string Problem() const;

    ChangeSet TakeChanges();
    void BeginWalk();
    bool EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry);
    void EndWalk(bool wholeTree);
    void Unwatch(std::string_view relativeDirectory);
    /// Counts as if the kernel's queue had overflowed: the next changes
    /// taken are incomplete.
    void LoseEvents();
    std::size_t WatchCount() const;
    bool IsWatched(std::string_view relativeDirectory) const;

private:
    struct Watch {
        int parent = -1;  // -1 for the root itself
        std::string name;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t generation = 0;
        std::unordered_map<std::string, int> children;
    };

    std::optional<std::string> RelativePath(int wd) const;
    int FindChild(int parent, std::string_view name) const;
    int FindPath(std::string_view relative) const;
    void Detach(int wd);
    void Attach(int wd, int parent, std::string_view name);
    void RemoveSubtree(int wd);
    int AddKernelWatch(const std::string& path);
    int Place(int parent, std::string_view name, int fd, std::uint64_t device,
              std::uint64_t inode);
    bool AddSubtree(int wd, const std::string& dirPath);
    bool WatchNewDirectory(int parent, const std::string& parentPath, const std::string& name);
    std::pair<std::string, std::string> ParentAndName() const;
    bool WatchRoot();
    void RootWentAway();
    bool RootCameBack();
    bool HandleLocked(const inotify_event& ev, const std::string& name,
                      std::vector<std::string>* changes);

    KernelWatches& m_kernel;
    const std::string m_root;  // ends with "/"
    const bool m_subtree;
    const bool m_directoryNames;
    const bool m_walkSubtree;

    mutable std::mutex m_mutex;
    int m_rootWatch = -1;
    // The root went away or moved since the changes were last taken: only a
    // walk of the whole tree can tell what is there now.
    bool m_rootGone = false;
    // While the root is away its parent is watched for its return.
    int m_parentWatch = -1;
    bool m_givenUp = false;
    bool m_closed = false;
    std::string m_problem;
    std::unordered_map<int, Watch> m_watches;
    std::uint64_t m_generation = 0;
    std::unordered_map<std::uint32_t, int> m_moving;  // cookie -> watch detached by IN_MOVED_FROM
};

}  // namespace quorvel::platform
