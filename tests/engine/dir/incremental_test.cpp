// A real-time item reads only what a notification named; a second item with
// the same settings reads the whole tree on request. Through a long random
// run of changes both must report the same files in the same order and
// leave the same snapshot (compared through their cache files).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "dir_test_util.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Describe;
using test::DirItem;

class IncrementalTest : public test::TempDirTest {
protected:
    // A burst of one step is one report however busy the machine is.
    void SetUp() override { ChangeNotifyThread::SetGathering(150ms, 5000ms); }
    void TearDown() override { ChangeNotifyThread::SetGathering(30ms, 100ms); }

    std::vector<std::string> Settings(bool realTime, const std::string& id) {
        return {"FileName=" + (m_dir / "tree"),
                std::string("RealTime=") + (realTime ? "1" : "0"),
                "Subdir=1",
                "DirMonitoring=1",
                "StorePrevInfo=1",
                "Conditions=1110",
                "CacheData=1",
                "CacheID=" + id,
                "CacheDirectory=" + (m_dir / "cache")};
    }
};

// The directories of the tree, relative to it ("" is the tree itself).
std::vector<std::string> Directories(const fs::path& root) {
    std::vector<std::string> dirs{""};
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_directory() && !it->is_symlink()) {
            dirs.push_back(fs::relative(it->path(), root).string());
        }
    }
    std::sort(dirs.begin(), dirs.end());
    return dirs;
}

std::vector<std::string> Files(const fs::path& root) {
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_regular_file()) {
            files.push_back(fs::relative(it->path(), root).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(IncrementalTest, ReadingWhatChangedMatchesReadingEverythingThroughARandomRun) {
    if (test::UnderWine()) {
        GTEST_SKIP() << "Wine reports no changes below the watched directory";
    }
    const fs::path tree = m_dir.Path() / "tree";
    const fs::path outside = m_dir.Path() / "outside";
    fs::create_directories(tree / "a" / "b");
    fs::create_directories(tree / "c");
    fs::create_directories(outside);
    for (const char* f : {"x.txt", "a/y.txt", "a/b/z.txt", "c/w.txt"}) {
        m_dir.Write("tree/" + std::string(f), f);
    }
    DirItem realTime(Settings(true, "REALTIME"));
    DirItem whole(Settings(false, "WHOLEONE"));
    realTime.WaitFirstCheck();
    whole.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return realTime->Watching(); }));
    const std::string base = tree.string() + "/";

    std::mt19937 rng(20261209);
    auto pick = [&](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
    };
    auto fresh = [&](const std::string& stem) {
        return stem + std::to_string(std::uniform_int_distribution<int>(0, 99999)(rng));
    };
    int compared = 0;
    const int kSteps = 120;
    for (int step = 0; step < kSteps; ++step) {
        const auto dirs = Directories(tree);
        const auto files = Files(tree);
        auto before = realTime->CheckCount();
        auto runs = realTime.Runs();
        const int kind = std::uniform_int_distribution<int>(0, 12)(rng);
        std::string what;
        auto in = [&](const std::string& dir, const std::string& name) {
            return dir.empty() ? tree / name : tree / dir / name;
        };
        if (kind == 0 || files.empty()) {
            const fs::path p = in(pick(dirs), fresh("new") + ".txt");
            what = "create " + p.string();
            m_dir.Write(fs::relative(p, m_dir.Path()).string(), "new");
        } else if (kind == 1) {
            const std::string f = pick(files);
            what = "append " + f;
            std::ofstream(tree / f, std::ios::app) << "more data";
        } else if (kind == 2) {
            const std::string f = pick(files);
            what = "delete " + f;
            fs::remove(tree / f);
        } else if (kind == 3) {
            const std::string f = pick(files);
            const fs::path to = (tree / f).parent_path() / (fresh("ren") + ".txt");
            what = "rename " + f;
            fs::rename(tree / f, to);
        } else if (kind == 4) {
            const std::string f = pick(files);
            const fs::path to = in(pick(dirs), fresh("moved") + ".txt");
            what = "move " + f + " to " + to.string();
            fs::rename(tree / f, to);
        } else if (kind == 5 && dirs.size() < 25) {
            const fs::path d = in(pick(dirs), fresh("d"));
            what = "mkdir " + d.string();
            fs::create_directory(d);
            if (rng() % 2 == 0) {
                std::ofstream(d / "inside.txt") << "i";
            }
        } else if (kind == 6 && dirs.size() > 1) {
            // A directory moves within the tree (not into itself).
            const std::string d = pick(std::vector<std::string>(dirs.begin() + 1, dirs.end()));
            std::string target = pick(dirs);
            if (target == d ||
                target.rfind(d + static_cast<char>(fs::path::preferred_separator), 0) == 0) {
                target.clear();
            }
            const fs::path to = in(target, fresh("mv"));
            what = "move directory " + d + " to " + to.string();
            fs::rename(tree / d, to);
        } else if (kind == 7 && dirs.size() > 2) {
            const std::string d = pick(std::vector<std::string>(dirs.begin() + 1, dirs.end()));
            what = "move out " + d;
            fs::rename(tree / d, outside / fresh("gone"));
        } else if (kind == 8) {
            const fs::path made = outside / fresh("in");
            fs::create_directories(made / "deep");
            std::ofstream(made / "one.txt") << "1";
            std::ofstream(made / "deep" / "two.txt") << "2";
            const fs::path to = in(pick(dirs), made.filename().string());
            what = "move in " + to.string();
            fs::rename(made, to);
        } else if (kind == 9 && dirs.size() > 2) {
            const std::string d = pick(std::vector<std::string>(dirs.begin() + 1, dirs.end()));
            what = "remove tree " + d;
            fs::remove_all(tree / d);
        } else if (kind == 10) {
            const std::string f = pick(files);
            what = "touch " + f;
            std::error_code ignored;
            fs::last_write_time(tree / f,
                                fs::file_time_type::clock::now() -
                                    std::chrono::hours(24 * 365 * 20) +
                                    std::chrono::seconds(rng() % 100000),
                                ignored);
        } else if (kind == 11) {
            // A directory moved over an empty one of another name.
            const fs::path empty = in(pick(dirs), fresh("empty"));
            fs::create_directory(empty);
            ASSERT_TRUE(test::WaitFor([&] { return realTime->CheckCount() > before; }));
            whole.Check();
            const fs::path from = in(pick(dirs), fresh("over"));
            fs::create_directories(from);
            std::ofstream(from / "f.txt") << "f";
            const auto settled = realTime->CheckCount();
            ASSERT_TRUE(test::WaitFor([&] { return realTime->CheckCount() > settled; }));
            whole.Check();
            what = "move " + from.string() + " over " + empty.string();
            before = realTime->CheckCount();
            runs = realTime.Runs();
            std::error_code ec;
            fs::rename(from, empty, ec);
            if (ec) {
                continue;  // the empty one was inside the other
            }
        } else {
            // Events lost: the next check reads everything.
            realTime->SimulateLostEvents();
            const fs::path p = in(pick(dirs), fresh("after-loss") + ".txt");
            what = "lost events, then create " + p.string();
            m_dir.Write(fs::relative(p, m_dir.Path()).string(), "x");
        }
        SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
        ASSERT_TRUE(test::WaitFor([&] { return realTime->CheckCount() > before; }));
        const auto theirs = whole.Check();
        const auto runsNow = realTime.AllRuns();
        std::optional<FileList> ours;
        if (runsNow.size() > runs) {
            ours = runsNow.back();
        }
        if (realTime->CheckCount() == before + 1) {
            EXPECT_EQ(ours.has_value(), theirs.has_value());
            EXPECT_EQ(Describe(ours.value_or(FileList{}), base),
                      Describe(theirs.value_or(FileList{}), base));
            ++compared;
        }
        EXPECT_EQ(test::ReadFile(realTime->CachePath()), test::ReadFile(whole->CachePath()))
            << "the snapshots differ";
        if (HasFailure()) {
            break;
        }
    }
    EXPECT_GT(compared, kSteps / 2);
    // Most checks read only what changed.
    EXPECT_GT(realTime->IncrementalChecks(), static_cast<std::uint64_t>(kSteps / 2));
}

// Entries whose details change without a notification naming them: a file
// written through another of its hard links, a symlink whose target changed,
// a directory the walk does not enter. The real-time item must report what
// its whole-check twin reports and keep the same snapshot.
TEST_F(IncrementalTest, EntriesNoNotificationNamesAreLookedAtAgain) {
    if (test::UnderWine()) {
        GTEST_SKIP() << "Wine reports no changes below the watched directory";
    }
    const fs::path tree = m_dir.Path() / "tree";
    const std::string base = tree.string() + "/";
    int id = 0;
    auto expectSameAsWhole = [&](const std::string& what, const std::vector<std::string>& extra,
                                 const std::function<void()>& change) {
        SCOPED_TRACE(what);
        auto settings = [&](bool realTime) {
            auto lines = Settings(realTime, (realTime ? "RT" : "WH") + std::to_string(id));
            lines.insert(lines.end(), extra.begin(), extra.end());
            return lines;
        };
        ++id;
        DirItem realTime(settings(true));
        DirItem whole(settings(false));
        realTime.WaitFirstCheck();
        whole.WaitFirstCheck();
        ASSERT_TRUE(test::WaitFor([&] { return realTime->Watching(); }));
        auto step = [&](const std::function<void()>& act) {
            const auto before = realTime->CheckCount();
            const auto runs = realTime.Runs();
            act();
            ASSERT_TRUE(test::WaitFor([&] { return realTime->CheckCount() > before; }));
            const auto theirs = whole.Check();
            std::optional<FileList> ours;
            if (realTime.Runs() > runs) {
                ours = realTime.AllRuns().back();
            }
            EXPECT_EQ(Describe(ours.value_or(FileList{}), base),
                      Describe(theirs.value_or(FileList{}), base));
            EXPECT_EQ(test::ReadFile(realTime->CachePath()), test::ReadFile(whole->CachePath()))
                << "the snapshots differ";
        };
        step([&] { m_dir.Write("tree/warm-up" + std::to_string(id), "x"); });
        const auto incremental = realTime->IncrementalChecks();
        step(change);
        EXPECT_GT(realTime->IncrementalChecks(), incremental) << "the check read everything";
    };

    fs::create_directories(tree / "a");
    fs::create_directories(tree / "d");
    fs::create_directories(m_dir.Path() / "outside");
    m_dir.Write("tree/a/x", "1");
    fs::create_hard_link(tree / "a/x", tree / "a/y");
    expectSameAsWhole("a hard link in the tree", {}, [&] {
        std::ofstream(tree / "a/y", std::ios::app) << "22";
    });

    m_dir.Write("outside/o", "1");
    fs::create_hard_link(m_dir.Path() / "outside/o", tree / "a/z");
    expectSameAsWhole("a hard link outside the tree", {}, [&] {
        std::ofstream(m_dir.Path() / "outside/o", std::ios::app) << "22";
        m_dir.Write("tree/a/beside", "1");
    });

    m_dir.Write("tree/d/f", "1");
    fs::create_symlink("d/f", tree / "link");
    expectSameAsWhole("a symbolic link", {}, [&] {
        std::ofstream(tree / "d/f", std::ios::app) << "22";
    });

    fs::create_directories(tree / "sub");
    expectSameAsWhole("a directory that is not entered", {"Subdir=0"}, [&] {
        m_dir.Write("tree/sub/new", "1");
        m_dir.Write("tree/beside", "1");
    });
    expectSameAsWhole("an excluded directory", {"ExclDirMask=sub"}, [&] {
        m_dir.Write("tree/sub/newer", "1");
        m_dir.Write("tree/beside2", "1");
    });
}

}  // namespace
}  // namespace quorvel
