#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::platform {

/// Waits for changes in a directory, optionally with its whole subtree:
/// entries created, deleted or renamed, and files written or given a new
/// time. Changes to directory entries count only when asked for. Watches
/// follow the subtree as directories appear and disappear. A lost event
/// queue counts as a change.
///
/// Start and Wait run on one thread; Stop may be called from any thread.
class ChangeNotifier {
public:
    ChangeNotifier();
    ~ChangeNotifier();
    ChangeNotifier(const ChangeNotifier&) = delete;
    ChangeNotifier& operator=(const ChangeNotifier&) = delete;

    /// Registers for changes under path. False when the directory cannot be
    /// watched (missing, not a directory, no access, out of watches); a
    /// subtree that runs out of watches part-way is watched where it could.
    bool Start(const std::string& path, bool subtree, bool directoryNames);

    enum class Result { Changed, Stopped, Failed };

    struct WaitOptions {
        /// After a change, keep collecting until no change came for this long,
        /// so that a burst of changes is reported once...
        std::chrono::microseconds quiet{500};
        /// ...but never later than this after the first change.
        std::chrono::microseconds maxDelay{100000};
    };

    /// Blocks until a change (then answers Changed), Stop (Stopped), or the
    /// watch ending for good, for example when the directory was removed
    /// (Failed; a removal is first reported as a change). When changes is
    /// given, the paths of the changes below the watched directory are
    /// appended to it (an empty path for a lost queue or the directory
    /// itself).
    Result Wait(const WaitOptions& options, std::vector<std::string>* changes = nullptr);

    /// Makes the current or the next Wait answer Stopped. Never blocks.
    void Stop();

    /// Number of directories watched (for tests).
    std::size_t WatchCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
