#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/version.h"
#include "engine/monitor_process.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// A sink that fails after a number of bytes, like a disk that fills up.
class FailingSink : public platform::OutputSink {
public:
    explicit FailingSink(std::size_t limit) : m_limit(limit) {}
    bool Write(std::string_view data) override {
        if (m_failed || m_written + data.size() > m_limit) {
            m_failed = true;
            return false;
        }
        m_written += data.size();
        return true;
    }

private:
    std::size_t m_limit;
    std::size_t m_written = 0;
    bool m_failed = false;
};

class StringSink : public platform::OutputSink {
public:
    bool Write(std::string_view data) override {
        text += data;
        return true;
    }
    std::string text;
};

const std::string kTwoItems = std::string("; Quorvel ") + kVersion +
                              " Config File\r\n"
    "; You can edit this file, but be accurate.\r\n"
    "\r\n"
    ";;;\r\n"
    "Paused=1\r\n"
    "IsDirectory=0\r\n"
    "FileName=/nonexistent/first.log\r\n"
    "Interval=3600\r\n"
    ";\r\n"
    "Action=2\r\n"
    "Message=hello\r\n"
    "EOF\r\n"
    ";;;\n"
    "IsDirectory=2\n"
    "EOF\n"
    ";;;\n"
    "Paused=1\n"
    "FileName=/nonexistent/second.log\n"
    "eofXYZ\n"
    ";;;\n"
    "Paused=1\n"
    "FileName=/nonexistent/dropped.log\n";

TEST(ConfigurationTest, ReadsBlocksSeparatorsAndDropsAnUnfinishedBlock) {
    MonitorProcess list;
    list.LoadText(kTwoItems);
    ASSERT_EQ(list.Count(), 3);
    ASSERT_TRUE(list.Get(0));
    EXPECT_FALSE(list.Get(1));
    ASSERT_TRUE(list.Get(2));
    EXPECT_EQ(list.Get(0)->FileName(), "/nonexistent/first.log");
    EXPECT_EQ(list.Get(0)->State(), ItemState::Paused);
    EXPECT_EQ(list.Get(2)->FileName(), "/nonexistent/second.log");
    EXPECT_EQ(list.Get(2)->Id(), 2);
    EXPECT_EQ(list.Get(0)->Actions()->size(), 1u);
}

TEST(ConfigurationTest, SaveThenLoadGivesTheSameEntries) {
    MonitorProcess list;
    list.LoadText(kTwoItems);
    StringSink first;
    ASSERT_TRUE(list.SaveTo(first));
    EXPECT_EQ(first.text.rfind(MonitorProcess::Header(), 0), 0u);
    EXPECT_NE(test::Lf(first.text).find(";;;\nIsDirectory=2\nEOF\n"), std::string::npos);

    MonitorProcess again;
    again.LoadText(first.text);
    StringSink second;
    ASSERT_TRUE(again.SaveTo(second));
    EXPECT_EQ(first.text, second.text);

    StringSink none;
    ASSERT_TRUE(list.SaveTo(none, [](int) { return false; }));
    EXPECT_EQ(none.text, MonitorProcess::Header());
}

TEST(ConfigurationTest, OverlongLinesAreCutAndTheRestReadAsAnotherLine) {
    std::string longName(9000, 'a');
    std::string text = ";;;\nPaused=1\nComment=" + longName + "\nEOF\n";
    MonitorProcess list;
    list.LoadText(text);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Get(0)->Comment().size(), 8192u - 8u);
}

TEST(ConfigurationTest, GarbageNeverCrashesAndFallsBackToDefaults) {
    std::string garbage;
    for (int i = 0; i < 20000; ++i) {
        garbage += static_cast<char>((i * 7919) % 256);
    }
    MonitorProcess list;
    list.LoadText(garbage);
    list.LoadText(
        ";;;\nPaused=1\nIsDirectory=7\nInterval=-3\nDays=101\nMonthDays=x-40\n"
        "ExcludedDates=32.13.2020\nTimeInterval=99:99:99 - 1\nWorkHours=1\nEOF\n");
    auto item = list.Get(list.Count() - 1);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Kind(), ItemKind::File);
    EXPECT_EQ(item->Interval(), 1);
    std::string out;
    item->WriteSettings(out);
    out = test::Lf(out);
    EXPECT_NE(out.find("WorkHours=0\n"), std::string::npos);
    EXPECT_NE(out.find("Days=1010000\n"), std::string::npos);
}

class ConfigurationFileTest : public test::TempDirTest {};

TEST_F(ConfigurationFileTest, LoadAnswersFalseOnlyWhenTheFileCannotBeOpened) {
    MonitorProcess list;
    EXPECT_FALSE(list.Load(m_dir / "missing.mon"));
    EXPECT_FALSE(list.Load(m_dir.Path().string()));
    EXPECT_TRUE(list.Load(m_dir.Write("header.mon", MonitorProcess::Header())));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.Load(m_dir.Write("bom.mon", "\xEF\xBB\xBF;;;\nPaused=1\nEOF\n")));
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(ConfigurationFileTest, AFailedSaveKeepsTheOldFileAndAnswersFalse) {
    MonitorProcess list;
    list.LoadText(kTwoItems);
    const std::string path = m_dir.Write("keep.mon", "old content\n");
    FailingSink failing(40);
    EXPECT_FALSE(list.SaveTo(failing));
    EXPECT_FALSE(list.Save((m_dir / "no-such-dir") + "/x.mon"));
    EXPECT_EQ(test::ReadFile(path), "old content\n");
    ASSERT_TRUE(list.Save(path));
    MonitorProcess again;
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.Count(), 3);
    // No temporary files are left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ConfigurationFileTest, SavingThroughASymlinkReplacesItsTargetAndKeepsTheMode) {
    if (test::OnWindows()) {
        GTEST_SKIP() << "symbolic links need privileges there";
    }
    const std::string target = m_dir.Write("dotfiles/work.mon", "old\n");
    std::filesystem::permissions(
        target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::string link = m_dir / "work.mon";
    std::filesystem::create_symlink("dotfiles/work.mon", link);
    MonitorProcess list;
    list.LoadText(kTwoItems);
    ASSERT_TRUE(list.Save(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadFile(target).rfind(MonitorProcess::Header(), 0), 0u);
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir / "dotfiles"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(MonitorProcessTest, DeleteMoveAndIds) {
    MonitorProcess list;
    for (int i = 0; i < 3; ++i) {
        list.Add(ItemKind::File, true);
    }
    auto second = list.Get(1);
    auto third = list.Get(2);
    list.Delete(0);
    EXPECT_EQ(second->Id(), 0);
    EXPECT_EQ(third->Id(), 1);
    list.Delete(5);
    EXPECT_EQ(list.Count(), 2);
    list.Add(ItemKind::Separator, false);
    EXPECT_TRUE(list.Move(0, 2));
    EXPECT_EQ(list.Get(2), second);
    EXPECT_EQ(second->Id(), 2);
    EXPECT_EQ(third->Id(), 0);
    EXPECT_FALSE(list.Move(1, 1));
    EXPECT_FALSE(list.Move(-1, 1));
    EXPECT_FALSE(list.Move(0, 3));
}

TEST(MonitorProcessTest, AllPausedLeavesIndividuallyPausedItemsAlone) {
    MonitorProcess list;
    list.LoadText(
        ";;;\nPaused=1\nInterval=3600\nFileName=/nonexistent/a\nEOF\n"
        ";;;\nPaused=0\nInterval=3600\nFileName=/nonexistent/b\nEOF\n");
    auto paused = list.Get(0);
    auto running = list.Get(1);
    ASSERT_TRUE(test::WaitFor([&] { return running->CheckCount() >= 1; }));
    list.SetAllPaused(true);
    EXPECT_TRUE(list.AllPaused());
    EXPECT_TRUE(running->Suspended());
    list.SetAllPaused(false);
    EXPECT_FALSE(running->Suspended());
    EXPECT_TRUE(paused->Suspended());
    EXPECT_EQ(paused->State(), ItemState::Paused);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(test::WaitFor([&] { return running->Finished() && paused->Finished(); }));
}

}  // namespace
}  // namespace quorvel
