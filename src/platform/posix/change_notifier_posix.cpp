#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/change_collector.h"
#include "platform/change_notifier.h"
#include "platform/directory_scanner.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

constexpr std::uint32_t kFileEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kWatchMask = kFileEvents | kSelfEvents | IN_ONLYDIR;

std::string ProcFdPath(const UniqueFd& fd) {
    return "/proc/self/fd/" + std::to_string(fd.Get());
}

// A watch that could not be added for want of watches or memory leaves part
// of the tree unwatched; other failures mean the directory is unreadable,
// and a walk cannot read it either.
bool OutOfWatches(int error) {
    return error == ENOSPC || error == ENOMEM;
}

std::string Join(const std::string& directory, std::string_view name) {
    if (directory.empty()) {
        return std::string(name);
    }
    std::string path = directory;
    path += '/';
    path += name;
    return path;
}

}  // namespace

struct ChangeNotifier::Impl : ChangeCollector {
    // One watched directory. Its place in the tree is its parent's watch and
    // its name there, so a directory that moves takes its subtree along.
    struct Watch {
        int parent = -1;  // -1 for the watched directory itself
        std::string name;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t generation = 0;
        std::unordered_map<std::string, int> children;
    };

    UniqueFd inotify;
    UniqueFd stopEvent;
    std::string root;
    bool subtree = false;
    bool directoryNames = false;
    bool walkSubtree = true;
    std::vector<char> buffer = std::vector<char>(64 * 1024);

    // Everything below is shared with the threads that walk the tree.
    mutable std::mutex mutex;
    int rootWatch = -1;
    // The root went away or moved since the changes were last taken: only a
    // walk of the whole tree can tell what is there now.
    bool rootGone = false;
    // While the root is away its parent is watched for its return; -1 when
    // not. givenUp: not even the parent can be watched.
    int parentWatch = -1;
    bool givenUp = false;
    std::unordered_map<int, Watch> watches;
    std::uint64_t generation = 0;
    std::unordered_map<std::uint32_t, int> moving;  // cookie -> watch detached by IN_MOVED_FROM

    // Path of a watched directory relative to the root ("" for the root);
    // nothing when its chain no longer reaches the root.
    std::optional<std::string> RelativePath(int wd) const {
        std::vector<const std::string*> parts;
        for (int w = wd; w != rootWatch;) {
            auto it = watches.find(w);
            if (it == watches.end() || it->second.parent < 0) {
                return std::nullopt;
            }
            parts.push_back(&it->second.name);
            w = it->second.parent;
        }
        return JoinFromLeaf(parts, '/');
    }

    int FindChild(int parent, std::string_view name) const {
        auto it = watches.find(parent);
        if (it == watches.end()) {
            return -1;
        }
        auto child = it->second.children.find(std::string(name));
        return child == it->second.children.end() ? -1 : child->second;
    }

    int FindPath(std::string_view relative) const {
        int wd = rootWatch;
        while (wd >= 0 && !relative.empty()) {
            const std::size_t slash = relative.find('/');
            wd = FindChild(wd, relative.substr(0, slash));
            relative =
                slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
        }
        return wd;
    }

    void Detach(int wd) {
        auto it = watches.find(wd);
        if (it == watches.end()) {
            return;
        }
        auto parent = watches.find(it->second.parent);
        if (parent != watches.end()) {
            auto child = parent->second.children.find(it->second.name);
            if (child != parent->second.children.end() && child->second == wd) {
                parent->second.children.erase(child);
            }
        }
        it->second.parent = -1;
    }

    void Attach(int wd, int parent, std::string_view name) {
        Watch& w = watches[wd];
        w.parent = parent;
        w.name = std::string(name);
        watches[parent].children[w.name] = wd;
    }

    // Stops watching wd and everything below it.
    void RemoveSubtree(int wd) {
        Detach(wd);
        std::vector<int> doomed{wd};
        while (!doomed.empty()) {
            const int w = doomed.back();
            doomed.pop_back();
            auto it = watches.find(w);
            if (it == watches.end()) {
                continue;
            }
            for (const auto& [name, child] : it->second.children) {
                doomed.push_back(child);
            }
            ::inotify_rm_watch(inotify.Get(), w);
            watches.erase(it);
        }
    }

    // Watches the open directory as child name of parent, replacing a stale
    // watch of that name and taking over a watch of the same directory met
    // under another name. Answers the watch, or -1.
    int Place(int parent, std::string_view name, const UniqueFd& fd, std::uint64_t device,
              std::uint64_t inode) {
        const int existing = FindChild(parent, name);
        if (existing >= 0) {
            const Watch& w = watches[existing];
            if (w.device == device && w.inode == inode) {
                watches[existing].generation = generation;
                return existing;
            }
            RemoveSubtree(existing);  // another directory took the name
        }
        const int wd = ::inotify_add_watch(inotify.Get(), ProcFdPath(fd).c_str(), kWatchMask);
        if (wd < 0) {
            if (OutOfWatches(errno)) {
                incomplete = true;
            }
            return -1;
        }
        if (watches.count(wd) != 0) {
            Detach(wd);  // it moved here while we were not looking
        }
        Watch& w = watches[wd];
        w.device = device;
        w.inode = inode;
        w.generation = generation;
        Attach(wd, parent, name);
        return wd;
    }

    // Watches every directory below the one watched by wd (opened as dirPath).
    // Answers true when anything other than a directory was found below it.
    bool AddSubtree(int wd, const std::string& dirPath) {
        struct Visitor : DirectoryScanner::Visitor {
            Impl& impl;
            std::vector<std::pair<std::size_t, int>> stack;  // path length, watch
            bool content = false;
            Visitor(Impl& i, std::size_t rootLength, int rootWd) : impl(i) {
                stack.emplace_back(rootLength, rootWd);
            }
            bool ShouldStop() override { return false; }
            bool Enter(ScanEntry& e) override {
                const std::size_t parentLength = e.FullPath().size() - e.Name().size();
                while (stack.size() > 1 && stack.back().first != parentLength) {
                    stack.pop_back();
                }
                UniqueFd fd = e.OpenAsDirectory();
                if (!fd || !e.Resolve()) {
                    return false;
                }
                const int child =
                    impl.Place(stack.back().second, e.Name(), fd, e.Device(), e.Inode());
                if (child < 0) {
                    return false;
                }
                stack.emplace_back(e.FullPath().size() + 1, child);
                return true;
            }
            void Visit(ScanEntry& e) override {
                if (!e.IsRealDirectory()) {
                    content = true;
                }
            }
        };
        std::string path = dirPath;
        if (path.empty() || path.back() != '/') {
            path += '/';
        }
        Visitor visitor(*this, path.size(), wd);
        DirectoryScanner::Scan(path, visitor);
        return visitor.content;
    }

    // A directory entry name appeared in the directory watched by parent
    // (relative path parentPath): watch it and what is below it. True when
    // it holds anything other than directories.
    bool WatchNewDirectory(int parent, const std::string& parentPath, const std::string& name) {
        const std::string absolute = root + Join(parentPath, name);
        UniqueFd fd = OpenDirectory(absolute);
        struct stat st {};
        if (!fd || ::fstat(fd.Get(), &st) != 0) {
            return false;
        }
        const int child = Place(parent, name, fd, static_cast<std::uint64_t>(st.st_dev),
                                static_cast<std::uint64_t>(st.st_ino));
        newSubtrees.insert(Join(parentPath, name));
        return child >= 0 && AddSubtree(child, absolute);
    }

    // The parent directory of the root and the root's name in it.
    std::pair<std::string, std::string> ParentAndName() const {
        std::string path = root;
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos) {
            return {".", path};
        }
        return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
    }

    // Watches the directory now at the root's path as the root. False when
    // there is none (yet).
    bool WatchRoot() {
        UniqueFd fd = OpenDirectory(root);
        struct stat st {};
        if (!fd || ::fstat(fd.Get(), &st) != 0) {
            return false;
        }
        const int wd = ::inotify_add_watch(inotify.Get(), ProcFdPath(fd).c_str(), kWatchMask);
        if (wd < 0) {
            return false;
        }
        rootWatch = wd;
        Watch& w = watches[wd];
        w = Watch{};
        w.device = static_cast<std::uint64_t>(st.st_dev);
        w.inode = static_cast<std::uint64_t>(st.st_ino);
        w.generation = generation;
        if (subtree && walkSubtree) {
            AddSubtree(rootWatch, root);
        }
        return true;
    }

    // The root was deleted or moved away: the watches of what it held go
    // (a moved tree is not ours any more), and its parent is watched until
    // a directory of the root's name comes back, which is then the root.
    void RootWentAway() {
        rootGone = true;
        for (const auto& [wd, watch] : watches) {
            ::inotify_rm_watch(inotify.Get(), wd);
        }
        rootWatch = -1;
        watches.clear();
        moving.clear();
        if (parentWatch < 0) {
            const auto [parent, name] = ParentAndName();
            parentWatch = ::inotify_add_watch(inotify.Get(), parent.c_str(),
                                              IN_CREATE | IN_MOVED_TO | kSelfEvents | IN_ONLYDIR);
            if (parentWatch < 0) {
                givenUp = true;
                return;
            }
        }
        RootCameBack();  // it may be back already
    }

    // Answers true when the root is watched again.
    bool RootCameBack() {
        if (!WatchRoot()) {
            return false;
        }
        ::inotify_rm_watch(inotify.Get(), parentWatch);
        parentWatch = -1;
        return true;
    }

    // Reads the queued events; answers whether any of them counts.
    bool Drain(std::vector<std::string>* changes, bool& failed) {
        bool changed = false;
        std::lock_guard lock(mutex);
        for (;;) {
            const ssize_t n = ::read(inotify.Get(), buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;  // EAGAIN: nothing more queued
            }
            if (n == 0) {
                break;
            }
            for (std::size_t off = 0; off + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
                inotify_event ev;
                std::memcpy(&ev, buffer.data() + off, sizeof(ev));
                const char* namePtr = buffer.data() + off + sizeof(inotify_event);
                const std::string name =
                    ev.len > 0 ? std::string(namePtr, ::strnlen(namePtr, ev.len)) : std::string();
                off += sizeof(inotify_event) + ev.len;
                if (HandleEvent(ev, name, changes)) {
                    changed = true;
                }
            }
        }
        // A directory moved out of the tree never comes back under a watch.
        for (const auto& [cookie, wd] : moving) {
            RemoveSubtree(wd);
        }
        moving.clear();
        failed = givenUp;
        return changed;
    }

    bool HandleEvent(const inotify_event& ev, const std::string& name,
                     std::vector<std::string>* changes) {
        auto note = [&](std::string path) {
            if (changes != nullptr) {
                changes->push_back(std::move(path));
            }
            return true;
        };
        if ((ev.mask & IN_Q_OVERFLOW) != 0) {
            incomplete = true;
            return note({});
        }
        if (ev.wd == parentWatch && parentWatch >= 0) {
            if ((ev.mask & (kSelfEvents | IN_IGNORED)) != 0) {
                givenUp = true;  // the parent went too: the interval takes over
                return note({});
            }
            const auto [parent, rootName] = ParentAndName();
            if ((ev.mask & IN_ISDIR) != 0 && name == rootName && RootCameBack()) {
                return note({});
            }
            return false;
        }
        if ((ev.mask & IN_IGNORED) != 0) {
            if (ev.wd == rootWatch) {
                RootWentAway();
                return note({});
            }
            if (watches.count(ev.wd) != 0) {
                Detach(ev.wd);
                watches.erase(ev.wd);
            }
            return false;
        }
        if ((ev.mask & kSelfEvents) != 0) {
            if (ev.wd == rootWatch) {
                // The watched directory itself went away or moved.
                RootWentAway();
                return note({});
            }
            return false;  // its parent reports the same as a name change
        }
        if (watches.find(ev.wd) == watches.end()) {
            return false;  // a watch removed a moment ago
        }
        const std::optional<std::string> where = RelativePath(ev.wd);
        if (!where) {
            incomplete = true;  // a watch that lost its place in the tree
            return note({});
        }
        const std::string& relative = *where;
        std::string path = Join(relative, name);
        if ((ev.mask & IN_ISDIR) == 0) {
            if ((ev.mask & kFileEvents) == 0) {
                return false;
            }
            dirtyDirectories[relative].insert(name);
            return note(std::move(path));
        }
        bool relevant = directoryNames && (ev.mask & kNameEvents) != 0;
        if ((ev.mask & (kNameEvents | IN_ATTRIB)) != 0) {
            dirtyDirectories[relative].insert(name);
        }
        if (subtree) {
            if ((ev.mask & IN_MOVED_FROM) != 0) {
                const int child = FindChild(ev.wd, name);
                if (child >= 0) {
                    Detach(child);
                    moving[ev.cookie] = child;
                }
                // Files that left with a moved directory are gone from here.
                relevant = true;
            } else if ((ev.mask & IN_DELETE) != 0) {
                const int child = FindChild(ev.wd, name);
                if (child >= 0) {
                    RemoveSubtree(child);
                }
            } else if ((ev.mask & IN_MOVED_TO) != 0 && moving.count(ev.cookie) != 0) {
                // Moved within the tree: the watches move along.
                const int moved = moving[ev.cookie];
                moving.erase(ev.cookie);
                const int stale = FindChild(ev.wd, name);
                if (stale >= 0 && stale != moved) {
                    RemoveSubtree(stale);
                }
                Attach(moved, ev.wd, name);
                newSubtrees.insert(path);
                relevant = true;
            } else if ((ev.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                // A new directory, or one moved in from outside, replacing
                // whatever had its name.
                if (WatchNewDirectory(ev.wd, relative, name)) {
                    relevant = true;
                }
            } else if ((ev.mask & IN_ATTRIB) != 0 && FindChild(ev.wd, name) < 0) {
                // A directory that could not be read may have become readable.
                if (WatchNewDirectory(ev.wd, relative, name)) {
                    relevant = true;
                }
            }
        }
        return relevant ? note(std::move(path)) : false;
    }
};

ChangeNotifier::ChangeNotifier() : m_impl(std::make_unique<Impl>()) {
    m_impl->stopEvent.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

ChangeNotifier::~ChangeNotifier() = default;

bool ChangeNotifier::Start(const std::string& path, bool subtree, bool directoryNames,
                           bool walkSubtree) {
    Impl& d = *m_impl;
    std::lock_guard lock(d.mutex);
    d.inotify.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    d.watches.clear();
    d.moving.clear();
    d.rootWatch = -1;
    d.parentWatch = -1;
    d.rootGone = false;
    d.givenUp = false;
    if (!d.inotify || !d.stopEvent) {
        return false;
    }
    d.root = path.empty() ? "./" : path;
    if (d.root.back() != '/') {
        d.root += '/';
    }
    d.subtree = subtree;
    d.directoryNames = directoryNames;
    d.walkSubtree = walkSubtree;
    if (!d.WatchRoot()) {
        d.inotify.Reset();
        return false;
    }
    return true;
}

ChangeNotifier::Result ChangeNotifier::Wait(const WaitOptions& options,
                                            std::vector<std::string>* changes) {
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        if (!d.inotify || d.givenUp) {
            return Result::Failed;
        }
    }
    using Clock = std::chrono::steady_clock;
    // A timer wakes a tenth of a millisecond or more after it is due; the
    // last stretch of the quiet time is waited by polling, so that the check
    // starts when the quiet time ends and not when the timer comes round.
    constexpr auto kPolledStretch = std::chrono::microseconds(250);
    bool changed = false;
    Clock::time_point deadline{};
    Clock::time_point quietEnd{};
    for (;;) {
        timespec timeout{};
        timespec* limit = nullptr;
        if (changed) {
            const auto now = Clock::now();
            const auto end = std::min(deadline, quietEnd);
            if (now >= end) {
                return Result::Changed;
            }
            const auto left = end - now;
            if (left > kPolledStretch) {
                const auto sleep =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(left - kPolledStretch);
                timeout.tv_sec = static_cast<time_t>(sleep.count() / 1000000000);
                timeout.tv_nsec = static_cast<long>(sleep.count() % 1000000000);
            } else {
                ::sched_yield();
            }
            limit = &timeout;
        }
        pollfd fds[2] = {{d.stopEvent.Get(), POLLIN, 0}, {d.inotify.Get(), POLLIN, 0}};
        const int r = ::ppoll(fds, 2, limit, nullptr);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return changed ? Result::Changed : Result::Failed;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return Result::Stopped;  // the stop stays signalled for later waits
        }
        if (r == 0) {
            continue;  // the time is looked at above
        }
        if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return changed ? Result::Changed : Result::Failed;
        }
        bool failed = false;
        if (d.Drain(changes, failed)) {
            const auto now = Clock::now();
            if (!changed) {
                changed = true;
                deadline = now + options.maxDelay;
            }
            quietEnd = now + options.quiet;
        }
        if (failed) {
            return changed ? Result::Changed : Result::Failed;
        }
    }
}

void ChangeNotifier::Stop() {
    const std::uint64_t one = 1;
    if (m_impl->stopEvent) {
        [[maybe_unused]] ssize_t n = ::write(m_impl->stopEvent.Get(), &one, sizeof(one));
    }
}

ChangeSet ChangeNotifier::TakeChanges() {
    std::lock_guard lock(m_impl->mutex);
    ChangeSet set = m_impl->TakeCollected(m_impl->rootGone);
    // Told once; while the root is still away every walk is whole anyway.
    m_impl->rootGone = m_impl->rootWatch < 0;
    return set;
}

void ChangeNotifier::BeginWalk() {
    std::lock_guard lock(m_impl->mutex);
    ++m_impl->generation;
    if (auto it = m_impl->watches.find(m_impl->rootWatch); it != m_impl->watches.end()) {
        it->second.generation = m_impl->generation;
    }
}

bool ChangeNotifier::EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry) {
    Impl& d = *m_impl;
    if (!entry.Resolve()) {
        return false;  // gone since it was listed: nothing to watch
    }
    std::lock_guard lock(d.mutex);
    if (!d.inotify) {
        return false;
    }
    const std::size_t slash = relativeDirectory.rfind('/');
    const std::string_view parentPath =
        slash == std::string_view::npos ? std::string_view() : relativeDirectory.substr(0, slash);
    const std::string_view name =
        slash == std::string_view::npos ? relativeDirectory : relativeDirectory.substr(slash + 1);
    const int parent = d.FindPath(parentPath);
    if (parent < 0) {
        d.incomplete = true;  // its parent is not watched: changes may pass unseen
        return false;
    }
    const int existing = d.FindChild(parent, name);
    if (existing >= 0) {
        Impl::Watch& w = d.watches[existing];
        if (w.device == entry.Device() && w.inode == entry.Inode()) {
            w.generation = d.generation;
            return true;
        }
    }
    UniqueFd fd = entry.OpenAsDirectory();
    if (!fd) {
        return false;
    }
    return d.Place(parent, name, fd, entry.Device(), entry.Inode()) >= 0;
}

void ChangeNotifier::EndWalk(bool wholeTree) {
    Impl& d = *m_impl;
    std::lock_guard lock(d.mutex);
    if (!wholeTree || !d.inotify) {
        return;
    }
    std::vector<int> unseen;
    for (const auto& [wd, watch] : d.watches) {
        if (wd != d.rootWatch && watch.generation < d.generation) {
            unseen.push_back(wd);
        }
    }
    for (int wd : unseen) {
        d.RemoveSubtree(wd);
    }
}

void ChangeNotifier::Unwatch(std::string_view relativeDirectory) {
    Impl& d = *m_impl;
    std::lock_guard lock(d.mutex);
    const int wd = d.FindPath(relativeDirectory);
    if (wd >= 0 && wd != d.rootWatch) {
        d.RemoveSubtree(wd);
    }
}

void ChangeNotifier::LoseEvents() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->incomplete = true;
}

std::size_t ChangeNotifier::WatchCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->watches.size();
}

bool ChangeNotifier::IsWatched(std::string_view relativeDirectory) const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->FindPath(relativeDirectory) >= 0;
}

}  // namespace quorvel::platform
