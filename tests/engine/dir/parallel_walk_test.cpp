// A whole walk read ahead by several walkers must give what one walker
// gives, byte for byte: the snapshot (as the cache file holds it), the files
// reported in their order, the entries to look at again and the deleted
// count, on random trees with hidden entries, links of every kind, excluded
// directories and names of any bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "engine/cache_file.h"
#include "engine/dir_scan.h"
#include "platform/scan_pool.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

struct Rules {
    MaskList masks, excludeMasks, dirMasks, exclDirMasks;
    DirScanRules rules;

    Rules(bool countHidden, bool fullPathMask) {
        masks.Compile("*");
        excludeMasks.Compile("*.tmp");
        dirMasks.Compile("*");
        exclDirMasks.Compile(fullPathMask ? "*/skip*" : "skip*");
        rules.masks = &masks;
        rules.excludeMasks = &excludeMasks;
        rules.dirMasks = &dirMasks;
        rules.exclDirMasks = &exclDirMasks;
        rules.fullPathMask = fullPathMask;
        rules.dirMonitoring = true;
        rules.subdir = true;
        rules.countHidden = countHidden;
        rules.keepNames = true;
        rules.watchChanged = true;
        rules.watchAdded = true;
    }
};

struct WalkResult {
    std::string snapshot;
    std::vector<std::string> reported;
    std::vector<std::string> again;
    std::size_t deleted = 0;
    bool operator==(const WalkResult&) const = default;
};

// One whole walk of root against old; the new snapshot goes to fresh.
WalkResult Walk(const std::string& root, const DirScanRules& rules, Snapshot& old, Snapshot& fresh,
                int walkers, std::function<bool()> stop = {}) {
    static const DateTime now = DateTime::Now();
    FileList files;
    const bool baseline = old.Empty();
    DirScan scan(rules, old, fresh, files, now, baseline, std::move(stop), nullptr, root);
    scan.SetWalkers(walkers);
    scan.WalkWhole();
    WalkResult r;
    r.snapshot = cache_file::Serialize(fresh);
    for (const FileData& f : files) {
        r.reported.push_back(f.name.value_or("") + ":" + std::to_string(static_cast<int>(f.kind)) +
                             ":" + std::to_string(f.size));
    }
    r.again = scan.TakeVolatile();
    r.deleted = scan.DeletedCount();
    return r;
}

// A random tree of about `files` files in nested directories.
class RandomTree {
public:
    RandomTree(fs::path root, unsigned seed) : m_root(std::move(root)), m_rng(seed) {
        fs::create_directories(m_root);
        m_dirs.push_back(m_root);
    }

    void Grow(int directories, int files) {
        static const char* kDirNames[] = {"d", ".hid", "skip", "a b", "\xff\x01odd", "x"};
        for (int i = 0; i < directories; ++i) {
            const fs::path parent = Pick(m_dirs);
            const fs::path d = parent / (std::string(kDirNames[Below(6)]) + std::to_string(i));
            if (fs::create_directory(d)) {
                m_dirs.push_back(d);
            }
        }
        static const char* kFileNames[] = {"f", ".h", "t", "new\nline", "\xfe"};
        static const char* kEndings[] = {".txt", ".tmp", "", ".dat"};
        for (int i = 0; i < files; ++i) {
            const fs::path f = Pick(m_dirs) / (std::string(kFileNames[Below(5)]) +
                                               std::to_string(m_made++) + kEndings[Below(4)]);
            std::ofstream(f) << std::string(Below(300), 'x');
            m_files.push_back(f);
        }
        for (int i = 0; i < files / 40; ++i) {
            const fs::path at = Pick(m_dirs) / ("lf" + std::to_string(m_made++));
            fs::create_symlink(Pick(m_files), at);
            const fs::path dirLink = Pick(m_dirs) / ("ld" + std::to_string(m_made++));
            fs::create_directory_symlink(Pick(m_dirs), dirLink);  // loops among them
            fs::create_symlink(m_root / "nowhere",
                               Pick(m_dirs) / ("lx" + std::to_string(m_made++)));
        }
    }

    // A chain deeper than the walk keeps directories open, with a side
    // directory at each level so that every level waits for one of its
    // directories while the walk is below.
    void Chain(int depth) {
        fs::path p = Pick(m_dirs);
        for (int i = 0; i < depth; ++i) {
            fs::create_directories(p / "side");
            std::ofstream(p / "side" / "s") << i;
            p /= "c";
            fs::create_directory(p);
            std::ofstream(p / "f") << i;
        }
    }

    // Some files deleted, changed and added; a few directories gone.
    void Churn() {
        for (int i = 0; i < static_cast<int>(m_files.size()) / 8; ++i) {
            std::error_code ignored;
            fs::remove(Pick(m_files), ignored);
            std::ofstream(Pick(m_files), std::ios::app) << "more";
        }
        for (int i = 0; i < 3 && m_dirs.size() > 4; ++i) {
            std::error_code ignored;
            fs::remove_all(m_dirs[1 + Below(m_dirs.size() - 1)], ignored);
        }
        m_dirs.erase(std::remove_if(m_dirs.begin(), m_dirs.end(),
                                    [](const fs::path& d) { return !fs::is_directory(d); }),
                     m_dirs.end());
        m_files.erase(std::remove_if(m_files.begin(), m_files.end(),
                                     [](const fs::path& f) { return !fs::exists(f); }),
                      m_files.end());
        Grow(10, static_cast<int>(m_files.size()) / 8);
    }

    std::string Root() const { return m_root.string() + "/"; }

private:
    std::size_t Below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng);
    }
    const fs::path& Pick(const std::vector<fs::path>& from) { return from[Below(from.size())]; }

    fs::path m_root;
    std::mt19937 m_rng;
    std::vector<fs::path> m_dirs;
    std::vector<fs::path> m_files;
    int m_made = 0;
};

class ParallelWalkTest : public test::TempDirTest {};

TEST_F(ParallelWalkTest, SeveralWalkersGiveWhatOneGivesByteForByte) {
    RandomTree tree(m_dir.Path() / "tree", 20261210);
    tree.Grow(200, 3000);
    tree.Chain(2 * platform::DirectoryScanner::kOpenDirectoryLimit);
    const int kWalkers[] = {1, 2, 5};
    for (const bool countHidden : {true, false}) {
        Rules rules(countHidden, !countHidden);
        // The first walk of each is a baseline, the second compares with it.
        Snapshot first[3], second[3];
        WalkResult firstResults[3];
        for (int i = 0; i < 3; ++i) {
            Snapshot none;
            firstResults[i] = Walk(tree.Root(), rules.rules, none, first[i], kWalkers[i]);
        }
        tree.Churn();
        WalkResult secondResults[3];
        for (int i = 0; i < 3; ++i) {
            secondResults[i] = Walk(tree.Root(), rules.rules, first[i], second[i], kWalkers[i]);
        }
        ASSERT_GT(first[0].Size(), 300u);
        ASSERT_FALSE(secondResults[0].reported.empty());
        ASSERT_GT(secondResults[0].deleted, 0u);
        for (int i = 1; i < 3; ++i) {
            SCOPED_TRACE("walkers " + std::to_string(kWalkers[i]) +
                         (countHidden ? ", hidden counted" : ", full-path masks"));
            EXPECT_TRUE(firstResults[i] == firstResults[0]);
            EXPECT_EQ(secondResults[i].reported, secondResults[0].reported);
            EXPECT_EQ(secondResults[i].again, secondResults[0].again);
            EXPECT_EQ(secondResults[i].deleted, secondResults[0].deleted);
            EXPECT_TRUE(secondResults[i].snapshot == secondResults[0].snapshot);
        }
    }
}

TEST_F(ParallelWalkTest, WalksAtOnceShareThePoolAndKeepTheirOwnResults) {
    constexpr int kWalks = 4;
    std::vector<std::unique_ptr<RandomTree>> trees;
    std::vector<WalkResult> expected(kWalks);
    Rules rules(true, false);
    for (int i = 0; i < kWalks; ++i) {
        trees.push_back(std::make_unique<RandomTree>(m_dir.Path() / ("t" + std::to_string(i)),
                                                     static_cast<unsigned>(i + 1)));
        trees.back()->Grow(60, 800);
        Snapshot none, fresh;
        expected[i] = Walk(trees.back()->Root(), rules.rules, none, fresh, 1);
    }
    std::vector<WalkResult> got(kWalks * 3);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kWalks; ++i) {
            threads.emplace_back([&, i] {
                for (int round = 0; round < 3; ++round) {
                    Snapshot none, fresh;
                    got[i * 3 + round] = Walk(trees[i]->Root(), rules.rules, none, fresh, 3);
                }
            });
        }
    }
    for (int i = 0; i < kWalks * 3; ++i) {
        EXPECT_TRUE(got[i] == expected[i / 3]) << "walk " << i;
    }
    EXPECT_GE(platform::ScanPool::Process().ThreadCount(), 2u);
}

TEST_F(ParallelWalkTest, AWalkStoppedEarlyEndsWhereTheSingleWalkEnds) {
    RandomTree tree(m_dir.Path() / "tree", 7);
    tree.Grow(150, 2000);
    Rules rules(true, false);
    for (const int stopAfter : {1, 50, 700, 2500}) {
        WalkResult results[3];
        const int kWalkers[] = {1, 2, 5};
        for (int i = 0; i < 3; ++i) {
            int asked = 0;
            Snapshot none, fresh;
            results[i] = Walk(tree.Root(), rules.rules, none, fresh, kWalkers[i],
                              [&] { return ++asked > stopAfter; });
        }
        EXPECT_TRUE(results[1] == results[0]) << "stopped after " << stopAfter;
        EXPECT_TRUE(results[2] == results[0]) << "stopped after " << stopAfter;
    }
}

}  // namespace
}  // namespace quorvel
