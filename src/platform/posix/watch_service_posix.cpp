#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/inotify_tree.h"
#include "platform/posix/path_stat.h"
#include "platform/posix/precise_wait.h"
#include "platform/unique_fd.h"
#include "platform/watch_service.h"

// One inotify instance for the process. The kernel gives one watch per
// directory and instance, so two trees that share a directory share its
// watch: the service keeps, per watch, the trees that use it, hands each
// event to all of them, and gives a watch back to the kernel when the last
// tree lets go of it. One thread reads the events and sends each tree's
// report when its changes have settled.

namespace quorvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A watched tree with its report's timing and its callback.
struct Node : InotifyTree, std::enable_shared_from_this<Node> {
    Node(KernelWatches& kernel, const std::string& path, bool subtree, bool directoryNames,
         std::function<void()> callback)
        : InotifyTree(kernel, path, subtree, directoryNames, /*walkSubtree=*/false),
          onChange(std::move(callback)) {}
    // Out of the service's tables before the object is taken apart.
    ~Node() { Close(); }

    std::function<void()> onChange;
    std::mutex callbackMutex;  // held while onChange runs; closed is set under it
    bool closed = false;

    // The service's thread alone: the changes of the report being gathered.
    bool pending = false;
    bool reportedGiveUp = false;
    Clock::time_point first{};
    Clock::time_point last{};
};

}  // namespace

struct WatchService::Impl : KernelWatches {
    mutable std::mutex mutex;
    UniqueFd inotify;
    UniqueFd wake;
    std::string initError;
    std::jthread thread;
    std::unordered_map<int, std::vector<Node*>> owners;  // watch -> the trees using it
    std::vector<std::weak_ptr<Node>> nodes;
    Gathering gathering;
    long limit = -1;

    Impl() {
        inotify.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!inotify) {
            initError = errno == EMFILE ? "the kernel's limit of inotify instances is reached "
                                          "(fs.inotify.max_user_instances)"
                                        : ErrnoText(errno);
        }
        wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    }

    // ---- KernelWatches ----

    int Add(const std::string& path, InotifyTree& tree) override {
        std::lock_guard lock(mutex);
        const int wd = ::inotify_add_watch(inotify.Get(), path.c_str(), kInotifyWatchMask);
        if (wd < 0) {
            return -1;
        }
        auto [it, fresh] = owners.try_emplace(wd);
        if (fresh && limit >= 0 && static_cast<long>(owners.size()) > limit) {
            owners.erase(it);
            ::inotify_rm_watch(inotify.Get(), wd);
            errno = ENOSPC;
            return -1;
        }
        Node* node = static_cast<Node*>(&tree);
        if (std::find(it->second.begin(), it->second.end(), node) == it->second.end()) {
            it->second.push_back(node);
        }
        return wd;
    }

    void Remove(int wd, InotifyTree& tree) override {
        std::lock_guard lock(mutex);
        auto it = owners.find(wd);
        if (it == owners.end()) {
            return;
        }
        std::erase(it->second, static_cast<Node*>(&tree));
        if (it->second.empty()) {
            owners.erase(it);
            ::inotify_rm_watch(inotify.Get(), wd);
        }
    }

    // ---- the thread ----

    // The trees an event goes to, kept alive while it is handled.
    std::vector<std::shared_ptr<Node>> Targets(const inotify_event& ev) {
        std::vector<std::shared_ptr<Node>> targets;
        std::lock_guard lock(mutex);
        if (ev.wd < 0) {  // a lost queue concerns every tree
            for (const auto& weak : nodes) {
                if (auto node = weak.lock()) {
                    targets.push_back(std::move(node));
                }
            }
            return targets;
        }
        auto it = owners.find(ev.wd);
        if (it == owners.end()) {
            return targets;
        }
        for (Node* node : it->second) {
            if (auto alive = node->weak_from_this().lock()) {
                targets.push_back(std::move(alive));
            }
        }
        if ((ev.mask & IN_IGNORED) != 0) {
            owners.erase(it);  // the kernel dropped the watch
        }
        return targets;
    }

    void Run(std::stop_token stop) {
        std::vector<char> buffer(256 * 1024);
        std::vector<std::shared_ptr<Node>> pending;
        std::unordered_set<Node*> batch;
        std::vector<std::shared_ptr<Node>> touched;
        while (!stop.stop_requested()) {
            Gathering g;
            {
                std::lock_guard lock(mutex);
                g = gathering;
            }
            std::optional<Clock::time_point> until;
            for (const auto& node : pending) {
                const auto due = std::min(node->first + g.maxDelay, node->last + g.quiet);
                until = until ? std::min(*until, due) : due;
            }
            const WaitOutcome outcome = WaitForEvents(wake.Get(), inotify.Get(), until);
            if (outcome == WaitOutcome::Stopped || outcome == WaitOutcome::Failed) {
                return;
            }
            if (outcome == WaitOutcome::Ready) {
                batch.clear();
                touched.clear();
                ForEachInotifyEvent(inotify.Get(), buffer,
                                    [&](const inotify_event& ev, std::string_view name) {
                                        for (auto& node : Targets(ev)) {
                                            const bool changed = node->Handle(ev, name, nullptr);
                                            if (batch.insert(node.get()).second) {
                                                touched.push_back(node);
                                            }
                                            if (!changed) {
                                                continue;
                                            }
                                            const auto now = Clock::now();
                                            if (!node->pending) {
                                                node->pending = true;
                                                node->first = now;
                                                pending.push_back(node);
                                            }
                                            node->last = now;
                                        }
                                    });
                for (const auto& node : touched) {
                    node->EndBatch();
                }
            }
            // Reports whose changes have settled go out.
            const auto now = Clock::now();
            for (std::size_t i = 0; i < pending.size();) {
                Node& node = *pending[i];
                if (now < std::min(node.first + g.maxDelay, node.last + g.quiet)) {
                    ++i;
                    continue;
                }
                node.pending = false;
                {
                    std::lock_guard lock(node.callbackMutex);
                    if (!node.closed && node.onChange) {
                        node.onChange();
                    }
                }
                pending[i] = std::move(pending.back());
                pending.pop_back();
            }
        }
    }

    void StartThreadLocked() {
        if (!thread.joinable()) {
            thread = std::jthread([this](std::stop_token stop) { Run(stop); });
        }
    }
};

namespace {

class PosixWatch : public WatchService::Watch {
public:
    explicit PosixWatch(std::shared_ptr<Node> node) : m_node(std::move(node)) {}
    ~PosixWatch() override {
        {
            std::lock_guard lock(m_node->callbackMutex);
            m_node->closed = true;
        }
        m_node->Close();
    }
    bool Active() const override { return m_node->Active(); }
    std::string Problem() const override { return m_node->Problem(); }
    ChangeSet TakeChanges() override { return m_node->TakeChanges(); }
    void BeginWalk() override { m_node->BeginWalk(); }
    bool EnsureWatched(std::string_view relativeDirectory, ScanEntry& entry) override {
        return m_node->EnsureWatched(relativeDirectory, entry);
    }
    void EndWalk(bool wholeTree) override { m_node->EndWalk(wholeTree); }
    void Unwatch(std::string_view relativeDirectory) override {
        m_node->Unwatch(relativeDirectory);
    }
    void LoseEvents() override { m_node->LoseEvents(); }
    std::size_t WatchCount() const override { return m_node->WatchCount(); }

private:
    std::shared_ptr<Node> m_node;
};

}  // namespace

WatchService::WatchService() : m_impl(std::make_unique<Impl>()) {}

WatchService::~WatchService() {
    if (m_impl->thread.joinable()) {
        m_impl->thread.request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_impl->wake.Get(), &one, sizeof(one));
        m_impl->thread.join();
    }
}

WatchService& WatchService::Process() {
    static WatchService service;
    return service;
}

std::unique_ptr<WatchService::Watch> WatchService::Add(const std::string& path, bool subtree,
                                                       bool directoryNames,
                                                       std::function<void()> onChange,
                                                       std::string* error) {
    Impl& d = *m_impl;
    if (!d.inotify || !d.wake) {
        if (error != nullptr) {
            *error = d.initError.empty() ? "no change notification" : d.initError;
        }
        return nullptr;
    }
    auto node = std::make_shared<Node>(d, path, subtree, directoryNames, std::move(onChange));
    if (!node->Start()) {
        const int why = errno;
        if (error != nullptr) {
            const std::string problem = node->Problem();
            *error = !problem.empty() ? problem : ErrnoText(why);
        }
        node->Close();
        return nullptr;
    }
    {
        std::lock_guard lock(d.mutex);
        std::erase_if(d.nodes, [](const std::weak_ptr<Node>& n) { return n.expired(); });
        d.nodes.push_back(node);
        d.StartThreadLocked();
    }
    return std::make_unique<PosixWatch>(std::move(node));
}

void WatchService::SetGathering(Gathering gathering) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->gathering = gathering;
}

WatchService::Gathering WatchService::CurrentGathering() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->gathering;
}

void WatchService::SetWatchLimit(long limit) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->limit = limit;
}

std::optional<long> WatchLimitPerUser() {
    const auto text = ReadWholeFile("/proc/sys/fs/inotify/max_user_watches", 64);
    if (!text) {
        return std::nullopt;
    }
    const long limit = std::strtol(text->c_str(), nullptr, 10);
    return limit > 0 ? std::optional<long>(limit) : std::nullopt;
}

}  // namespace quorvel::platform
