#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "actions/file_op_action.h"
#include "actions/kill_action.h"
#include "platform/file_operation.h"
#include "platform/posix/window_list_backends.h"
#include "platform/process.h"
#include "platform/window_list.h"
#include "support/fake_window_list.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "support/x_display.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WaitFor;

// Ends a child when the test leaves, also when an assertion failed.
struct EndOnExit {
    platform::ChildProcess& child;
    ~EndOnExit() { child.Terminate(); }
};

template <typename T>
std::unique_ptr<T> Make(const std::vector<std::string>& lines) {
    auto action = std::make_unique<T>();
    for (const auto& line : lines) {
        EXPECT_TRUE(action->Params().ParseLine(line)) << line;
    }
    return action;
}

FileList Files(const std::vector<std::string>& paths) {
    FileList files;
    for (const auto& p : paths) {
        files.emplace_back(p, DateTime(40000.0), 1, FileKind::Changed);
    }
    return files;
}

TEST(PathListTest, SplitsAtSemicolonsAndEndsAtAnEmptyEntry) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitPathList("/a;/b"), (V{"/a", "/b"}));
    EXPECT_EQ(SplitPathList("/a;/b;"), (V{"/a", "/b"}));
    EXPECT_EQ(SplitPathList("/a;;/b"), (V{"/a"}));
    EXPECT_EQ(SplitPathList(";/a"), V{});
    EXPECT_EQ(SplitPathList(""), V{});
    EXPECT_EQ(SplitPathList("/with space/x"), (V{"/with space/x"}));
}

// Counts the operations the action hands to the platform.
class CountingUi : public platform::FileOpUi {
public:
    bool ConfirmOverwrite(const platform::FileOperation&, const std::string&,
                          const std::string&) override {
        ++confirmations;
        return false;
    }
    void Progress(const platform::FileOperation&, const std::string& source) override {
        sources.push_back(source);
    }
    void Error(const platform::FileOperation&, const std::string& message) override {
        errors.push_back(message);
    }
    int confirmations = 0;
    std::vector<std::string> sources;
    std::vector<std::string> errors;
};

class FileOpActionTest : public test::TempDirTest {
protected:
    void SetUp() override { platform::SetFileOpUi(m_ui); }
    void TearDown() override { platform::SetFileOpUi(nullptr); }
    bool Run(FileOpAction& action, const FileList& files) {
        return action.Execute(files, DateTime(40000.0), m_control);
    }

    std::shared_ptr<CountingUi> m_ui = std::make_shared<CountingUi>();
    PlainRunControl m_control;
};

TEST_F(FileOpActionTest, OnePassForAllFilesNeedsARepeatingSection) {
    std::vector<std::string> paths;
    for (const char* n : {"1.txt", "2.txt", "3.txt", "4.txt"}) {
        paths.push_back(m_dir.Write(std::string("in/") + n, n));
    }
    auto plain = Make<FileOpAction>({"OpSource=%File", "OpDestination=" + m_dir / "plain/"});
    EXPECT_TRUE(Run(*plain, Files(paths)));
    EXPECT_TRUE(fs::exists(m_dir / "plain/1.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "plain/2.txt"));

    auto all = Make<FileOpAction>({"OpSource=%(%File;%)", "OpDestination=" + m_dir / "all"});
    EXPECT_TRUE(Run(*all, Files(paths)));
    for (const char* n : {"1.txt", "2.txt", "3.txt", "4.txt"}) {
        EXPECT_EQ(ReadFile(m_dir / (std::string("all/") + n)), n);
    }
}

TEST_F(FileOpActionTest, ASemicolonInANameNeverSplitsTheSourceList) {
    const std::string named = m_dir.Write("in/a;b.txt", "named");
    const std::string other = m_dir.Write("in/a", "other");
    auto del = Make<FileOpAction>({"OpIndex=3", "OpSource=%(%File;%)", "ShowProgress=0"});
    EXPECT_TRUE(Run(*del, Files({named})));
    EXPECT_FALSE(fs::exists(named));
    EXPECT_EQ(ReadFile(other), "other");
}

// A deleted file named "*" or "photo[1].jpg" stands for itself alone: the
// mirror loses nothing else, and the pass reports what it did not find.
TEST_F(FileOpActionTest, AMacroResultIsNeverAWildcard) {
    for (const char* n : {"a.txt", "b.txt", "photo1.jpg"}) {
        m_dir.Write(std::string("mirror/") + n, n);
    }
    test::RecordingLog log;
    auto del = Make<FileOpAction>({"OpIndex=3", "OpSource=" + m_dir / "mirror/%Name",
                                   "OpSingleArg=1", "ShowProgress=0"});
    EXPECT_TRUE(Run(*del, Files({m_dir / "in/*.txt", m_dir / "in/photo[1].jpg"})));
    for (const char* n : {"a.txt", "b.txt", "photo1.jpg"}) {
        EXPECT_TRUE(fs::exists(m_dir / (std::string("mirror/") + n))) << n;
    }
    EXPECT_THAT(log.Errors(), ::testing::HasSubstr("Cannot find \"" + m_dir / "mirror/*.txt\""));
    EXPECT_THAT(log.Errors(), ::testing::HasSubstr("mirror/photo[1].jpg"));

    // The template's own wildcard still is one.
    auto txt = Make<FileOpAction>({"OpIndex=3", "OpSource=" + m_dir / "mirror/*.txt"});
    EXPECT_TRUE(Run(*txt, FileList{}));
    EXPECT_FALSE(fs::exists(m_dir / "mirror/a.txt"));
    EXPECT_TRUE(fs::exists(m_dir / "mirror/photo1.jpg"));
}

TEST_F(FileOpActionTest, FileByFileRunsOneOperationPerFileWithItsOwnMacros) {
    std::vector<std::string> paths;
    for (const char* n : {"a", "b", "c", "d"}) {
        paths.push_back(m_dir.Write(std::string("in/") + n, n));
    }
    auto each = Make<FileOpAction>(
        {"OpIndex=2", "OpSource=%File", "OpDestination=%Name.old", "OpSingleArg=1"});
    EXPECT_TRUE(Run(*each, Files(paths)));
    EXPECT_EQ(m_ui->sources.size(), 4u);
    for (const char* n : {"a", "b", "c", "d"}) {
        EXPECT_EQ(ReadFile(m_dir / (std::string("in/") + n + ".old")), n);
        EXPECT_FALSE(fs::exists(m_dir / (std::string("in/") + n)));
    }
}

TEST_F(FileOpActionTest, PathListsStopAtTwoSemicolonsAndEmptyPartsSkipThePass) {
    std::string a = m_dir.Write("a", "a"), b = m_dir.Write("b", "b"), c = m_dir.Write("c", "c");
    auto copy = Make<FileOpAction>(
        {"OpSource=" + a + ";" + b + ";;" + c, "OpDestination=" + m_dir / "out"});
    EXPECT_TRUE(Run(*copy, {}));
    EXPECT_TRUE(fs::exists(m_dir / "out/a"));
    EXPECT_TRUE(fs::exists(m_dir / "out/b"));
    EXPECT_FALSE(fs::exists(m_dir / "out/c"));

    auto noDestination = Make<FileOpAction>({"OpSource=" + c});
    EXPECT_TRUE(Run(*noDestination, {}));
    EXPECT_TRUE(m_ui->errors.empty());
    EXPECT_EQ(m_ui->sources.size(), 2u);

    auto del = Make<FileOpAction>({"OpIndex=3", "OpSource=" + c});
    EXPECT_TRUE(Run(*del, {}));
    EXPECT_FALSE(fs::exists(c));
}

TEST_F(FileOpActionTest, ConfirmationsFollowShowProgressAndYesToAll) {
    std::string a = m_dir.Write("a", "new");
    std::string b = m_dir.Write("b", "old");
    auto ask = Make<FileOpAction>({"OpSource=" + a, "OpDestination=" + b, "YesToAll=0"});
    EXPECT_TRUE(Run(*ask, {}));
    EXPECT_EQ(m_ui->confirmations, 1);
    EXPECT_EQ(ReadFile(b), "old");

    auto silent =
        Make<FileOpAction>({"OpSource=" + a, "OpDestination=" + b, "YesToAll=0", "ShowProgress=0"});
    EXPECT_TRUE(Run(*silent, {}));
    EXPECT_EQ(m_ui->confirmations, 1);
    EXPECT_EQ(ReadFile(b), "new");

    // Errors stay silent without progress unless file by file.
    auto missing =
        Make<FileOpAction>({"OpIndex=3", "OpSource=" + m_dir / "gone", "ShowProgress=0"});
    EXPECT_TRUE(Run(*missing, {}));
    EXPECT_TRUE(m_ui->errors.empty());
    missing->Params().ParseLine("OpSingleArg=1");
    EXPECT_TRUE(Run(*missing, {}));
    EXPECT_EQ(m_ui->errors.size(), 1u);
}

TEST_F(FileOpActionTest, AllowUndoSendsDeletedFilesToTheTrash) {
    std::string data = m_dir / "data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    std::string victim = m_dir.Write("victim.txt", "v");
    auto del = Make<FileOpAction>({"OpIndex=3", "OpSource=%File", "AllowUndo=1"});
    EXPECT_TRUE(Run(*del, Files({victim})));
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_EQ(ReadFile(data + "/Trash/files/victim.txt"), "v");
}

class KillActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_list->Add(1, "notes.txt - Editor");
        m_list->Add(2, "Terminal");
        m_list->Add(3, "todo.txt - Editor");
        platform::SetWindowList(m_list);
    }
    void TearDown() override { platform::SetWindowList(nullptr); }

    std::vector<std::uint64_t> Ids(test::FakeWindowList::Request request) {
        std::vector<std::uint64_t> ids;
        for (const auto& call : m_list->Calls()) {
            if (call.request == request) {
                ids.push_back(call.id);
            }
        }
        return ids;
    }

    std::shared_ptr<test::FakeWindowList> m_list = std::make_shared<test::FakeWindowList>();
    PlainRunControl m_control;
};

TEST_F(KillActionTest, ClosesTheTopmostMatchOnlyUnlessAllAreWanted) {
    auto first = Make<KillAction>({"killTitleMask=*editor"});
    EXPECT_TRUE(first->Execute({}, DateTime(40000.0), m_control));
    EXPECT_EQ(Ids(test::FakeWindowList::Request::Close), (std::vector<std::uint64_t>{1}));

    auto all = Make<KillAction>({"killTitleMask=*Editor", "killCloseAll=1", "killForcedKill=1"});
    EXPECT_TRUE(all->Execute({}, DateTime(40000.0), m_control));
    EXPECT_EQ(Ids(test::FakeWindowList::Request::Terminate), (std::vector<std::uint64_t>{3}));
}

TEST_F(KillActionTest, TheWholeTitleMustMatchAndTheMaskIsExpanded) {
    auto partial = Make<KillAction>({"killTitleMask=Editor", "killCloseAll=1"});
    EXPECT_TRUE(partial->Execute({}, DateTime(40000.0), m_control));
    auto empty = Make<KillAction>({"killCloseAll=1"});
    EXPECT_TRUE(empty->Execute({}, DateTime(40000.0), m_control));
    EXPECT_TRUE(m_list->Calls().empty());

    auto byFile = Make<KillAction>({"killTitleMask=%Name - *"});
    EXPECT_TRUE(byFile->Execute(Files({"/home/u/todo.txt"}), DateTime(40000.0), m_control));
    EXPECT_EQ(Ids(test::FakeWindowList::Request::Close), (std::vector<std::uint64_t>{3}));
}

TEST_F(KillActionTest, WithoutADisplayEndsOurOwnChildProcesses) {
    platform::SetWindowList(
        std::shared_ptr<platform::WindowList>(platform::OpenProcessWindowList()));
    // A child shows up under its own command line once it has started the program.
    auto listed = [](const platform::ChildProcess& child, const std::string& title) {
        return WaitFor([&] {
            for (const auto& w : platform::CurrentWindowList()->Windows()) {
                if (w.pid == child.Pid() && w.title == title) {
                    return true;
                }
            }
            return false;
        });
    };
    auto older = platform::Spawn("/bin/sleep", {"sleep", "3600.401"});
    EndOnExit olderGuard{older};
    ASSERT_TRUE(listed(older, "sleep 3600.401"));
    auto newer = platform::Spawn("/bin/sleep", {"sleep", "3600.402"});
    EndOnExit newerGuard{newer};
    ASSERT_TRUE(listed(newer, "sleep 3600.402"));
    auto first = Make<KillAction>({"killTitleMask=sleep 3600.40?"});
    EXPECT_TRUE(first->Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(newer.Wait(std::chrono::seconds(20)));
    EXPECT_EQ(newer.TermSignal(), SIGTERM);
    EXPECT_FALSE(older.Wait(std::chrono::milliseconds(0)));

    auto forced =
        Make<KillAction>({"killTitleMask=SLEEP 3600.4*", "killForcedKill=1", "killCloseAll=1"});
    EXPECT_TRUE(forced->Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(older.Wait(std::chrono::seconds(20)));
    EXPECT_EQ(older.TermSignal(), SIGKILL);
}

class KillActionXTest : public test::XDisplayTest {
protected:
    void SetUp() override {
        XDisplayTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        platform::SetWindowList(
            std::shared_ptr<platform::WindowList>(platform::OpenX11WindowList(s_display->Name())));
    }
    void TearDown() override { platform::SetWindowList(nullptr); }

    test::TempDir m_dir;
    PlainRunControl m_control;
};

TEST_F(KillActionXTest, OnlyTheHigherOfTwoWindowsIsAskedToClose) {
    test::XClient client(*s_display, m_dir / "log", {"report.txt - Pad", "notes.txt - Pad"});
    ASSERT_TRUE(client.WaitReady());
    auto kill = Make<KillAction>({"killTitleMask=* - pad"});
    EXPECT_TRUE(kill->Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(WaitFor([&] { return client.Log().find("closed ") != std::string::npos; }));
    EXPECT_EQ(client.Log(), "ready\nclosed notes.txt - Pad\n");

    kill->Params().ParseLine("killCloseAll=1");
    EXPECT_TRUE(kill->Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(client.Process().Wait(std::chrono::seconds(20)));  // ends with its last window
    EXPECT_EQ(client.Log(), "ready\nclosed notes.txt - Pad\nclosed report.txt - Pad\n");
}

TEST_F(KillActionXTest, CloseAllReachesBothWindowsAndForcedKillEndsTheProcess) {
    test::XClient client(*s_display, m_dir / "log", {"--raise-first", "Sheet 1", "Sheet 2"});
    ASSERT_TRUE(client.WaitReady());
    auto all = Make<KillAction>({"killTitleMask=sheet ?", "killCloseAll=1"});
    EXPECT_TRUE(all->Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(client.Process().Wait(std::chrono::seconds(20)));
    EXPECT_EQ(client.Log(), "ready\nclosed Sheet 1\nclosed Sheet 2\n");

    test::XClient hung(*s_display, m_dir / "log2", {"--hang", "Frozen A", "Frozen B"});
    ASSERT_TRUE(hung.WaitReady());
    auto forced = Make<KillAction>({"killTitleMask=Frozen*", "killForcedKill=1", "killCloseAll=1"});
    EXPECT_TRUE(forced->Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(hung.Process().Wait(std::chrono::seconds(20)));
    EXPECT_EQ(hung.Process().TermSignal(), SIGKILL);
}

}  // namespace
}  // namespace quorvel
