#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/change_notifier.h"
#include "platform/posix/inotify_tree.h"
#include "platform/posix/precise_wait.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

// The watches of an instance that serves one tree alone.
class OwnWatches : public KernelWatches {
public:
    explicit OwnWatches(const UniqueFd& inotify) : m_inotify(inotify) {}
    int Add(const std::string& path, InotifyTree&) override {
        return ::inotify_add_watch(m_inotify.Get(), path.c_str(), kInotifyWatchMask);
    }
    void Remove(int wd, InotifyTree&) override { ::inotify_rm_watch(m_inotify.Get(), wd); }

private:
    const UniqueFd& m_inotify;
};

}  // namespace

struct ChangeNotifier::Impl {
    UniqueFd inotify;
    UniqueFd stopEvent;
    OwnWatches kernel{inotify};
    std::unique_ptr<InotifyTree> tree;
    std::vector<char> buffer = std::vector<char>(64 * 1024);

    // Reads the queued events; answers whether any of them counts.
    bool Drain(std::vector<std::string>* changes) {
        bool changed = false;
        ForEachInotifyEvent(inotify.Get(), buffer, [&](const inotify_event& ev, std::string_view name) {
            changed = tree->Handle(ev, name, changes) || changed;
        });
        tree->EndBatch();
        return changed;
    }
};

ChangeNotifier::ChangeNotifier() : m_impl(std::make_unique<Impl>()) {
    m_impl->stopEvent.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

ChangeNotifier::~ChangeNotifier() {
    m_impl->tree.reset();  // gives its watches back before the instance closes
}

bool ChangeNotifier::Start(const std::string& path, bool subtree, bool directoryNames,
                           bool walkSubtree) {
    Impl& d = *m_impl;
    d.tree.reset();
    d.inotify.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!d.inotify || !d.stopEvent) {
        return false;
    }
    d.tree = std::make_unique<InotifyTree>(d.kernel, path, subtree, directoryNames, walkSubtree);
    if (!d.tree->Start()) {
        d.tree.reset();
        d.inotify.Reset();
        return false;
    }
    return true;
}

ChangeNotifier::Result ChangeNotifier::Wait(const WaitOptions& options,
                                            std::vector<std::string>* changes) {
    Impl& d = *m_impl;
    if (!d.inotify || !d.tree || !d.tree->Active()) {
        return Result::Failed;
    }
    using Clock = std::chrono::steady_clock;
    bool changed = false;
    Clock::time_point deadline{};
    Clock::time_point quietEnd{};
    for (;;) {
        std::optional<Clock::time_point> until;
        if (changed) {
            until = std::min(deadline, quietEnd);
            if (Clock::now() >= *until) {
                return Result::Changed;
            }
        }
        const WaitOutcome outcome = WaitForEvents(d.stopEvent.Get(), d.inotify.Get(), until);
        if (outcome == WaitOutcome::Stopped) {
            return Result::Stopped;  // the stop stays signalled for later waits
        }
        if (outcome == WaitOutcome::Failed) {
            return changed ? Result::Changed : Result::Failed;
        }
        if (outcome == WaitOutcome::TimedOut) {
            continue;  // the time is looked at above
        }
        if (d.Drain(changes)) {
            const auto now = Clock::now();
            if (!changed) {
                changed = true;
                deadline = now + options.maxDelay;
            }
            quietEnd = now + options.quiet;
        }
        if (!d.tree->Active()) {
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
    return m_impl->tree ? m_impl->tree->TakeChanges() : ChangeSet{};
}

void ChangeNotifier::BeginWalk() {
    if (m_impl->tree) {
        m_impl->tree->BeginWalk();
    }
}

bool ChangeNotifier::EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry) {
    return m_impl->tree && m_impl->tree->EnsureWatched(relativeDirectory, entry);
}

void ChangeNotifier::EndWalk(bool wholeTree) {
    if (m_impl->tree) {
        m_impl->tree->EndWalk(wholeTree);
    }
}

void ChangeNotifier::Unwatch(std::string_view relativeDirectory) {
    if (m_impl->tree) {
        m_impl->tree->Unwatch(relativeDirectory);
    }
}

void ChangeNotifier::LoseEvents() {
    if (m_impl->tree) {
        m_impl->tree->LoseEvents();
    }
}

std::size_t ChangeNotifier::WatchCount() const {
    return m_impl->tree ? m_impl->tree->WatchCount() : 0;
}

bool ChangeNotifier::IsWatched(std::string_view relativeDirectory) const {
    return m_impl->tree && m_impl->tree->IsWatched(relativeDirectory);
}

}  // namespace quorvel::platform
