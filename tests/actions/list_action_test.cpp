#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include <filesystem>
#include <string>

#include "actions/list_action.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

class ListActionTest : public test::TempDirTest {
protected:
    void Set(const std::string& line) { ASSERT_TRUE(m_action.Params().ParseLine(line)) << line; }

    bool Run(const FileList& files) {
        return m_action.Execute(files, DateTime(37422.0), m_control);
    }

    FileData File(const std::string& name) {
        return FileData(m_dir / name, DateTime(37422.6), 1234, FileKind::Changed);
    }

    std::string Read(const std::string& name) { return test::ReadFile(m_dir / name); }

    ListAction m_action;
    PlainRunControl m_control;
    const std::string m_nl = platform::kLineEnding;
};

TEST_F(ListActionTest, OneLinePerFile) {
    Set("ListName=" + (m_dir / "list.txt"));
    FileList files{File("a"), File("b"), File("c")};
    EXPECT_TRUE(Run(files));
    EXPECT_EQ(Read("list.txt"), (m_dir / "a") + m_nl + (m_dir / "b") + m_nl + (m_dir / "c") + m_nl);
    EXPECT_EQ(m_action.ExpandedListName(), m_dir / "list.txt");
}

TEST_F(ListActionTest, OverwritesOrAppends) {
    Set("ListName=" + (m_dir / "list.txt"));
    Set("ListParams=%Name");
    m_dir.Write("list.txt", "old content\n");
    Run({File("a")});
    EXPECT_EQ(Read("list.txt"), "a" + m_nl);

    Set("ListAppend=1");
    Run({File("b")});
    Run({File("c"), File("d")});
    EXPECT_EQ(Read("list.txt"), "a" + m_nl + "b" + m_nl + "c" + m_nl + "d" + m_nl);
}

TEST_F(ListActionTest, AppendCreatesAMissingFile) {
    Set("ListName=" + (m_dir / "new.txt"));
    Set("ListParams=%Name");
    Set("ListAppend=1");
    Run({File("x")});
    EXPECT_EQ(Read("new.txt"), "x" + m_nl);
}

TEST_F(ListActionTest, CycleExpandsOnceWithoutLineBreak) {
    Set("ListName=" + (m_dir / "list.txt"));
    Set("UseCycle=1");
    Set("ListParams=%(%Name;%)");
    Run({File("a"), File("b"), File("c")});
    EXPECT_EQ(Read("list.txt"), "a;b;c;");

    // Without a repeating section only the first file appears, once.
    Set("ListParams=%Name");
    Run({File("a"), File("b"), File("c")});
    EXPECT_EQ(Read("list.txt"), "a");
}

TEST_F(ListActionTest, EmptyListWritesOnePlaceholderEntry) {
    Set("ListName=" + (m_dir / "list.txt"));
    Set("ListParams=%Name");
    Run({});
    EXPECT_EQ(Read("list.txt"), "[N].[E]" + m_nl);
}

TEST_F(ListActionTest, NameMayHoldMacrosOfTheFirstFile) {
    Set("ListName=" + m_dir.Path().string() + "/%Name.lst");
    Run({File("first"), File("second")});
    EXPECT_TRUE(std::filesystem::exists(m_dir / "first.lst"));
    EXPECT_EQ(m_action.ExpandedListName(), m_dir / "first.lst");
}

TEST_F(ListActionTest, UnwritableNameIsSkippedSilently) {
    Set("ListName=" + (m_dir / "missing/dir/list.txt"));
    EXPECT_TRUE(Run({File("a")}));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "missing"));
    Set("ListName=" + m_dir.Path().string());  // a directory
    EXPECT_TRUE(Run({File("a")}));
    m_action.DeleteListFile();
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.Path())) << "a directory is never deleted";
}

// A name never adds a line of its own to the list; the template's own line
// breaks stay.
TEST_F(ListActionTest, LineBreaksInANameAreWrittenAsQuestionMarks) {
    Set("ListName=" + (m_dir / "list.txt"));
    Set("ListParams=%Name%Chr=\"10\"-");
    EXPECT_TRUE(Run({File("a\nevil::0:0:::"), File("b\r\nc")}));
    EXPECT_EQ(Read("list.txt"), "a?evil::0:0:::\n-" + m_nl + "b??c\n-" + m_nl);
}

TEST_F(ListActionTest, AFifoAsListFileIsSkippedWithoutBlocking) {
    const std::string fifo = m_dir / "list.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Set("ListName=" + fifo);
    Set("ListDelete=1");
    auto run = std::async(std::launch::async, [&] { return Run({File("a")}); });
    if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Free the writer stuck in open, so the test fails instead of hanging.
        int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ADD_FAILURE() << "the list action blocked on a FIFO";
        run.wait();
        ::close(reader);
        return;
    }
    EXPECT_TRUE(run.get());
    m_action.DeleteListFile();
    EXPECT_TRUE(std::filesystem::is_fifo(fifo)) << "what the action did not write stays";
}

TEST_F(ListActionTest, DeleteListFileRemovesTheLastRunsFile) {
    Set("ListName=" + m_dir.Path().string() + "/%Name.lst");
    Run({File("one")});
    Run({File("two")});
    m_action.DeleteListFile();
    EXPECT_TRUE(std::filesystem::exists(m_dir / "one.lst"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "two.lst"));
    m_action.DeleteListFile();  // already gone: nothing happens
}

TEST_F(ListActionTest, ManyFilesAreAllWritten) {
    Set("ListName=" + (m_dir / "big.txt"));
    Set("ListParams=%Name");
    FileList files;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        files.push_back(File("f" + std::to_string(i)));
        expected += "f" + std::to_string(i) + m_nl;
    }
    Run(files);
    EXPECT_EQ(Read("big.txt"), expected);
}

}  // namespace
}  // namespace quorvel
