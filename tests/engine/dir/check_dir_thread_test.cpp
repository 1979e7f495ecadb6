#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "dir_test_util.h"
#include "engine/cache_file.h"
#include "engine/monitor_process.h"
#include "support/recording_log.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::Describe;
using test::DirItem;
using ::testing::ElementsAre;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class DirMonitorTest : public test::TempDirTest {
protected:
    std::string Base() const { return m_dir.Path().string() + "/"; }
    std::string Watched() const { return "FileName=" + m_dir.Path().string(); }
    std::vector<std::string> Files(const std::optional<FileList>& run) const {
        return run ? Describe(*run, Base()) : std::vector<std::string>{"<not fulfilled>"};
    }
    void Touch(const std::string& name, const std::string& date) {
        ASSERT_EQ(test::RunTool({"touch", "-d", date, m_dir / name}).value_or(-1), 0);
    }
    void Tool(const std::vector<std::string>& argv, const std::string& cwd = {}) {
        ASSERT_EQ(test::RunTool(argv, cwd).value_or(-1), 0) << argv[0];
    }
};

TEST_F(DirMonitorTest, SettingsComeInTheirOrderWithTheirDefaults) {
    auto item = CheckDirThread::Create(true);
    std::string out;
    item->WriteSettings(out);
    const std::string expected =
        "CacheID=\nRealTime=0\nRealTimeInterval=0\nCacheData=0\nCheckExistingOnly=0\n"
        "CacheDirectory=" +
        item->CacheDirectory() +
        "\nMask=*\nExcludeMask=\nDirMask=*\n"
        "ExclDirMask=\nFullPathMask=0\nDirMonitoring=0\nSubdir=0\nCountHidden=1\nInverse=0\n"
        "Conditions=1100\nStorePrevInfo=0\nConditionType=0\nOlderInterval=3600\n"
        "IgnoreAdded=1\nIgnoreOpened=0\nBreak=0\n";
    ASSERT_GE(out.size(), expected.size());
    EXPECT_EQ(out.substr(out.size() - expected.size()), expected);
    EXPECT_NE(out.find("IncludedDates="), std::string::npos);
    EXPECT_LT(out.find("IncludedDates="), out.find("CacheID="));
    // Reading settings gives the item a cache identifier.
    item->ReadSettings({"Conditions=1"});
    EXPECT_EQ(item->CacheId().size(), 8u);
    std::string again;
    item->WriteSettings(again);
    EXPECT_NE(again.find("Conditions=1000\n"), std::string::npos);
    EXPECT_NE(again.find("CacheID=" + item->CacheId() + "\n"), std::string::npos);
    // The owner makes directory items for kind 1.
    auto made = CreateItem(ItemKind::Directory, true);
    ASSERT_TRUE(made);
    EXPECT_NE(dynamic_cast<CheckDirThread*>(made.get()), nullptr);
}

TEST_F(DirMonitorTest, DefaultsReportAddedAndChangedFilesButNotDeletions) {
    m_dir.Write("old.txt", "1");
    DirItem item({Watched()});
    item.WaitFirstCheck();
    EXPECT_EQ(item.Runs(), 0u);  // the first check is a baseline
    EXPECT_EQ(item->State(), ItemState::Ok);
    EXPECT_EQ(item.Check(), std::nullopt);

    m_dir.Write("new.txt", "22");
    EXPECT_THAT(Files(item.Check()), ElementsAre("new.txt:1"));
    EXPECT_EQ(item->State(), ItemState::Triggered);
    m_dir.Write("new.txt", "333");
    auto run = item.Check();
    EXPECT_THAT(Files(run), ElementsAre("new.txt:2"));
    ASSERT_TRUE(run);
    EXPECT_EQ(run->front().size, 3);
    Touch("old.txt", "2001-02-03 04:05:06");
    run = item.Check();
    EXPECT_THAT(Files(run), ElementsAre("old.txt:2"));
    ASSERT_TRUE(run && run->front().time.Decode());
    EXPECT_EQ(run->front().time.Decode()->year, 2001);
    EXPECT_EQ(run->front().time.Decode()->hour, 4);
    fs::remove(m_dir.Path() / "old.txt");
    EXPECT_EQ(item.Check(), std::nullopt);
    EXPECT_EQ(item->State(), ItemState::Ok);
}

TEST_F(DirMonitorTest, DeletionsFulfilTheConditionAndCarryNamesOnlyWhenStored) {
    m_dir.Write("a", "1");
    m_dir.Write("b", "1");
    {
        DirItem item({Watched(), "Conditions=0010"});
        item.WaitFirstCheck();
        fs::remove(m_dir.Path() / "a");
        auto run = item.Check();
        ASSERT_TRUE(run);
        EXPECT_TRUE(run->empty());
        m_dir.Write("c", "1");  // additions are not watched
        EXPECT_EQ(item.Check(), std::nullopt);
    }
    {
        DirItem item({Watched(), "Conditions=0010", "StorePrevInfo=1"});
        item.WaitFirstCheck();
        fs::remove(m_dir.Path() / "b");
        fs::remove(m_dir.Path() / "c");
        auto run = item.Check();
        EXPECT_THAT(Files(run), UnorderedElementsAre("b:3", "c:3"));
        ASSERT_TRUE(run);
        EXPECT_EQ(run->front().size, 1);
    }
}

TEST_F(DirMonitorTest, InverseHoldsWhenNothingWasAddedOrChangedButNeverOnABaseline) {
    m_dir.Write("a", "1");
    DirItem item({Watched(), "Inverse=1"});
    item.WaitFirstCheck();
    EXPECT_EQ(item.Runs(), 0u);
    auto run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_TRUE(run->empty());
    m_dir.Write("b", "1");
    EXPECT_EQ(item.Check(), std::nullopt);
    EXPECT_EQ(item->State(), ItemState::Ok);
    EXPECT_TRUE(item.Check());
}

TEST_F(DirMonitorTest, MasksSplitAtSemicolonsAndLineBreaksAndKeepTheirBlanks) {
    ::setenv("QUORVEL_DIR_TEST_MASK", "*.LOG", 1);
    DirItem item(
        {Watched(), "Mask=*.txt; b*;%Environment=\"QUORVEL_DIR_TEST_MASK\"", "ExcludeMask=skip*"});
    item.WaitFirstCheck();
    for (const char* name : {"a.txt", "a.log", "b.dat", " b.dat", "skip.txt", "c.TXT", "d.doc"}) {
        m_dir.Write(name, "x");
    }
    EXPECT_THAT(Files(item.Check()),
                UnorderedElementsAre("a.txt:1", "a.log:1", " b.dat:1", "c.TXT:1"));
}

TEST_F(DirMonitorTest, AnEmptyMaskMonitorsNothing) {
    DirItem item({Watched(), "Mask="});
    item.WaitFirstCheck();
    m_dir.Write("a", "x");
    EXPECT_EQ(item.Check(), std::nullopt);
}

TEST_F(DirMonitorTest, SubdirectoryEntriesAreReportedBeforeTheirDirectory) {
    DirItem item({Watched(), "Subdir=1", "DirMonitoring=1"});
    item.WaitFirstCheck();
    m_dir.Write("src/x/file1", "1");
    auto run = item.Check();
    EXPECT_THAT(Files(run), ElementsAre("src/x/file1:1", "src/x:1", "src:1"));
    // Without "Subdir" the tree below is not looked at.
    DirItem flat({Watched(), "DirMonitoring=1"});
    flat.WaitFirstCheck();
    m_dir.Write("src/x/file2", "1");
    m_dir.Write("top", "1");
    EXPECT_THAT(Files(flat.Check()), ElementsAre("top:1"));
}

TEST_F(DirMonitorTest, DirectoryMasksChooseWhichSubdirectoriesAreEntered) {
    DirItem item({Watched(), "Subdir=1", "DirMask=keep*", "ExclDirMask=keep_not"});
    item.WaitFirstCheck();
    m_dir.Write("keep1/f", "1");
    m_dir.Write("keep_not/f", "1");
    m_dir.Write("other/f", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("keep1/f:1"));
}

TEST_F(DirMonitorTest, HiddenEntriesAreSkippedWhenNotCounted) {
    DirItem item({Watched(), "Subdir=1", "DirMonitoring=1", "CountHidden=0"});
    item.WaitFirstCheck();
    m_dir.Write(".hidden/f", "1");
    m_dir.Write(".file", "1");
    m_dir.Write("shown/f", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("shown/f:1", "shown:1"));
}

TEST_F(DirMonitorTest, FullPathMasksSeeTheWholePath) {
    DirItem item({Watched(), "Subdir=1", "FullPathMask=1", "Mask=f*;*/in/*", "ExclDirMask=*/skip"});
    item.WaitFirstCheck();
    m_dir.Write("f1", "1");  // "f*" never matches a full path
    m_dir.Write("in/f2", "1");
    m_dir.Write("in/skip/f3", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("in/f2:1"));
}

TEST_F(DirMonitorTest, BreakReportsOneFileAtATimeAndLosesNone) {
    m_dir.Write("keep", "1");
    DirItem item({Watched(), "Break=1", "Conditions=1110", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    for (int i = 0; i < 3; ++i) {
        m_dir.Write("n" + std::to_string(i), "1");
    }
    fs::remove(m_dir.Path() / "keep");
    std::vector<std::string> seen;
    for (int round = 0; round < 3; ++round) {
        auto run = item.Check();
        ASSERT_TRUE(run) << round;
        int additions = 0, deletions = 0;
        for (const auto& f : *run) {
            (f.kind == FileKind::Deleted ? deletions : additions) += 1;
        }
        EXPECT_LE(additions, 1);
        EXPECT_LE(deletions, 1);
        for (const auto& d : Describe(*run, Base())) {
            seen.push_back(d);
        }
    }
    // Every new file was reported once, the deleted one once, and files
    // passed over were never taken for deleted.
    EXPECT_THAT(seen, UnorderedElementsAre("n0:1", "n1:1", "n2:1", "keep:3"));
    EXPECT_EQ(item.Check(), std::nullopt);
}

TEST_F(DirMonitorTest, AgeModeReportsOldFilesAndCountsNewOnesFromTheirFirstSight) {
    m_dir.Write("ancient", "1");
    Touch("ancient", "2000-01-01");
    m_dir.Write("fresh", "1");
    DirItem item({Watched(), "ConditionType=1", "OlderInterval=1"});
    item.WaitFirstCheck();
    ASSERT_EQ(item.Runs(), 1u);  // the baseline reports every old file
    EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("ancient:4"));

    // A file that arrives with an old time is new to the item.
    m_dir.Write("copied", "1");
    Touch("copied", "2000-01-01");
    const DateTime seen = DateTime::Now();
    auto run = item.Check();
    EXPECT_THAT(Files(run), ElementsAre("ancient:4"));
    // Once it has been present longer than the limit, it is old as well.
    ASSERT_TRUE(
        test::WaitFor([&] { return (DateTime::Now().Days() - seen.Days()) * 86400.0 > 2.5; }));
    run = item.Check();
    EXPECT_THAT(Files(run), UnorderedElementsAre("ancient:4", "copied:4", "fresh:4"));
    ASSERT_TRUE(run);
    for (const auto& f : *run) {
        if (f.name && f.name->ends_with("copied")) {
            EXPECT_GE(f.time.Days(), seen.Days() - 1.0 / 86400);  // its first sight
        }
    }
}

TEST_F(DirMonitorTest, AgeModeWithoutIgnoreAddedReportsCopiedOldFilesAtOnce) {
    DirItem item({Watched(), "ConditionType=1", "IgnoreAdded=0"});
    item.WaitFirstCheck();
    m_dir.Write("copied", "1");
    Touch("copied", "2000-01-01");
    EXPECT_THAT(Files(item.Check()), ElementsAre("copied:4"));
}

TEST_F(DirMonitorTest, CheckExistingOnlyWaitsForTheDirectoryAndKeepsTheSnapshot) {
    const std::string watched = m_dir / "w";
    fs::create_directory(watched);
    m_dir.Write("w/a", "1");
    DirItem item({"FileName=" + watched, "CheckExistingOnly=1", "Conditions=1110"});
    item.WaitFirstCheck();
    fs::rename(watched, m_dir / "elsewhere");
    EXPECT_EQ(item.Check(), std::nullopt);
    EXPECT_EQ(item->State(), ItemState::NotFound);
    fs::rename(m_dir / "elsewhere", watched);
    m_dir.Write("w/b", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("w/b:1"));  // "a" is no news
}

TEST_F(DirMonitorTest, CheckExistingOnlyOnAMissingDirectoryUsesUpTheBaseline) {
    const std::string watched = m_dir / "later";
    DirItem item({"FileName=" + watched, "CheckExistingOnly=1"});
    item.WaitFirstCheck();
    EXPECT_EQ(item->State(), ItemState::NotFound);
    m_dir.Write("later/a", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("later/a:1"));
}

TEST_F(DirMonitorTest, ADirectoryDeletedAndRecreatedBetweenChecks) {
    const std::string watched = m_dir / "w";
    m_dir.Write("w/a", "1");
    DirItem item({"FileName=" + watched, "Conditions=0001", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    fs::remove_all(watched);
    EXPECT_THAT(Files(item.Check()), ElementsAre("w/a:3"));
    m_dir.Write("w/a", "1");
    m_dir.Write("w/b", "1");
    EXPECT_THAT(Files(item.Check()), UnorderedElementsAre("w/a:1", "w/b:1"));
    EXPECT_EQ(item.Check(), std::nullopt);
}

TEST_F(DirMonitorTest, FilesHeldByAnotherProgramArePassedOverAndReportedLater) {
    DirItem item({Watched(), "IgnoreOpened=1"});
    item.WaitFirstCheck();
    const std::string path = m_dir.Write("busy", "1");
    int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another open file holds the lock
    m_dir.Write("free", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("free:1"));
    ::close(fd);
    // New while in use: seen as changed once free ("Conditions" 1 is on).
    EXPECT_THAT(Files(item.Check()), ElementsAre("busy:2"));
    EXPECT_EQ(item.Check(), std::nullopt);
}

TEST_F(DirMonitorTest, SymlinkLoopsAreNotFollowed) {
    m_dir.Write("d/f", "1");
    fs::create_directory_symlink(m_dir.Path(), m_dir.Path() / "d/loop");
    DirItem item({Watched(), "Subdir=1", "DirMonitoring=1", "Conditions=0001"});
    item.WaitFirstCheck();
    m_dir.Write("d/g", "1");
    EXPECT_THAT(Files(item.Check()), ElementsAre("d/g:1", "d:2"));
}

// ---- real tools writing into the watched directory ----

TEST_F(DirMonitorTest, CopiesMovesArchivesAndAtomicSavesAreSeen) {
    test::TempDir source;
    source.Write("tree/one.txt", "1");
    source.Write("tree/sub/two.txt", "22");
    fs::create_directory(m_dir.Path() / "w");
    const std::string w = m_dir / "w";
    DirItem item({"FileName=" + w, "Subdir=1", "Conditions=0001", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    const std::string base = w + "/";

    Tool({"cp", "-a", source / "tree", w + "/copy"});
    auto run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, base), UnorderedElementsAre("copy/one.txt:1", "copy/sub/two.txt:1"));

    Tool({"mv", w + "/copy/one.txt", w + "/copy/moved.txt"});
    run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, base), UnorderedElementsAre("copy/moved.txt:1", "copy/one.txt:3"));

    if (test::HaveTool("rsync")) {
        Tool({"rsync", "-a", source.Path().string() + "/tree/", w + "/synced/"});
        run = item.Check();
        ASSERT_TRUE(run);
        EXPECT_THAT(Describe(*run, base),
                    UnorderedElementsAre("synced/one.txt:1", "synced/sub/two.txt:1"));
    }

    Tool({"tar", "-cf", source / "t.tar", "-C", source.Path().string(), "tree"});
    Tool({"tar", "-xf", source / "t.tar", "-C", w});
    run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, base), UnorderedElementsAre("tree/one.txt:1", "tree/sub/two.txt:1"));

    // An editor's save: the new text goes to a temporary file renamed over
    // the old one. The file counts as changed, the temporary file never shows.
    std::ofstream(w + "/tree/.one.txt.swp") << "new text";
    Tool({"mv", w + "/tree/.one.txt.swp", w + "/tree/one.txt"});
    run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, base), ElementsAre("tree/one.txt:2"));
}

TEST_F(DirMonitorTest, GitCheckoutsShowAsChanges) {
    if (!test::HaveTool("git")) {
        GTEST_SKIP() << "git is not installed";
    }
    const std::string repo = m_dir / "repo";
    fs::create_directory(repo);
    auto git = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = {
            "git", "-c", "user.name=t", "-c", "user.email=t@t", "-c", "init.defaultBranch=main"};
        argv.insert(argv.end(), args.begin(), args.end());
        Tool(argv, repo);
    };
    git({"init", "-q"});
    m_dir.Write("repo/a.txt", "first");
    git({"add", "a.txt"});
    git({"commit", "-q", "-m", "one"});
    git({"checkout", "-q", "-b", "other"});
    m_dir.Write("repo/a.txt", "second version");
    m_dir.Write("repo/b.txt", "b");
    git({"add", "a.txt", "b.txt"});
    git({"commit", "-q", "-m", "two"});

    DirItem item(
        {"FileName=" + repo, "Subdir=1", "ExclDirMask=.git", "Conditions=0001", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    git({"checkout", "-q", "main"});
    auto run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, repo + "/"), UnorderedElementsAre("a.txt:2", "b.txt:3"));
}

// ---- cache file ----

TEST_F(DirMonitorTest, TheCacheReportsWhatChangedWhileTheItemWasNotRunning) {
    const std::string cache = m_dir / "cache";
    fs::create_directory(m_dir.Path() / "w");
    const std::string w = m_dir / "w";
    m_dir.Write("w/stays", "1");
    m_dir.Write("w/changes", "1");
    m_dir.Write("w/goes", "1");
    const std::vector<std::string> settings = {"FileName=" + w,    "CacheData=1",
                                               "CacheID=ITEM0001", "CacheDirectory=" + cache,
                                               "Conditions=0001",  "StorePrevInfo=1"};
    {
        DirItem item(settings);
        item.WaitFirstCheck();
        EXPECT_EQ(item.Runs(), 0u);
    }
    const std::string file = cache + "/ITEM0001.DAT";
    auto cached = cache_file::Read(file);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->snapshot.Size(), 3u);
    m_dir.Write("w/changes", "22");
    fs::remove(m_dir.Path() / "w/goes");
    m_dir.Write("w/new", "1");
    {
        DirItem item(settings);
        item.WaitFirstCheck();
        ASSERT_EQ(item.Runs(), 1u);
        EXPECT_THAT(Describe(item.AllRuns()[0], w + "/"),
                    UnorderedElementsAre("changes:2", "new:1", "goes:3"));
    }
}

TEST_F(DirMonitorTest, AnEmptyCacheReportsEveryFileAndANamelessOneSwitchesNamesOff) {
    const std::string cache = m_dir / "cache";
    fs::create_directory(m_dir.Path() / "w");
    const std::string w = m_dir / "w";
    m_dir.Write("w/a", "1");
    ASSERT_TRUE(cache_file::Write(cache, "EMPTY", Snapshot()));
    {
        DirItem item({"FileName=" + w, "CacheData=1", "CacheID=EMPTY", "CacheDirectory=" + cache});
        item.WaitFirstCheck();
        ASSERT_EQ(item.Runs(), 1u);
        EXPECT_THAT(Describe(item.AllRuns()[0], w + "/"), ElementsAre("a:1"));
    }
    Snapshot nameless;
    nameless.Append(PathKey(w + "/gone"), 1.0, 1);
    ASSERT_TRUE(cache_file::Write(cache, "NONAMES", nameless));
    DirItem item({"FileName=" + w, "CacheData=1", "CacheID=NONAMES", "CacheDirectory=" + cache,
                  "Conditions=0010", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    EXPECT_FALSE(item->StorePrevInfo());
    ASSERT_EQ(item.Runs(), 1u);
    EXPECT_TRUE(item.AllRuns()[0].empty());  // fulfilled, but no names to hand over
}

TEST_F(DirMonitorTest, ADamagedCacheMakesTheFirstCheckABaseline) {
    const std::string cache = m_dir / "cache";
    fs::create_directory(m_dir.Path() / "w");
    fs::create_directory(cache);
    m_dir.Write("w/a", "1");
    std::ofstream(cache + "/BAD.DAT") << std::string("\x05\x00\x00\x00garbage", 11);
    DirItem item(
        {"FileName=" + (m_dir / "w"), "CacheData=1", "CacheID=BAD", "CacheDirectory=" + cache});
    item.WaitFirstCheck();
    EXPECT_EQ(item.Runs(), 0u);
    // The check replaced the damaged file with a good one.
    auto repaired = cache_file::Read(cache + "/BAD.DAT");
    ASSERT_TRUE(repaired);
    EXPECT_EQ(repaired->snapshot.Size(), 1u);
}

// A FIFO or a link to a device where the cache goes is no cache: the first
// check is a baseline, the log says why, and the item neither blocks nor
// reads without end.
TEST_F(DirMonitorTest, ACacheThatIsNoRegularFileIsNoCache) {
    const std::string cache = m_dir / "cache";
    fs::create_directory(m_dir.Path() / "w");
    fs::create_directory(cache);
    m_dir.Write("w/a", "1");
    ASSERT_EQ(::mkfifo((cache + "/FIFO.DAT").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", cache + "/ZERO.DAT");
    test::RecordingLog log;
    for (const char* id : {"FIFO", "ZERO"}) {
        DirItem item({"FileName=" + (m_dir / "w"), "CacheData=1", std::string("CacheID=") + id,
                      "CacheDirectory=" + cache});
        item.WaitFirstCheck();
        EXPECT_EQ(item.Runs(), 0u) << id;
    }
    const auto lines = log.Lines(LogLevel::Warning);
    EXPECT_THAT(lines, Contains(AllOf(HasSubstr("FIFO.DAT\" is not a regular file"),
                                      HasSubstr("the first check is a baseline"))));
    EXPECT_THAT(lines, Contains(HasSubstr("ZERO.DAT\" is not a regular file")));
    EXPECT_TRUE(fs::is_character_file("/dev/zero")) << "nothing is written through the link";
}

TEST_F(DirMonitorTest, TwoItemsSharingOneCacheFileNeverLeaveItDamaged) {
    const std::string cache = m_dir / "cache";
    for (int i = 0; i < 300; ++i) {
        m_dir.Write("w1/f" + std::to_string(i), "1");
        m_dir.Write("w2/g" + std::to_string(i), "1");
    }
    auto settings = [&](const std::string& dir) {
        return std::vector<std::string>{
            "FileName=" + (m_dir / dir), "CacheData=1",     "CacheID=SHARED",
            "CacheDirectory=" + cache,   "StorePrevInfo=1", "Conditions=0001"};
    };
    DirItem one(settings("w1"));
    DirItem two(settings("w2"));
    one.WaitFirstCheck();
    two.WaitFirstCheck();
    for (int round = 0; round < 20; ++round) {
        one->CheckNow(false);
        two->CheckNow(false);
        auto read = cache_file::Read(cache + "/SHARED.DAT");
        ASSERT_TRUE(read) << round;
        EXPECT_EQ(read->snapshot.Size(), 300u);
    }
}

TEST(DirMonitorPermissionTest, ReadOnlyCacheDirectoryAndClosedSubdirectories) {
    if (!test::RunUnprivileged()) {
        return;
    }
    test::TempDir dir;
    const std::string cache = dir / "cache";
    fs::create_directory(cache);
    dir.Write("w/open/a", "1");
    dir.Write("w/closed/b", "1");
    ::chmod(cache.c_str(), 0500);
    DirItem item({"FileName=" + (dir / "w"), "Subdir=1", "CacheData=1", "CacheID=RO",
                  "CacheDirectory=" + cache, "Conditions=0001", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    EXPECT_FALSE(fs::exists(cache + "/RO.DAT"));  // nothing written, nothing broken
    ASSERT_EQ(::chmod((dir / "w/closed").c_str(), 0), 0);
    dir.Write("w/open/c", "1");
    auto run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, dir.Path().string() + "/w/"),
                UnorderedElementsAre("open/c:1", "closed/b:3"));
    ::chmod((dir / "w/closed").c_str(), 0755);
    run = item.Check();
    ASSERT_TRUE(run);
    EXPECT_THAT(Describe(*run, dir.Path().string() + "/w/"), ElementsAre("closed/b:1"));
    ::chmod(cache.c_str(), 0700);
}

// Files replaced, removed and re-created while the scan reads them: every
// check ends, and once the churn stops the snapshot settles on what is there.
TEST_F(DirMonitorTest, FilesReplacedDuringTheScanLeaveAConsistentSnapshot) {
    for (int i = 0; i < 200; ++i) {
        m_dir.Write("sub/f" + std::to_string(i), "x");
    }
    DirItem item({Watched(), "Subdir=1", "Conditions=1110", "StorePrevInfo=1"});
    item.WaitFirstCheck();
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        const std::string dir = m_dir / "sub/";
        for (unsigned n = 0; !stop.load(); ++n) {
            const std::string target = dir + "f" + std::to_string(n % 200);
            const std::string temp = dir + ".tmp" + std::to_string(n % 7);
            std::ofstream(temp) << n;
            ::rename(temp.c_str(), target.c_str());
            if (n % 13 == 0) {
                ::unlink((dir + "f" + std::to_string((n / 13) % 200)).c_str());
            }
        }
    });
    for (int i = 0; i < 30; ++i) {
        item.Check();
    }
    stop = true;
    churn.join();
    item.Check();  // takes in the final state
    EXPECT_EQ(item.Check(), std::nullopt) << "a check with nothing changed reported files";
}

}  // namespace
}  // namespace quorvel
