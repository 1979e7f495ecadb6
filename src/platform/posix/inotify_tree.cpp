#include "platform/posix/inotify_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/directory_scanner.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

constexpr std::uint32_t kFileEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;

std::string ProcFdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
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

std::string WithSeparator(std::string path) {
    if (path.empty()) {
        path = "./";
    }
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}

}  // namespace

InotifyTree::InotifyTree(KernelWatches& kernel, std::string root, bool subtree,
                         bool directoryNames, bool walkSubtree)
    : m_kernel(kernel),
      m_root(WithSeparator(std::move(root))),
      m_subtree(subtree),
      m_directoryNames(directoryNames),
      m_walkSubtree(walkSubtree) {}

InotifyTree::~InotifyTree() {
    Close();
}

bool InotifyTree::Start() {
    std::lock_guard lock(m_mutex);
    return WatchRoot();
}

void InotifyTree::Close() {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_closed = true;
    for (const auto& [wd, watch] : m_watches) {
        m_kernel.Remove(wd, *this);
    }
    m_watches.clear();
    if (m_parentWatch >= 0) {
        m_kernel.Remove(m_parentWatch, *this);
        m_parentWatch = -1;
    }
    m_rootWatch = -1;
}

// ---- the tree of watches ----

// Path of a watched directory relative to the root ("" for the root);
// nothing when its chain no longer reaches the root.
std::optional<std::string> InotifyTree::RelativePath(int wd) const {
    std::vector<const std::string*> parts;
    for (int w = wd; w != m_rootWatch;) {
        auto it = m_watches.find(w);
        if (it == m_watches.end() || it->second.parent < 0) {
            return std::nullopt;
        }
        parts.push_back(&it->second.name);
        w = it->second.parent;
    }
    return JoinFromLeaf(parts, '/');
}

int InotifyTree::FindChild(int parent, std::string_view name) const {
    auto it = m_watches.find(parent);
    if (it == m_watches.end()) {
        return -1;
    }
    auto child = it->second.children.find(std::string(name));
    return child == it->second.children.end() ? -1 : child->second;
}

int InotifyTree::FindPath(std::string_view relative) const {
    int wd = m_rootWatch;
    while (wd >= 0 && !relative.empty()) {
        const std::size_t slash = relative.find('/');
        wd = FindChild(wd, relative.substr(0, slash));
        relative =
            slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    }
    return wd;
}

void InotifyTree::Detach(int wd) {
    auto it = m_watches.find(wd);
    if (it == m_watches.end()) {
        return;
    }
    auto parent = m_watches.find(it->second.parent);
    if (parent != m_watches.end()) {
        auto child = parent->second.children.find(it->second.name);
        if (child != parent->second.children.end() && child->second == wd) {
            parent->second.children.erase(child);
        }
    }
    it->second.parent = -1;
}

void InotifyTree::Attach(int wd, int parent, std::string_view name) {
    Watch& w = m_watches[wd];
    w.parent = parent;
    w.name = std::string(name);
    m_watches[parent].children[w.name] = wd;
}

// Stops watching wd and everything below it.
void InotifyTree::RemoveSubtree(int wd) {
    Detach(wd);
    std::vector<int> doomed{wd};
    while (!doomed.empty()) {
        const int w = doomed.back();
        doomed.pop_back();
        auto it = m_watches.find(w);
        if (it == m_watches.end()) {
            continue;
        }
        for (const auto& [name, child] : it->second.children) {
            doomed.push_back(child);
        }
        m_kernel.Remove(w, *this);
        m_watches.erase(it);
    }
}

int InotifyTree::AddKernelWatch(const std::string& path) {
    const int wd = m_kernel.Add(path, *this);
    if (wd < 0 && OutOfWatches(errno)) {
        incomplete = true;
        if (m_problem.empty()) {
            m_problem = errno == ENOSPC
                            ? "the kernel's limit of watched directories is reached "
                              "(fs.inotify.max_user_watches)"
                            : "the kernel has no memory left for watches";
        }
    }
    return wd;
}

// Watches the open directory as child name of parent, replacing a stale
// watch of that name and taking over a watch of the same directory met
// under another name. Answers the watch, or -1.
int InotifyTree::Place(int parent, std::string_view name, int fd, std::uint64_t device,
                       std::uint64_t inode) {
    const int existing = FindChild(parent, name);
    if (existing >= 0) {
        Watch& w = m_watches[existing];
        if (w.device == device && w.inode == inode) {
            w.generation = m_generation;
            return existing;
        }
        RemoveSubtree(existing);  // another directory took the name
    }
    const int wd = AddKernelWatch(ProcFdPath(fd));
    if (wd < 0) {
        return -1;
    }
    if (m_watches.count(wd) != 0) {
        Detach(wd);  // it moved here while we were not looking
    }
    Watch& w = m_watches[wd];
    w.device = device;
    w.inode = inode;
    w.generation = m_generation;
    Attach(wd, parent, name);
    return wd;
}

// Watches every directory below the one watched by wd (opened as dirPath).
// Answers true when anything other than a directory was found below it.
bool InotifyTree::AddSubtree(int wd, const std::string& dirPath) {
    struct Visitor : DirectoryScanner::Visitor {
        InotifyTree& tree;
        std::vector<std::pair<std::size_t, int>> stack;  // path length, watch
        bool content = false;
        Visitor(InotifyTree& t, std::size_t rootLength, int rootWd) : tree(t) {
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
                tree.Place(stack.back().second, e.Name(), fd.Get(), e.Device(), e.Inode());
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
    const std::string path = WithSeparator(dirPath);
    Visitor visitor(*this, path.size(), wd);
    DirectoryScanner::Scan(path, visitor);
    return visitor.content;
}

// A directory entry name appeared in the directory watched by parent
// (relative path parentPath): watch it and what is below it. True when it
// holds anything other than directories.
bool InotifyTree::WatchNewDirectory(int parent, const std::string& parentPath,
                                    const std::string& name) {
    const std::string absolute = m_root + Join(parentPath, name);
    UniqueFd fd = OpenDirectory(absolute);
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        return false;
    }
    const int child = Place(parent, name, fd.Get(), static_cast<std::uint64_t>(st.st_dev),
                            static_cast<std::uint64_t>(st.st_ino));
    newSubtrees.insert(Join(parentPath, name));
    return child >= 0 && AddSubtree(child, absolute);
}

// ---- the root ----

// The parent directory of the root and the root's name in it.
std::pair<std::string, std::string> InotifyTree::ParentAndName() const {
    std::string path = m_root;
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
// there is none (yet) or it cannot be watched.
bool InotifyTree::WatchRoot() {
    UniqueFd fd = OpenDirectory(m_root);
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        return false;
    }
    const int wd = AddKernelWatch(ProcFdPath(fd.Get()));
    if (wd < 0) {
        return false;
    }
    m_rootWatch = wd;
    Watch& w = m_watches[wd];
    w = Watch{};
    w.device = static_cast<std::uint64_t>(st.st_dev);
    w.inode = static_cast<std::uint64_t>(st.st_ino);
    w.generation = m_generation;
    if (m_subtree && m_walkSubtree) {
        AddSubtree(m_rootWatch, m_root);
    }
    return true;
}

// The root was deleted or moved away: the watches of what it held go (a
// moved tree is not ours any more), and its parent is watched until a
// directory of the root's name comes back, which is then the root.
void InotifyTree::RootWentAway() {
    m_rootGone = true;
    for (const auto& [wd, watch] : m_watches) {
        m_kernel.Remove(wd, *this);
    }
    m_rootWatch = -1;
    m_watches.clear();
    m_moving.clear();
    if (m_parentWatch < 0) {
        m_parentWatch = m_kernel.Add(ParentAndName().first, *this);
        if (m_parentWatch < 0) {
            m_givenUp = true;
            return;
        }
    }
    RootCameBack();  // it may be back already
}

// Answers true when the root is watched again.
bool InotifyTree::RootCameBack() {
    if (!WatchRoot()) {
        return false;
    }
    m_kernel.Remove(m_parentWatch, *this);
    m_parentWatch = -1;
    return true;
}

// ---- events ----

bool InotifyTree::Handle(const inotify_event& event, std::string_view name,
                         std::vector<std::string>* changes) {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return false;
    }
    return HandleLocked(event, std::string(name), changes);
}

void InotifyTree::EndBatch() {
    std::lock_guard lock(m_mutex);
    // A directory moved out of the tree never comes back under a watch.
    for (const auto& [cookie, wd] : m_moving) {
        RemoveSubtree(wd);
    }
    m_moving.clear();
}

bool InotifyTree::HandleLocked(const inotify_event& ev, const std::string& name,
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
    if (m_parentWatch >= 0 && ev.wd == m_parentWatch) {
        if ((ev.mask & (kSelfEvents | IN_IGNORED)) != 0) {
            m_parentWatch = -1;
            m_givenUp = true;  // the parent went too: the interval takes over
            return note({});
        }
        if ((ev.mask & IN_ISDIR) != 0 && (ev.mask & (IN_CREATE | IN_MOVED_TO)) != 0 &&
            name == ParentAndName().second && RootCameBack()) {
            return note({});
        }
        return false;
    }
    if (ev.wd == m_rootWatch && (ev.mask & (IN_IGNORED | kSelfEvents)) != 0) {
        // The watched directory itself went away or moved.
        RootWentAway();
        return note({});
    }
    if ((ev.mask & IN_IGNORED) != 0) {
        if (m_watches.count(ev.wd) != 0) {
            Detach(ev.wd);
            m_watches.erase(ev.wd);
        }
        return false;
    }
    if ((ev.mask & kSelfEvents) != 0) {
        return false;  // its parent reports the same as a name change
    }
    if (m_watches.find(ev.wd) == m_watches.end()) {
        return false;  // a watch removed a moment ago, or another tree's
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
    bool relevant = m_directoryNames && (ev.mask & kNameEvents) != 0;
    if ((ev.mask & (kNameEvents | IN_ATTRIB)) != 0) {
        dirtyDirectories[relative].insert(name);
    }
    if (m_subtree) {
        if ((ev.mask & IN_MOVED_FROM) != 0) {
            const int child = FindChild(ev.wd, name);
            if (child >= 0) {
                Detach(child);
                m_moving[ev.cookie] = child;
            }
            // Files that left with a moved directory are gone from here.
            relevant = true;
        } else if ((ev.mask & IN_DELETE) != 0) {
            const int child = FindChild(ev.wd, name);
            if (child >= 0) {
                RemoveSubtree(child);
            }
        } else if ((ev.mask & IN_MOVED_TO) != 0 && m_moving.count(ev.cookie) != 0) {
            // Moved within the tree: the watches move along.
            const int moved = m_moving[ev.cookie];
            m_moving.erase(ev.cookie);
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

// ---- what the walks of the tree ask ----

bool InotifyTree::Active() const {
    std::lock_guard lock(m_mutex);
    return !m_closed && !m_givenUp;
}

std::string InotifyTree::Problem() const {
    std::lock_guard lock(m_mutex);
    return m_problem;
}

ChangeSet InotifyTree::TakeChanges() {
    std::lock_guard lock(m_mutex);
    ChangeSet set = TakeCollected(m_rootGone);
    // Told once; while the root is still away every walk is whole anyway.
    m_rootGone = m_rootWatch < 0;
    return set;
}

void InotifyTree::BeginWalk() {
    std::lock_guard lock(m_mutex);
    ++m_generation;
    if (auto it = m_watches.find(m_rootWatch); it != m_watches.end()) {
        it->second.generation = m_generation;
    }
}

bool InotifyTree::EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry) {
    if (!entry.Resolve()) {
        return false;  // gone since it was listed: nothing to watch
    }
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return false;
    }
    const std::size_t slash = relativeDirectory.rfind('/');
    const std::string_view parentPath =
        slash == std::string_view::npos ? std::string_view() : relativeDirectory.substr(0, slash);
    const std::string_view name =
        slash == std::string_view::npos ? relativeDirectory : relativeDirectory.substr(slash + 1);
    const int parent = FindPath(parentPath);
    if (parent < 0) {
        incomplete = true;  // its parent is not watched: changes may pass unseen
        return false;
    }
    const int existing = FindChild(parent, name);
    if (existing >= 0) {
        Watch& w = m_watches[existing];
        if (w.device == entry.Device() && w.inode == entry.Inode()) {
            w.generation = m_generation;
            return true;
        }
    }
    UniqueFd fd = entry.OpenAsDirectory();
    if (!fd) {
        return false;
    }
    return Place(parent, name, fd.Get(), entry.Device(), entry.Inode()) >= 0;
}

void InotifyTree::EndWalk(bool wholeTree) {
    std::lock_guard lock(m_mutex);
    if (!wholeTree || m_closed) {
        return;
    }
    std::vector<int> unseen;
    for (const auto& [wd, watch] : m_watches) {
        if (wd != m_rootWatch && watch.generation < m_generation) {
            unseen.push_back(wd);
        }
    }
    for (int wd : unseen) {
        RemoveSubtree(wd);
    }
}

void InotifyTree::Unwatch(std::string_view relativeDirectory) {
    std::lock_guard lock(m_mutex);
    const int wd = FindPath(relativeDirectory);
    if (wd >= 0 && wd != m_rootWatch) {
        RemoveSubtree(wd);
    }
}

void InotifyTree::LoseEvents() {
    std::lock_guard lock(m_mutex);
    incomplete = true;
}

std::size_t InotifyTree::WatchCount() const {
    std::lock_guard lock(m_mutex);
    return m_watches.size();
}

bool InotifyTree::IsWatched(std::string_view relativeDirectory) const {
    std::lock_guard lock(m_mutex);
    return FindPath(relativeDirectory) >= 0;
}

}  // namespace quorvel::platform
