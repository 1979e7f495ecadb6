#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/directory_scanner.h"

namespace quorvel::platform {

/// The process's readers of directory trees: threads that read directories
/// ahead of a walk (open, list, and look up every entry's details) so that
/// one walk keeps several cores busy. Every walk running at once shares
/// them; each keeps its own directories and its own bounded read-ahead.
///
/// Where the system offers no parallel walk, Scan is DirectoryScanner::Scan.
class ScanPool {
public:
    static constexpr int kMaxWalkers = 256;

    ScanPool();
    /// Stops the threads and waits for them. No walk may be running.
    ~ScanPool();
    ScanPool(const ScanPool&) = delete;
    ScanPool& operator=(const ScanPool&) = delete;

    /// The pool of the process, made at first use and ended after main.
    static ScanPool& Process();

    /// Walks root as DirectoryScanner::Scan does. ShouldStop, Enter and
    /// Visit are called on this thread only, for the same entries in the
    /// same order as the single walk calls them (on a tree that does not
    /// change meanwhile), with their details looked up ahead. MayEnter and
    /// BeforeRead come from whichever thread reads a directory.
    ///
    /// walkers: how many threads read at once for this walk, this one
    /// included; 1 is DirectoryScanner::Scan itself, 0 (or less) one per
    /// core, at most kMaxWalkers. Returns once no other thread touches the
    /// walk or the visitor any more, also when ShouldStop ended it.
    bool Scan(const std::string& root, DirectoryScanner::Visitor& visitor, int walkers);

    /// What 0 walkers stand for: one per core where walks run in parallel.
    static int DefaultWalkers();
    /// Threads the pool has started so far (they stay for the next walks).
    std::size_t ThreadCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvel::platform
