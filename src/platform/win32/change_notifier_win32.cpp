#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/change_collector.h"
#include "platform/change_notifier.h"
#include "platform/directory_scanner.h"
#include "platform/win32/win32_util.h"

// One ReadDirectoryChangesW on the watched directory covers its whole
// subtree when asked, so there is no tree of watches to keep: directories
// that appear, move or go are seen by the same handle. File names and
// last-write times are watched; directory names too, because without them a
// directory moved within the tree would go unseen and the files it carried
// with it would be missed. A directory's own name change wakes a waiter only
// when directories are monitored or the subtree is, since only then does it
// change what a check reports.

namespace quorvel::platform {

namespace {

constexpr DWORD kBufferSize = 64 * 1024;

std::string Relative(std::wstring_view name) {
    std::string path = win32::Narrow(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

struct ChangeNotifier::Impl : ChangeCollector {
    win32::UniqueHandle directory;
    win32::UniqueHandle stopEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    win32::UniqueHandle ioEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped{};
    bool pending = false;
    std::string root;
    bool subtree = false;
    bool directoryNames = false;
    // DWORD-aligned, as the system requires.
    std::vector<DWORD> buffer = std::vector<DWORD>(kBufferSize / sizeof(DWORD));

    mutable std::mutex mutex;
    bool started = false;
    bool rootGone = false;

    ~Impl() { Cancel(); }

    void Cancel() {
        if (pending) {
            ::CancelIoEx(directory.Get(), &overlapped);
            DWORD bytes = 0;
            ::GetOverlappedResult(directory.Get(), &overlapped, &bytes, TRUE);
            pending = false;
        }
    }

    bool Arm() {
        ::ResetEvent(ioEvent.Get());
        overlapped = OVERLAPPED{};
        overlapped.hEvent = ioEvent.Get();
        // Attributes too: a time set by a tool (touch, an unpacker) is
        // reported only as an attribute change by Wine and some file
        // systems, and an extra check costs little.
        const DWORD filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                             FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;
        pending = ::ReadDirectoryChangesW(directory.Get(), buffer.data(), kBufferSize,
                                          subtree ? TRUE : FALSE, filter, nullptr, &overlapped,
                                          nullptr) != 0;
        return pending;
    }

    bool IsDirectory(const std::string& relative) const {
        std::string full = root + relative;
        std::replace(full.begin(), full.end(), '/', '\\');
        const DWORD a = ::GetFileAttributesW(win32::SystemPath(full).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    // Takes one batch of records; true when one of them matters.
    bool Take(DWORD bytes, std::vector<std::string>* changes) {
        std::lock_guard lock(mutex);
        auto note = [&](std::string path) {
            if (changes != nullptr) {
                changes->push_back(std::move(path));
            }
            return true;
        };
        if (bytes == 0) {
            // The system's buffer overflowed: the events are lost.
            incomplete = true;
            return note({});
        }
        bool relevant = false;
        const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
        for (DWORD offset = 0;;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
            const std::string path =
                Relative(std::wstring_view(info->FileName, info->FileNameLength / sizeof(wchar_t)));
            const auto slash = path.rfind('/');
            const std::string parent =
                slash == std::string::npos ? std::string() : path.substr(0, slash);
            const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            const bool arrived =
                info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME;
            const bool isDirectory =
                arrived || info->Action == FILE_ACTION_MODIFIED ? IsDirectory(path) : false;
            if (!path.empty()) {
                dirtyDirectories[parent].insert(name);
                if (arrived && isDirectory) {
                    if (subtree) {
                        newSubtrees.insert(path);
                    }
                    if (subtree || directoryNames) {
                        relevant = note(path);
                    }
                } else if (!isDirectory) {
                    // A directory's own time follows its entries, which
                    // report themselves.
                    relevant = note(path);
                }
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            offset += info->NextEntryOffset;
        }
        return relevant;
    }
};

ChangeNotifier::ChangeNotifier() : m_impl(std::make_unique<Impl>()) {}

ChangeNotifier::~ChangeNotifier() = default;

bool ChangeNotifier::Start(const std::string& path, bool subtree, bool directoryNames,
                           bool /*walkSubtree*/) {
    Impl& d = *m_impl;
    d.Cancel();
    std::lock_guard lock(d.mutex);
    d.started = false;
    d.rootGone = false;
    d.root = path.empty() ? std::string(".\\") : path;
    if (d.root.back() != '\\' && d.root.back() != '/') {
        d.root += '\\';
    }
    d.subtree = subtree;
    d.directoryNames = directoryNames;
    // Shared for deletion, so the user may still delete or rename the
    // watched directory.
    d.directory.Reset(::CreateFileW(win32::SystemPath(d.root).c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!d.directory || !d.stopEvent || !d.ioEvent || !d.Arm()) {
        d.directory.Reset();
        return false;
    }
    d.started = true;
    return true;
}

ChangeNotifier::Result ChangeNotifier::Wait(const WaitOptions& options,
                                            std::vector<std::string>* changes) {
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        if (!d.started || d.rootGone) {
            return Result::Failed;
        }
    }
    using Clock = std::chrono::steady_clock;
    bool changed = false;
    Clock::time_point deadline{};
    Clock::time_point quietEnd{};
    for (;;) {
        DWORD timeout = INFINITE;
        if (changed) {
            const auto now = Clock::now();
            const auto end = std::min(deadline, quietEnd);
            if (now >= end) {
                return Result::Changed;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            timeout = static_cast<DWORD>(std::max<long long>(left, 1));
        }
        if (!d.pending && !d.Arm()) {
            std::lock_guard lock(d.mutex);
            d.rootGone = true;
            if (changes != nullptr) {
                changes->push_back({});
            }
            return Result::Changed;
        }
        HANDLE handles[2] = {d.stopEvent.Get(), d.ioEvent.Get()};
        const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, timeout);
        if (r == WAIT_OBJECT_0) {
            return Result::Stopped;  // the stop stays signalled for later waits
        }
        if (r == WAIT_TIMEOUT) {
            continue;  // the time is looked at above
        }
        if (r != WAIT_OBJECT_0 + 1) {
            return changed ? Result::Changed : Result::Failed;
        }
        DWORD bytes = 0;
        const bool ok = ::GetOverlappedResult(d.directory.Get(), &d.overlapped, &bytes, FALSE);
        d.pending = false;
        if (!ok) {
            // The watched directory went away or became unreadable.
            std::lock_guard lock(d.mutex);
            d.rootGone = true;
            if (changes != nullptr) {
                changes->push_back({});
            }
            return Result::Changed;
        }
        const bool relevant = d.Take(bytes, changes);
        if (relevant) {
            const auto now = Clock::now();
            if (!changed) {
                changed = true;
                deadline = now + options.maxDelay;
            }
            quietEnd = now + options.quiet;
        }
    }
}

void ChangeNotifier::Stop() {
    ::SetEvent(m_impl->stopEvent.Get());
}

ChangeSet ChangeNotifier::TakeChanges() {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->TakeCollected(m_impl->rootGone);
}

void ChangeNotifier::BeginWalk() {}

bool ChangeNotifier::EnsureWatched(std::string_view /*relativeDirectory*/, ScanEntry& /*entry*/) {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->started;
}

void ChangeNotifier::EndWalk(bool /*wholeTree*/) {}

void ChangeNotifier::Unwatch(std::string_view /*relativeDirectory*/) {}

void ChangeNotifier::LoseEvents() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->incomplete = true;
}

std::size_t ChangeNotifier::WatchCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->started ? 1 : 0;
}

bool ChangeNotifier::IsWatched(std::string_view relativeDirectory) const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->started && (m_impl->subtree || relativeDirectory.empty());
}

}  // namespace quorvel::platform
