#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/check_file_thread.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

// Runs checks by hand, without a worker, so each step is deterministic.
class ManualFileItem : public CheckFileThread {
public:
    static std::shared_ptr<ManualFileItem> Make(std::vector<std::string> settings) {
        auto item = std::shared_ptr<ManualFileItem>(new ManualFileItem());
        item->ReadSettings(settings);
        return item;
    }
    bool RunCheck() {
        Files().clear();
        bool result = Check();
        m_last = Files();
        return result;
    }
    const FileList& LastFiles() const { return m_last; }

private:
    ManualFileItem() : CheckFileThread(false) {}
    FileList m_last;
};

void SetModified(const std::string& path, std::int64_t secondsAgo) {
    auto t = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(secondsAgo);
    std::filesystem::last_write_time(path, t);
}

class FileMonitorTest : public test::TempDirTest {};

TEST_F(FileMonitorTest, IfChangedOnTheFirstCheckLooksAtTheLastInterval) {
    const std::string path = m_dir.Write("log.txt", "x");
    SetModified(path, 10);
    auto item = ManualFileItem::Make({"FileName=" + path, "Interval=60", "IfChanged=1"});
    EXPECT_TRUE(item->RunCheck());
    ASSERT_EQ(item->LastFiles().size(), 1u);
    EXPECT_EQ(item->LastFiles()[0].kind, FileKind::Changed);
    EXPECT_EQ(*item->LastFiles()[0].name, path);
    EXPECT_EQ(item->LastFiles()[0].size, 1);
    EXPECT_FALSE(item->RunCheck());  // unchanged since

    auto ignoring =
        ManualFileItem::Make({"FileName=" + path, "Interval=60", "IfChanged=1", "IgnoreFirst=1"});
    EXPECT_FALSE(ignoring->RunCheck());
}

TEST_F(FileMonitorTest, NotChangedFiresForAnOldFileAndChangesAreSeen) {
    const std::string path = m_dir.Write("stale.txt", "abc");
    SetModified(path, 86400);
    auto item = ManualFileItem::Make({"FileName=" + path, "Interval=60"});
    EXPECT_TRUE(item->RunCheck());
    EXPECT_EQ(item->State(), ItemState::Triggered);
    // Size changes with the same time count as a change.
    auto time = std::filesystem::last_write_time(path);
    m_dir.Write("stale.txt", "abcd");
    std::filesystem::last_write_time(path, time);
    EXPECT_FALSE(item->RunCheck());
    EXPECT_EQ(item->State(), ItemState::Ok);
    // A time that goes back is a change too.
    SetModified(path, 2 * 86400);
    EXPECT_FALSE(item->RunCheck());
    EXPECT_TRUE(item->RunCheck());
}

TEST_F(FileMonitorTest, MissingFilesAndTheirReturn) {
    const std::string path = m_dir / "maybe.txt";
    auto item = ManualFileItem::Make({"FileName=" + path, "IfChanged=1", "MustExist=1"});
    EXPECT_TRUE(item->RunCheck());
    EXPECT_EQ(item->State(), ItemState::NotFound);
    EXPECT_TRUE(item->LastFiles().empty());
    m_dir.Write("maybe.txt", "new");
    EXPECT_TRUE(item->RunCheck());
    ASSERT_EQ(item->LastFiles().size(), 1u);
    EXPECT_EQ(item->LastFiles()[0].kind, FileKind::Added);

    auto quiet = ManualFileItem::Make({"FileName=" + (m_dir / "never"), "MustExist=0"});
    EXPECT_FALSE(quiet->RunCheck());
    EXPECT_EQ(quiet->State(), ItemState::NotFound);
}

TEST_F(FileMonitorTest, WildcardsTakeTheFirstMatchAsTheFileSystemSpellsIt) {
    m_dir.Write("logs/App-2026.LOG", "1");
    auto item = ManualFileItem::Make(
        {"FileName=" + (m_dir / "logs/app-*.log"), "Interval=60", "IfChanged=1"});
    EXPECT_TRUE(item->RunCheck());
    ASSERT_EQ(item->LastFiles().size(), 1u);
    EXPECT_EQ(*item->LastFiles()[0].name, m_dir / "logs/App-2026.LOG");
    // A name with brackets that exists as written is taken as it is.
    const std::string bracket = m_dir.Write("file [1].txt", "b");
    auto exact = ManualFileItem::Make({"FileName=" + bracket, "Interval=60", "IfChanged=1"});
    EXPECT_TRUE(exact->RunCheck());
}

TEST_F(FileMonitorTest, LockedFilesSkipTheActions) {
    const std::string path = m_dir.Write("locked.txt", "x");
    SetModified(path, 86400);
    // The lock must come from another process to count.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_RDONLY);
        flock(fd, LOCK_EX);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    auto item = ManualFileItem::Make({"FileName=" + path, "CheckLocking=1"});
    EXPECT_FALSE(item->RunCheck());
    EXPECT_EQ(item->State(), ItemState::Triggered);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    auto after = ManualFileItem::Make({"FileName=" + path, "CheckLocking=1"});
    EXPECT_TRUE(after->RunCheck());
}

TEST_F(FileMonitorTest, AnItemPausedWhileWaitingForALockActsOnlyOnceResumed) {
    const std::string path = m_dir.Write("locked.txt", "x");
    const std::string list = m_dir / "acted.txt";
    SetModified(path, 86400);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_RDONLY);
        flock(fd, LOCK_EX);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    auto item = CheckFileThread::Create(false);
    item->ReadSettings({"FileName=" + path, "Interval=3600", "CheckLocking=1", "WaitUnlocking=1",
                        "Action=0", "ListName=" + list});
    item->Start();
    item->Resume();
    ASSERT_TRUE(test::WaitFor([&] { return item->State() == ItemState::Triggered; }));
    item->Pause();
    kill(child, SIGKILL);  // the lock goes while the item is paused
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(test::WaitFor([&] { return item->HoldingChain(); }));
    EXPECT_FALSE(std::filesystem::exists(list));
    item->Resume();
    EXPECT_TRUE(test::WaitFor([&] { return std::filesystem::exists(list); }));
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
}  // namespace quorvel
