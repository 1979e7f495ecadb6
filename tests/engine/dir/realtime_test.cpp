#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <thread>

#include "dir_test_util.h"
#include "platform/watch_service.h"
#include "support/recording_log.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Describe;
using test::DirItem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The program's own gathering of changes is in force: a burst made by one
// program within milliseconds is one report.
class RealTimeTest : public test::TempDirTest {
protected:
    std::string Base() const { return m_dir.Path().string() + "/"; }
    std::vector<std::string> RealTime(std::vector<std::string> more = {}) const {
        std::vector<std::string> s = {"FileName=" + m_dir.Path().string(), "RealTime=1"};
        s.insert(s.end(), more.begin(), more.end());
        return s;
    }
};

// Creates, writes and renames a file with plain system calls, as fast as
// they go.
void Burst(const std::string& dir) {
    const std::string temp = dir + "/draft.tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "hello", 5), 5);
    ::close(fd);
    ASSERT_EQ(::rename(temp.c_str(), (dir + "/final.txt").c_str()), 0);
}

TEST_F(RealTimeTest, AChangeBringsTheCheckForwardAndABurstIsOneCheck) {
    DirItem item(RealTime());
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    const auto checks = item->CompletedChecks();
    Burst(m_dir.Path().string());
    ASSERT_TRUE(item.Collected().WaitForCount(1));
    EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("final.txt:1"));
    EXPECT_EQ(item->CompletedChecks(), checks + 1);
    // A later change is a check of its own.
    m_dir.Write("second", "1");
    ASSERT_TRUE(item.Collected().WaitForCount(2));
    EXPECT_THAT(Describe(item.AllRuns()[1], Base()), ElementsAre("second:1"));
    EXPECT_EQ(item->CompletedChecks(), checks + 2);
}

TEST_F(RealTimeTest, ChangesBelowAreIgnoredWithoutSubdirAndSeenWithIt) {
    fs::create_directory(m_dir.Path() / "sub");
    {
        DirItem item(RealTime());
        item.WaitFirstCheck();
        ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
        const auto checks = item->CheckCount();
        m_dir.Write("sub/inner", "1");
        // Nothing can come of it; give a wrong notification time to show.
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(item->CheckCount(), checks);
        m_dir.Write("top", "1");
        ASSERT_TRUE(item.Collected().WaitForCount(1));
        EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("top:1"));
    }
    DirItem item(RealTime({"Subdir=1"}));
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    m_dir.Write("sub/later", "1");
    ASSERT_TRUE(item.Collected().WaitForCount(1));
    EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("sub/later:1"));
}

TEST_F(RealTimeTest, APausedItemIsNotResumedButItsRequestIsServedOnResume) {
    DirItem item(RealTime());
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    item->Pause();
    const auto checks = item->CheckCount();
    m_dir.Write("while-paused", "1");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(item->State(), ItemState::Paused);
    EXPECT_EQ(item->CheckCount(), checks);
    EXPECT_EQ(item.Runs(), 0u);
    item->Resume();
    ASSERT_TRUE(item.Collected().WaitForCount(1));
    EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("while-paused:1"));
}

TEST_F(RealTimeTest, TheMinimumIntervalHoldsBackNotificationsButNotTheUser) {
    DirItem item(RealTime({"RealTimeInterval=3600"}));
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    const auto completed = item->CompletedChecks();
    const auto attempts = item->CheckCount();
    m_dir.Write("early", "1");
    // The notification asks for a check, which is put off at once.
    ASSERT_TRUE(test::WaitFor([&] { return item->CheckCount() > attempts; }));
    EXPECT_EQ(item->CompletedChecks(), completed);
    EXPECT_EQ(item.Runs(), 0u);
    EXPECT_GT(item->SecondsLeft(), 3000);
    // "Check Now" from the user is never held back, however soon it comes
    // after the previous check.
    item->CheckNow(true);
    ASSERT_TRUE(item.Collected().WaitForCount(1));
    EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("early:1"));
    for (std::size_t i = 2; i <= 30; ++i) {
        const auto done = item->CompletedChecks();
        item->CheckNow(true);
        ASSERT_TRUE(test::WaitFor([&] { return item->CompletedChecks() > done; })) << i;
    }
}

TEST_F(RealTimeTest, WithoutDirMonitoringAnEmptyNewDirectoryIsNoChange) {
    DirItem item(RealTime({"Subdir=1"}));
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    const auto checks = item->CheckCount();
    fs::create_directory(m_dir.Path() / "empty");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(item->CheckCount(), checks);
    // Files made inside it right away are seen.
    m_dir.Write("empty/now-full", "1");
    ASSERT_TRUE(item.Collected().WaitForCount(1));
    EXPECT_THAT(Describe(item.AllRuns()[0], Base()), ElementsAre("empty/now-full:1"));
}

TEST_F(RealTimeTest, AMissingDirectoryLeavesTheItemOnItsInterval) {
    DirItem item(
        {"FileName=" + (m_dir / "missing"), "RealTime=1", "Interval=1", "Conditions=0001"});
    item.WaitFirstCheck();
    EXPECT_FALSE(item->Watching());
    // The regular checks go on and find the directory once it exists.
    m_dir.Write("missing/f", "1");
    ASSERT_TRUE(item.Collected().WaitForCount(1));
}

// A root that went away is watched for its return: once a directory of its
// name is back, it is watched at once and the check that follows is whole,
// whether it was removed or moved aside and replaced.
TEST_F(RealTimeTest, AWatchedDirectoryThatComesBackIsWatchedAgainAtOnce) {
    const std::string watched = m_dir / "watched";
    fs::create_directory(watched);
    m_dir.Write("watched/old.txt", "1");
    DirItem item({"FileName=" + watched, "RealTime=1", "Interval=3600", "Conditions=1110",
                  "StorePrevInfo=1"});
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    const std::string base = watched + "/";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "removed" : "moved aside");
        const auto runs = item.Collected().Count();
        if (round == 0) {
            fs::remove_all(watched);
        } else {
            fs::rename(watched, m_dir / "watched.old");
        }
        fs::create_directory(watched);
        m_dir.Write("watched/new" + std::to_string(round) + ".txt", "1");
        // Reported without any regular check: the hour is far from over.
        ASSERT_TRUE(test::WaitFor([&] {
            for (const FileList& run : item.AllRuns()) {
                for (const std::string& d : Describe(run, base)) {
                    if (d == "new" + std::to_string(round) + ".txt:1") {
                        return true;
                    }
                }
            }
            return false;
        }));
        EXPECT_GT(item.Collected().Count(), runs);
        EXPECT_TRUE(item->Watching());
        fs::remove_all(m_dir / "watched.old");
    }
}

// Every real-time item shares the program's one change watcher: more of
// them than the kernel gives a user inotify instances (128) all react.
TEST_F(RealTimeTest, MoreItemsThanTheKernelHasInstancesAllReactAtOnce) {
    constexpr int kItems = 300;
    std::vector<std::unique_ptr<DirItem>> items;
    for (int i = 0; i < kItems; ++i) {
        const std::string dir = m_dir / ("d" + std::to_string(i));
        fs::create_directory(dir);
        items.push_back(std::make_unique<DirItem>(
            std::vector<std::string>{"FileName=" + dir, "RealTime=1", "Interval=3600"}));
    }
    for (auto& item : items) {
        item->WaitFirstCheck();
        ASSERT_TRUE(test::WaitFor([&] { return (*item)->Watching(); }));
    }
    for (int i = 0; i < kItems; ++i) {
        m_dir.Write("d" + std::to_string(i) + "/new.txt", "1");
    }
    for (int i = 0; i < kItems; ++i) {
        ASSERT_TRUE(items[static_cast<std::size_t>(i)]->Collected().WaitForCount(1)) << "item " << i;
    }
}

// When the kernel refuses a watch the item says so once, in the log and in
// its state, and goes on checking on its interval.
TEST_F(RealTimeTest, AWatchTheKernelRefusesIsSaidOnce) {
    struct Limit {
        explicit Limit(long n) { platform::WatchService::Process().SetWatchLimit(n); }
        ~Limit() { platform::WatchService::Process().SetWatchLimit(-1); }
    };
    test::RecordingLog log;
    {
        Limit none(0);
        DirItem item(RealTime());
        item.WaitFirstCheck();
        item.Check();
        item.Check();
        EXPECT_FALSE(item->Watching());
        EXPECT_THAT(item->RealTimeProblem(), HasSubstr("max_user_watches"));
        m_dir.Write("seen-by-the-check.txt", "1");
        ASSERT_TRUE(item.Check()) << "the interval's checks go on";
    }
    fs::create_directories(m_dir.Path() / "a/b");
    {
        Limit rootOnly(1);  // the subtree finds no watch left
        DirItem item(RealTime({"Subdir=1"}));
        item.WaitFirstCheck();
        ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
        item.Check();
        EXPECT_THAT(item->RealTimeProblem(), HasSubstr("may pass unseen"));
    }
    const auto warnings = log.Lines(LogLevel::Warning);
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [](const std::string& l) {
                                return l.find("can not be watched in real time") !=
                                       std::string::npos;
                            }),
              1);
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [](const std::string& l) {
                                return l.find("may pass unseen") != std::string::npos;
                            }),
              1);
}

TEST_F(RealTimeTest, EditedSettingsTurnTheWatcherOnAndOffAtTheNextCheck) {
    DirItem item(RealTime());
    item.WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    // As the properties dialog does it: settings written while running.
    ASSERT_TRUE(item->Params().ParseLine("RealTime=0"));
    item->ApplySettings();
    item.Check();
    EXPECT_FALSE(item->Watching());
    ASSERT_TRUE(item->Params().ParseLine("RealTime=1"));
    ASSERT_TRUE(item->Params().ParseLine("Subdir=1"));
    item.Check();
    ASSERT_TRUE(test::WaitFor([&] { return item->Watching(); }));
    // The subtree is watched now.
    m_dir.Write("deep/er.txt", "1");
    const auto runs = item.Runs();
    ASSERT_TRUE(item.Collected().WaitForCount(runs + 1));
}

TEST_F(RealTimeTest, StoppingTheItemStopsItsWatcher) {
    auto item = std::make_unique<DirItem>(RealTime({"Subdir=1"}));
    item->WaitFirstCheck();
    ASSERT_TRUE(test::WaitFor([&] { return (*item)->Watching(); }));
    auto shared = item->Shared();
    item.reset();  // stops the worker
    shared.reset();
    m_dir.Write("after-stop", "1");  // nobody may be called for this
    ASSERT_TRUE(BaseMonitoring::WaitForWorkers(20s));
}

}  // namespace
}  // namespace quorvel
