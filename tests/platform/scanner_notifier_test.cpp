#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/change_notifier.h"
#include "platform/directory_scanner.h"
#include "platform/scan_pool.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using platform::ChangeNotifier;
using platform::DirectoryScanner;
using platform::ScanEntry;

// Walks everything and records "path" for each visit, relative to the root.
class Recorder : public DirectoryScanner::Visitor {
public:
    explicit Recorder(std::string root) : m_root(std::move(root)) {}
    std::function<bool(ScanEntry&)> enter = [](ScanEntry&) { return true; };
    std::function<void(ScanEntry&)> onVisit;
    std::vector<std::string> visited;

    bool ShouldStop() override { return false; }
    bool Enter(ScanEntry& e) override { return enter(e); }
    void Visit(ScanEntry& e) override {
        visited.push_back(std::string(e.FullPath().substr(m_root.size())));
        if (onVisit) {
            onVisit(e);
        }
    }

private:
    std::string m_root;
};

std::string Root(const test::TempDir& dir) {
    return dir.Path().string() + "/";
}

class ScannerTest : public test::TempDirTest {};

TEST_F(ScannerTest, SubdirectoryEntriesComeBeforeTheDirectoryItself) {
    m_dir.Write("a/b/c/f", "1");
    m_dir.Write("a/g", "2");
    Recorder r(Root(m_dir));
    ASSERT_TRUE(DirectoryScanner::Scan(Root(m_dir), r));
    auto pos = [&](const std::string& p) {
        return std::find(r.visited.begin(), r.visited.end(), p) - r.visited.begin();
    };
    ASSERT_EQ(r.visited.size(), 5u);
    EXPECT_LT(pos("a/b/c/f"), pos("a/b/c"));
    EXPECT_LT(pos("a/b/c"), pos("a/b"));
    EXPECT_LT(pos("a/b"), pos("a"));
    EXPECT_LT(pos("a/g"), pos("a"));
}

TEST_F(ScannerTest, DirectoriesNotEnteredAreVisitedWithoutTheirContents) {
    m_dir.Write("a/f", "1");
    Recorder r(Root(m_dir));
    r.enter = [](ScanEntry&) { return false; };
    ASSERT_TRUE(DirectoryScanner::Scan(Root(m_dir), r));
    EXPECT_EQ(r.visited, std::vector<std::string>{"a"});
}

TEST_F(ScannerTest, SymlinksAreNeverEnteredAndReportTheirTargetOrThemselves) {
    m_dir.Write("d/file", "12345");
    fs::create_directory_symlink(m_dir.Path(), m_dir.Path() / "d/loop");  // a loop
    fs::create_symlink(m_dir.Path() / "d/file", m_dir.Path() / "link");
    fs::create_symlink(m_dir.Path() / "nowhere", m_dir.Path() / "dangling");
    Recorder r(Root(m_dir));
    std::map<std::string, std::pair<bool, std::int64_t>> seen;  // dir?, size
    r.onVisit = [&](ScanEntry& e) {
        ASSERT_TRUE(e.Resolve());
        seen[std::string(e.Name())] = {e.IsDirectory(), e.Size()};
    };
    ASSERT_TRUE(DirectoryScanner::Scan(Root(m_dir), r));
    EXPECT_EQ(r.visited.size(), 5u);  // d, d/file, d/loop, link, dangling
    EXPECT_TRUE(seen["loop"].first);  // a link to a directory is a directory...
    EXPECT_EQ(seen["link"], std::make_pair(false, std::int64_t{5}));  // the target's size
    EXPECT_FALSE(seen["dangling"].first);
    EXPECT_EQ(seen["dangling"].second,
              static_cast<std::int64_t>((m_dir.Path() / "nowhere").string().size()));
}

TEST_F(ScannerTest, NamesWithAnyBytesArriveUnchanged) {
    const std::vector<std::string> names = {"new\nline",   "tab\there",  "\xff\xfe bad utf8",
                                            " lead blank", "semi;colon", "*?[]"};
    for (const auto& n : names) {
        std::ofstream(m_dir.Path() / n) << "x";
    }
    Recorder r(Root(m_dir));
    ASSERT_TRUE(DirectoryScanner::Scan(Root(m_dir), r));
    std::sort(r.visited.begin(), r.visited.end());
    auto expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(r.visited, expected);
}

// Removes a chain of directories "d/d/d/..." from the bottom up through
// "..", so no path ever gets long (tools that recurse take very long here).
void RemoveChain(const std::string& parent) {
    int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    int depth = 0;
    for (int next; (next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW)) >= 0; ++depth) {
        ::close(fd);
        fd = next;
    }
    for (; depth > 0; --depth) {
        ::unlinkat(fd, "f", 0);
        ::unlinkat(fd, "deepest", 0);
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(up, 0);
        fd = up;
        ASSERT_EQ(::unlinkat(fd, "d", AT_REMOVEDIR), 0);
    }
    ::close(fd);
}

TEST_F(ScannerTest, VeryDeepTreesAndPathsLongerThanTheSystemLimitAreWalked) {
    // 10,000 levels: the walk keeps no recursion and only a few directories
    // open; paths reach about 20,000 bytes.
    constexpr int kDepth = 10000;
    // Deep chains are slow to remove on some disk file systems; memory-backed
    // storage keeps the test quick where the system has it.
    std::string top = m_dir.Path().string();
    char shm[] = "/dev/shm/quorvel-deep-XXXXXX";
    const bool inMemory = ::mkdtemp(shm) != nullptr;
    if (inMemory) {
        top = shm;
    }
    {
        int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < kDepth; ++i) {
            ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
            if (i % 1000 == 0) {
                int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
                ::close(f);
            }
            int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            ASSERT_GE(next, 0);
            fd = next;
        }
        int f = ::openat(fd, "deepest", O_WRONLY | O_CREAT, 0644);
        ::close(f);
        ::close(fd);
    }
    Recorder r(top + "/");
    std::size_t longest = 0;
    std::size_t resolved = 0;
    r.onVisit = [&](ScanEntry& e) {
        longest = std::max(longest, e.FullPath().size());
        resolved += e.Resolve() ? 1 : 0;
    };
    ASSERT_TRUE(DirectoryScanner::Scan(top + "/", r));
    EXPECT_EQ(r.visited.size(), static_cast<std::size_t>(kDepth + 10 + 1));
    EXPECT_EQ(resolved, r.visited.size());
    EXPECT_GT(longest, 20000u);
    // The deepest file comes before the top directory.
    const auto deepest = std::find_if(r.visited.begin(), r.visited.end(),
                                      [](const auto& p) { return p.ends_with("/deepest"); });
    const auto first = std::find(r.visited.begin(), r.visited.end(), "d");
    EXPECT_LT(deepest, first);
    EXPECT_NE(first, r.visited.end());

    // The parallel walk goes as deep, in the same order.
    auto digest = [](const std::vector<std::string>& visited) {
        std::size_t h = visited.size();
        for (const std::string& p : visited) {
            h = h * 1000003 ^ std::hash<std::string>{}(p);
        }
        return h;
    };
    const std::size_t expected = digest(r.visited);
    r.visited = {};
    Recorder parallel(top + "/");
    ASSERT_TRUE(platform::ScanPool::Process().Scan(top + "/", parallel, 3));
    EXPECT_EQ(digest(parallel.visited), expected);
    parallel.visited = {};
    RemoveChain(top);
    if (inMemory) {
        ::unlink((top + "/f").c_str());
        EXPECT_EQ(::rmdir(top.c_str()), 0);
    }
}

TEST_F(ScannerTest, DirectoriesVanishingDuringTheWalkAreSkipped) {
    for (int i = 0; i < 20; ++i) {
        m_dir.Write("gone" + std::to_string(i) + "/f", "1");
        m_dir.Write("stay" + std::to_string(i) + "/f", "1");
    }
    Recorder r(Root(m_dir));
    // The first directory met removes all the "gone" ones, files and all,
    // and a file is replaced by a directory behind the walker's back.
    bool removed = false;
    r.enter = [&](ScanEntry&) {
        if (!removed) {
            removed = true;
            for (int i = 0; i < 20; ++i) {
                fs::remove_all(m_dir.Path() / ("gone" + std::to_string(i)));
            }
        }
        return true;
    };
    ASSERT_TRUE(DirectoryScanner::Scan(Root(m_dir), r));
    for (int i = 0; i < 20; ++i) {
        EXPECT_NE(std::find(r.visited.begin(), r.visited.end(), "stay" + std::to_string(i) + "/f"),
                  r.visited.end());
    }
}

TEST_F(ScannerTest, MissingRootAnswersFalse) {
    Recorder r(Root(m_dir));
    EXPECT_FALSE(DirectoryScanner::Scan(Root(m_dir) + "missing/", r));
    EXPECT_TRUE(r.visited.empty());
}

TEST(ScannerPermissionTest, UnreadableSubdirectoriesContributeNothing) {
    if (!test::RunUnprivileged()) {
        return;
    }
    test::TempDir dir;
    dir.Write("closed/secret", "1");
    dir.Write("listonly/f", "1");
    dir.Write("open/f", "1");
    ASSERT_EQ(::chmod((dir / "closed").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "listonly").c_str(), 0444), 0);  // names, no details
    Recorder r(Root(dir));
    std::vector<std::string> resolved;
    r.onVisit = [&](ScanEntry& e) {
        if (e.Resolve()) {
            resolved.emplace_back(e.Name());
        }
    };
    ASSERT_TRUE(DirectoryScanner::Scan(Root(dir), r));
    EXPECT_EQ(std::count(r.visited.begin(), r.visited.end(), "closed/secret"), 0);
    EXPECT_EQ(std::count(r.visited.begin(), r.visited.end(), "open/f"), 1);
    EXPECT_EQ(std::count(r.visited.begin(), r.visited.end(), "closed"), 1);
    ::chmod((dir / "closed").c_str(), 0755);
    ::chmod((dir / "listonly").c_str(), 0755);
}

// ---- change notification ----

class NotifierTest : public test::TempDirTest {
protected:
    // Collects the changes of one report.
    std::vector<std::string> WaitChanges(ChangeNotifier& n) {
        std::vector<std::string> changes;
        ChangeNotifier::WaitOptions options;
        options.quiet = std::chrono::milliseconds(50);
        options.maxDelay = std::chrono::milliseconds(2000);
        EXPECT_EQ(n.Wait(options, &changes), ChangeNotifier::Result::Changed);
        return changes;
    }
};

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

TEST_F(NotifierTest, FileChangesInTheDirectoryAreReported) {
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(Root(m_dir), false, false));
    m_dir.Write("new.txt", "x");
    EXPECT_TRUE(Contains(WaitChanges(n), "new.txt"));
    ASSERT_EQ(test::RunTool({"touch", "-d", "2001-01-01", m_dir / "new.txt"}).value_or(-1), 0);
    EXPECT_TRUE(Contains(WaitChanges(n), "new.txt"));
    fs::rename(m_dir / "new.txt", m_dir / "renamed.txt");
    EXPECT_TRUE(Contains(WaitChanges(n), "renamed.txt"));
    fs::remove(m_dir / "renamed.txt");
    EXPECT_TRUE(Contains(WaitChanges(n), "renamed.txt"));
}

TEST_F(NotifierTest, WithoutTheSubtreeChangesBelowAndEmptyDirectoriesAreNotReported) {
    fs::create_directory(m_dir.Path() / "sub");
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(Root(m_dir), false, false));
    m_dir.Write("sub/inner.txt", "x");                // below: not watched
    fs::create_directory(m_dir.Path() / "emptydir");  // a directory name: not asked for
    m_dir.Write("marker", "x");
    // Events arrive in order: the first reported change is the marker.
    const auto changes = WaitChanges(n);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front(), "marker");
    EXPECT_FALSE(Contains(changes, "sub/inner.txt"));
    EXPECT_FALSE(Contains(changes, "emptydir"));
}

TEST_F(NotifierTest, DirectoryNamesCountWhenAskedFor) {
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(Root(m_dir), false, true));
    fs::create_directory(m_dir.Path() / "newdir");
    EXPECT_TRUE(Contains(WaitChanges(n), "newdir"));
}

TEST_F(NotifierTest, TheSubtreeIsFollowedAsDirectoriesAppear) {
    m_dir.Write("old/deep/x", "1");
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(Root(m_dir), true, false));
    EXPECT_EQ(n.WatchCount(), 3u);
    m_dir.Write("old/deep/y", "1");
    EXPECT_TRUE(Contains(WaitChanges(n), "old/deep/y"));
    // A tree made at once (its files may come before its watches) counts.
    ASSERT_EQ(test::RunTool({"mkdir", "-p", m_dir / "new/a/b"}).value_or(-1), 0);
    m_dir.Write("new/a/b/file", "1");
    const auto changes = WaitChanges(n);
    EXPECT_FALSE(changes.empty());
    // And later changes deep in the new tree are seen.
    test::WaitFor([&] { return n.WatchCount() >= 6u; });
    m_dir.Write("new/a/b/later", "1");
    EXPECT_TRUE(Contains(WaitChanges(n), "new/a/b/later"));
}

TEST_F(NotifierTest, LostEventsCountAsAChange) {
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    long limit = 0;
    limitFile >> limit;
    if (limit <= 0 || limit > 100000) {
        GTEST_SKIP() << "event queue limit " << limit;
    }
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(Root(m_dir), false, false));
    // Nobody reads while more events than the queue holds happen.
    for (long i = 0; i < limit / 2 + 10; ++i) {
        const std::string p = m_dir / ("f" + std::to_string(i));
        int fd = ::open(p.c_str(), O_WRONLY | O_CREAT, 0644);
        ::close(fd);  // create + close-write: two events
    }
    std::vector<std::string> changes;
    ChangeNotifier::WaitOptions options;
    ASSERT_EQ(n.Wait(options, &changes), ChangeNotifier::Result::Changed);
    EXPECT_TRUE(Contains(changes, ""));
}

TEST_F(NotifierTest, StopWakesAWaitAtOnceFromAnotherThread) {
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(Root(m_dir), true, true));
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Stopped);
        done = true;
    });
    n.Stop();
    EXPECT_TRUE(test::WaitFor([&] { return done.load(); }));
    waiter.join();
    EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Stopped);  // stays stopped
}

// A missing directory cannot be watched. One that goes away is waited for:
// when a directory of its name is back it is watched again; only when its
// parent goes too does the watch end.
TEST_F(NotifierTest, ARemovedDirectoryIsWatchedAgainWhenItComesBack) {
    ChangeNotifier missing;
    EXPECT_FALSE(missing.Start(m_dir / "nope", false, false));
    EXPECT_EQ(missing.Wait({}), ChangeNotifier::Result::Failed);

    fs::create_directories(m_dir.Path() / "parent/w");
    ChangeNotifier n;
    ASSERT_TRUE(n.Start(m_dir / "parent/w", false, false));
    fs::remove(m_dir.Path() / "parent/w");
    EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Changed);
    EXPECT_TRUE(n.TakeChanges().rootGone);
    fs::create_directory(m_dir.Path() / "parent/w");
    EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Changed);
    EXPECT_TRUE(n.TakeChanges().rootGone) << "the check after the return reads everything";
    m_dir.Write("parent/w/new.txt", "1");
    EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Changed);
    EXPECT_FALSE(n.TakeChanges().rootGone);

    fs::remove_all(m_dir.Path() / "parent");
    EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Changed);
    EXPECT_EQ(n.Wait({}), ChangeNotifier::Result::Failed);
}

}  // namespace
}  // namespace quorvel
