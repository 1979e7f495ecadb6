#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/change_notifier.h"
#include "platform/directory_scanner.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

constexpr std::uint32_t kFileEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kWatchMask = kFileEvents | kSelfEvents | IN_ONLYDIR;

std::string ProcFdPath(const UniqueFd& fd) { return "/proc/self/fd/" + std::to_string(fd.Get()); }

}  // namespace

struct ChangeNotifier::Impl {
    struct Watch {
        int parent = -1;  // watch of the directory holding it; -1 for the root
        std::string name;
    };

    UniqueFd inotify;
    UniqueFd stopEvent;
    std::string root;
    bool subtree = false;
    bool directoryNames = false;
    int rootWatch = -1;
    bool rootGone = false;
    std::unordered_map<int, Watch> watches;
    std::vector<char> buffer = std::vector<char>(64 * 1024);

    // Path of a watched directory relative to the root ("" for the root).
    std::string RelativePath(int wd) const {
        std::vector<const std::string*> parts;
        for (int w = wd; w != rootWatch;) {
            auto it = watches.find(w);
            if (it == watches.end()) {
                return {};
            }
            parts.push_back(&it->second.name);
            w = it->second.parent;
        }
        std::string path;
        for (auto p = parts.rbegin(); p != parts.rend(); ++p) {
            if (!path.empty()) {
                path += '/';
            }
            path += **p;
        }
        return path;
    }

    std::string AbsolutePath(const std::string& relative) const {
        return relative.empty() ? root : root + relative + "/";
    }

    int AddWatch(const UniqueFd& dirFd) {
        return ::inotify_add_watch(inotify.Get(), ProcFdPath(dirFd).c_str(), kWatchMask);
    }

    // Watches every directory below the one watched by wd (opened as dirPath).
    // Answers true when anything other than a directory was found below it.
    bool AddSubtree(int wd, const std::string& dirPath) {
        struct Visitor : DirectoryScanner::Visitor {
            Impl& impl;
            std::vector<std::pair<std::size_t, int>> stack;  // path length, watch
            bool content = false;
            bool full = false;
            Visitor(Impl& i, std::size_t rootLength, int rootWd) : impl(i) {
                stack.emplace_back(rootLength, rootWd);
            }
            bool ShouldStop() override { return full; }
            bool Enter(ScanEntry& e) override {
                const std::size_t parentLength = e.FullPath().size() - e.Name().size();
                while (stack.size() > 1 && stack.back().first != parentLength) {
                    stack.pop_back();
                }
                UniqueFd fd = e.OpenAsDirectory();
                if (!fd) {
                    return false;
                }
                const int child = impl.AddWatch(fd);
                if (child < 0) {
                    full = errno == ENOSPC;
                    return false;
                }
                impl.watches[child] = Watch{stack.back().second, std::string(e.Name())};
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

    void RemoveSubtree(int wd) {
        // Collect the watch and every watch below it.
        std::vector<int> doomed{wd};
        for (std::size_t i = 0; i < doomed.size(); ++i) {
            for (const auto& [w, watch] : watches) {
                if (watch.parent == doomed[i]) {
                    doomed.push_back(w);
                }
            }
        }
        for (int w : doomed) {
            ::inotify_rm_watch(inotify.Get(), w);
            watches.erase(w);
        }
    }

    int FindChild(int parent, std::string_view name) const {
        for (const auto& [w, watch] : watches) {
            if (watch.parent == parent && watch.name == name) {
                return w;
            }
        }
        return -1;
    }

    // Reads the queued events; answers whether any of them counts.
    bool Drain(std::vector<std::string>* changes, bool& failed) {
        bool changed = false;
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
                const std::string name = ev.len > 0 ? std::string(namePtr, ::strnlen(namePtr, ev.len))
                                                    : std::string();
                off += sizeof(inotify_event) + ev.len;
                if (HandleEvent(ev, name, changes)) {
                    changed = true;
                }
            }
        }
        failed = rootGone;
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
            return note({});
        }
        if ((ev.mask & IN_IGNORED) != 0) {
            watches.erase(ev.wd);
            if (ev.wd == rootWatch) {
                rootGone = true;
                return note({});
            }
            return false;
        }
        if ((ev.mask & kSelfEvents) != 0) {
            if (ev.wd == rootWatch) {
                // The watched directory itself went away or moved.
                rootGone = true;
                return note({});
            }
            return false;
        }
        if (watches.find(ev.wd) == watches.end()) {
            return false;  // a watch removed a moment ago
        }
        std::string relative = RelativePath(ev.wd);
        std::string path = relative.empty() ? name : relative + "/" + name;
        if ((ev.mask & IN_ISDIR) == 0) {
            return (ev.mask & kFileEvents) != 0 ? note(std::move(path)) : false;
        }
        bool relevant = directoryNames && (ev.mask & kNameEvents) != 0;
        if (subtree) {
            if ((ev.mask & (IN_MOVED_FROM | IN_DELETE)) != 0) {
                const int child = FindChild(ev.wd, name);
                if (child >= 0) {
                    RemoveSubtree(child);
                }
                // Files that left with a moved directory are gone from the tree.
                relevant = relevant || (ev.mask & IN_MOVED_FROM) != 0;
            }
            if ((ev.mask & (IN_CREATE | IN_MOVED_TO)) != 0 && FindChild(ev.wd, name) < 0) {
                const std::string absolute = AbsolutePath(relative) + name;
                UniqueFd fd = OpenDirectory(absolute);
                const int child = fd ? AddWatch(fd) : -1;
                if (child >= 0) {
                    watches[child] = Watch{ev.wd, name};
                    // Whatever was created inside before the watch existed.
                    if (AddSubtree(child, absolute)) {
                        relevant = true;
                    }
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

bool ChangeNotifier::Start(const std::string& path, bool subtree, bool directoryNames) {
    Impl& d = *m_impl;
    d.inotify.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    d.watches.clear();
    d.rootWatch = -1;
    d.rootGone = false;
    if (!d.inotify || !d.stopEvent) {
        return false;
    }
    d.root = path.empty() ? "./" : path;
    if (d.root.back() != '/') {
        d.root += '/';
    }
    d.subtree = subtree;
    d.directoryNames = directoryNames;
    UniqueFd fd = OpenDirectory(d.root);
    if (!fd) {
        d.inotify.Reset();
        return false;
    }
    d.rootWatch = d.AddWatch(fd);
    if (d.rootWatch < 0) {
        d.inotify.Reset();
        return false;
    }
    d.watches[d.rootWatch] = Impl::Watch{};
    if (subtree) {
        d.AddSubtree(d.rootWatch, d.root);
    }
    return true;
}

ChangeNotifier::Result ChangeNotifier::Wait(const WaitOptions& options,
                                            std::vector<std::string>* changes) {
    Impl& d = *m_impl;
    if (!d.inotify || d.rootGone) {
        return Result::Failed;
    }
    using Clock = std::chrono::steady_clock;
    bool changed = false;
    Clock::time_point deadline{};
    for (;;) {
        timespec timeout{};
        timespec* limit = nullptr;
        if (changed) {
            const auto now = Clock::now();
            if (now >= deadline) {
                return Result::Changed;
            }
            const auto left = std::min(
                std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now),
                std::chrono::duration_cast<std::chrono::nanoseconds>(options.quiet));
            timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
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
            return Result::Changed;  // quiet long enough
        }
        if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return changed ? Result::Changed : Result::Failed;
        }
        bool failed = false;
        if (d.Drain(changes, failed) && !changed) {
            changed = true;
            deadline = Clock::now() + options.maxDelay;
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

std::size_t ChangeNotifier::WatchCount() const { return m_impl->watches.size(); }

}  // namespace quorvel::platform
