#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include "support/file_op_test_util.h"
#include "support/scoped_env.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/file_operation.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using platform::FileOperation;
using platform::FileOpKind;
using test::ReadFile;
using ::testing::HasSubstr;

using test::RecordingUi;

using test::ScopedEnv;

bool RunTool(const std::vector<std::string>& argv) {
    auto child = platform::Spawn(argv[0], argv, {});
    return child && child.Wait(std::chrono::seconds(60)) && child.ExitCode() == 0;
}

// Entries of a directory whose names start with "." and hold our temporary
// marker: left-overs of an interrupted copy.
std::vector<std::string> Leftovers(const fs::path& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
        if (e.path().filename().string().find(".qvtmp-") != std::string::npos) {
            found.push_back(e.path().string());
        }
    }
    return found;
}

class FileOperationTest : public test::TempDirTest {
protected:
    FileOperation Op(FileOpKind kind, std::vector<std::string> sources,
                     std::vector<std::string> destinations = {}) {
        return test::MakeOperation(kind, std::move(sources), std::move(destinations));
    }
    bool Run(const FileOperation& op) { return platform::RunFileOperation(op, m_ui); }

    RecordingUi m_ui;
};

TEST_F(FileOperationTest, CopiesAFileToANewNameKeepingItsTimeAndTheSource) {
    std::string a = m_dir.Write("a.txt", "alpha");
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(a, old);
    ASSERT_TRUE(Run(Op(FileOpKind::Copy, {a}, {m_dir / "sub/b.txt"})));
    EXPECT_EQ(ReadFile(m_dir / "sub/b.txt"), "alpha");
    EXPECT_EQ(ReadFile(a), "alpha");
    EXPECT_EQ(fs::last_write_time(m_dir / "sub/b.txt"), old);
    EXPECT_TRUE(m_ui.errors.empty());
}

TEST_F(FileOperationTest, SeveralSourcesGoIntoTheDestinationFolder) {
    std::string a = m_dir.Write("a", "1");
    std::string b = m_dir.Write("b", "2");
    ASSERT_TRUE(Run(Op(FileOpKind::Copy, {a, b}, {m_dir / "out"})));
    EXPECT_EQ(ReadFile(m_dir / "out/a"), "1");
    EXPECT_EQ(ReadFile(m_dir / "out/b"), "2");
    // A single source onto an existing folder also lands inside it.
    ASSERT_TRUE(Run(Op(FileOpKind::Copy, {a}, {m_dir / "out"})));
    EXPECT_TRUE(fs::is_directory(m_dir / "out"));
}

TEST_F(FileOperationTest, WildcardsMatchTheLastComponentAndFilesOnlySkipsFolders) {
    m_dir.Write("src/x.txt", "x");
    m_dir.Write("src/y.txt", "y");
    m_dir.Write("src/z.log", "z");
    m_dir.Write("src/folder.txt/inner", "i");
    ASSERT_TRUE(Run(Op(FileOpKind::Copy, {m_dir / "src/*.txt"}, {m_dir / "all"})));
    EXPECT_TRUE(fs::exists(m_dir / "all/x.txt"));
    EXPECT_TRUE(fs::exists(m_dir / "all/y.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "all/z.log"));
    EXPECT_EQ(ReadFile(m_dir / "all/folder.txt/inner"), "i");

    FileOperation filesOnly = Op(FileOpKind::Copy, {m_dir / "src/*.txt"}, {m_dir / "files"});
    filesOnly.filesOnly = true;
    ASSERT_TRUE(Run(filesOnly));
    EXPECT_TRUE(fs::exists(m_dir / "files/x.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "files/folder.txt"));

    // A wildcard that matches nothing is no error.
    EXPECT_TRUE(Run(Op(FileOpKind::Delete, {m_dir / "src/*.none"})));
}

TEST_F(FileOperationTest, ASourceThatExistsAsWrittenIsThatFileEvenWithWildcardCharacters) {
    m_dir.Write("p/photo[12].jpg", "the one");
    m_dir.Write("p/photo1.jpg", "1");
    m_dir.Write("p/photo2.jpg", "2");
    m_dir.Write("p/data[12].txt", "d");
    m_dir.Write("p/data1.txt", "1");
    ASSERT_TRUE(Run(Op(FileOpKind::Move, {m_dir / "p/photo[12].jpg"}, {m_dir / "out.jpg"})));
    EXPECT_EQ(ReadFile(m_dir / "out.jpg"), "the one");
    EXPECT_TRUE(fs::exists(m_dir / "p/photo1.jpg"));
    EXPECT_TRUE(fs::exists(m_dir / "p/photo2.jpg"));
    ASSERT_TRUE(Run(Op(FileOpKind::Delete, {m_dir / "p/data[12].txt"})));
    EXPECT_FALSE(fs::exists(m_dir / "p/data[12].txt"));
    EXPECT_TRUE(fs::exists(m_dir / "p/data1.txt"));
    // Without a file of that name the source is a pattern, unless a macro
    // wrote the wildcard: then it names that one file, which is missing.
    FileOperation fromName = Op(FileOpKind::Delete, {m_dir / "p/photo[12].jpg"});
    fromName.sourceFromMacro = {std::vector<bool>(fromName.sources[0].size(), true)};
    EXPECT_FALSE(Run(fromName));
    EXPECT_TRUE(fs::exists(m_dir / "p/photo1.jpg"));
    ASSERT_TRUE(Run(Op(FileOpKind::Delete, {m_dir / "p/photo[12].jpg"})));
    EXPECT_FALSE(fs::exists(m_dir / "p/photo1.jpg"));
    EXPECT_FALSE(fs::exists(m_dir / "p/photo2.jpg"));
}

TEST_F(FileOperationTest, CopiesFolderTreesWithLinksAsLinks) {
    m_dir.Write("tree/a/b/deep.txt", "deep");
    m_dir.Write("tree/top.txt", "top");
    fs::create_symlink("top.txt", m_dir.Path() / "tree/link");
    ASSERT_TRUE(Run(Op(FileOpKind::Copy, {m_dir / "tree"}, {m_dir / "copy"})));
    EXPECT_EQ(ReadFile(m_dir / "copy/a/b/deep.txt"), "deep");
    EXPECT_TRUE(fs::is_symlink(m_dir.Path() / "copy/link"));
    EXPECT_EQ(fs::read_symlink(m_dir.Path() / "copy/link"), "top.txt");
}

// Root copying from an upload folder: another user's link is copied as the
// link it is, never as a copy of a file that user could not read; a link of
// our own is followed as cp follows it.
TEST_F(FileOperationTest, ACopyFollowsOnlyLinksOfThisUserOrRoot) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user needs root";
    }
    const std::string secret = m_dir.Write("secret", "root only");
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(m_dir.Path() / "upload");
    fs::create_symlink(secret, m_dir.Path() / "upload/theirs");
    ASSERT_EQ(::lchown((m_dir / "upload/theirs").c_str(), 65534, 65534), 0);
    fs::create_symlink(secret, m_dir.Path() / "upload/ours");
    ASSERT_TRUE(Run(Op(FileOpKind::Copy, {m_dir / "upload/theirs", m_dir / "upload/ours"},
                       {m_dir / "public"})));
    EXPECT_TRUE(fs::is_symlink(m_dir.Path() / "public/theirs"));
    EXPECT_FALSE(fs::is_symlink(m_dir.Path() / "public/ours"));
    EXPECT_EQ(ReadFile(m_dir / "public/ours"), "root only");
}

TEST_F(FileOperationTest, CopyingAFolderIntoItselfIsRefused) {
    m_dir.Write("tree/f", "f");
    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {m_dir / "tree"}, {m_dir / "tree/inner/"})));
    EXPECT_FALSE(m_ui.errors.empty());
    EXPECT_FALSE(fs::exists(m_dir / "tree/inner/tree/inner"));
}

TEST_F(FileOperationTest, ExistingDestinationIsKeptWhenTheConfirmationIsDeclined) {
    std::string a = m_dir.Write("a", "new");
    std::string b = m_dir.Write("b", "old");
    FileOperation ask = Op(FileOpKind::Copy, {a}, {b});
    ask.confirmOverwrite = true;
    m_ui.answer = false;
    EXPECT_TRUE(Run(ask));
    EXPECT_EQ(ReadFile(b), "old");
    ASSERT_EQ(m_ui.confirmations.size(), 1u);

    m_ui.answer = true;
    EXPECT_TRUE(Run(ask));
    EXPECT_EQ(ReadFile(b), "new");

    FileOperation noAsk = Op(FileOpKind::Move, {m_dir.Write("c", "moved")}, {b});
    EXPECT_TRUE(Run(noAsk));
    EXPECT_EQ(ReadFile(b), "moved");
    EXPECT_EQ(m_ui.confirmations.size(), 2u);
}

TEST_F(FileOperationTest, MovesRenameAndMergeFolders) {
    std::string a = m_dir.Write("a", "A");
    ASSERT_TRUE(Run(Op(FileOpKind::Move, {a}, {m_dir / "dest/"})));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(ReadFile(m_dir / "dest/a"), "A");

    m_dir.Write("one/x", "1");
    m_dir.Write("one/sub/y", "2");
    m_dir.Write("two/one/z", "3");
    ASSERT_TRUE(Run(Op(FileOpKind::Move, {m_dir / "one"}, {m_dir / "two"})));
    EXPECT_FALSE(fs::exists(m_dir / "one"));
    EXPECT_EQ(ReadFile(m_dir / "two/one/x"), "1");
    EXPECT_EQ(ReadFile(m_dir / "two/one/sub/y"), "2");
    EXPECT_EQ(ReadFile(m_dir / "two/one/z"), "3");
}

TEST_F(FileOperationTest, MoveOntoItselfLeavesEverythingInPlace) {
    std::string a = m_dir.Write("d/a", "keep");
    EXPECT_TRUE(Run(Op(FileOpKind::Move, {a}, {a})));
    EXPECT_TRUE(Run(Op(FileOpKind::Move, {a}, {m_dir / "d"})));
    EXPECT_TRUE(Run(Op(FileOpKind::Move, {m_dir / "d"}, {m_dir / "d"})));
    EXPECT_EQ(ReadFile(a), "keep");
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {m_dir / "d"}, {m_dir / "d/inside"})));
    EXPECT_EQ(ReadFile(a), "keep");
}

TEST_F(FileOperationTest, RenamePairsSourcesWithNamesInTheSourceFolder) {
    std::string a = m_dir.Write("d/a.txt", "A");
    std::string b = m_dir.Write("d/b.txt", "B");
    ASSERT_TRUE(Run(Op(FileOpKind::Rename, {a, b}, {"a.bak", "b.bak"})));
    EXPECT_EQ(ReadFile(m_dir / "d/a.bak"), "A");
    EXPECT_EQ(ReadFile(m_dir / "d/b.bak"), "B");
    EXPECT_FALSE(fs::exists(a));

    // Renaming onto an existing name asks first.
    std::string c = m_dir.Write("d/c.txt", "C");
    FileOperation ask = Op(FileOpKind::Rename, {c}, {"a.bak"});
    ask.confirmOverwrite = true;
    EXPECT_TRUE(Run(ask));
    EXPECT_EQ(ReadFile(m_dir / "d/a.bak"), "A");
    EXPECT_EQ(ReadFile(c), "C");

    EXPECT_FALSE(Run(Op(FileOpKind::Rename, {c}, {})));
}

TEST_F(FileOperationTest, DeletesFilesFoldersAndWildcardsAndReportsMissingOnes) {
    std::string f = m_dir.Write("f", "x");
    m_dir.Write("tree/a/b", "x");
    m_dir.Write("w/1.tmp", "x");
    m_dir.Write("w/2.tmp", "x");
    m_dir.Write("w/keep", "x");
    ASSERT_TRUE(Run(Op(FileOpKind::Delete, {f, m_dir / "tree", m_dir / "w/*.tmp"})));
    EXPECT_FALSE(fs::exists(f));
    EXPECT_FALSE(fs::exists(m_dir / "tree"));
    EXPECT_FALSE(fs::exists(m_dir / "w/1.tmp"));
    EXPECT_TRUE(fs::exists(m_dir / "w/keep"));

    EXPECT_FALSE(Run(Op(FileOpKind::Delete, {m_dir / "missing"})));
    ASSERT_EQ(m_ui.errors.size(), 1u);
    EXPECT_THAT(m_ui.errors[0], HasSubstr("missing"));
}

TEST_F(FileOperationTest, NeverDeletesTheRootOrTheHomeFolder) {
    std::string home = m_dir / "home/user";
    m_dir.Write("home/user/precious", "x");
    ScopedEnv env("HOME", home);
    EXPECT_FALSE(Run(Op(FileOpKind::Delete, {home})));
    EXPECT_FALSE(Run(Op(FileOpKind::Delete, {m_dir / "home/user/../user/"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Delete, {m_dir / "home"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Delete, {"/"})));
    EXPECT_TRUE(fs::exists(home + "/precious"));
    EXPECT_EQ(m_ui.errors.size(), 4u);
    // What lies inside the home folder can be deleted.
    EXPECT_TRUE(Run(Op(FileOpKind::Delete, {home + "/precious"})));
}

TEST_F(FileOperationTest, UndoableDeleteMovesToTheHomeTrashWithInfoFiles) {
    ScopedEnv env("XDG_DATA_HOME", m_dir / "data");
    std::string a = m_dir.Write("docs/my file%.txt", "one");
    FileOperation del = Op(FileOpKind::Delete, {a});
    del.allowUndo = true;
    ASSERT_TRUE(Run(del));
    EXPECT_FALSE(fs::exists(a));
    fs::path trash = m_dir.Path() / "data/Trash";
    EXPECT_EQ(ReadFile((trash / "files/my file%.txt").string()), "one");
    std::string info = ReadFile((trash / "info/my file%.txt.trashinfo").string());
    std::string encoded = (m_dir.Path() / "docs").string() + "/my%20file%25.txt";
    EXPECT_TRUE(std::regex_match(
        info, std::regex("\\[Trash Info\\]\nPath=" +
                         std::regex_replace(encoded, std::regex("[.%]"), "\\$&") +
                         "\nDeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
        << info;

    // A second file of the same name gets a name of its own; folders go too.
    m_dir.Write("docs/my file%.txt", "two");
    m_dir.Write("docs/folder/inner", "in");
    del.sources = {a, m_dir / "docs/folder"};
    ASSERT_TRUE(Run(del));
    EXPECT_EQ(ReadFile((trash / "files/my file%.2.txt").string()), "two");
    EXPECT_TRUE(fs::exists(trash / "info/my file%.2.txt.trashinfo"));
    EXPECT_EQ(ReadFile((trash / "files/folder/inner").string()), "in");
    EXPECT_TRUE(fs::exists(trash / "info/folder.trashinfo"));
}

TEST_F(FileOperationTest, ConsoleUiKeepsExistingFilesAndPrintsEveryErrorReported) {
    platform::ConsoleFileOpUi console;
    std::string a = m_dir.Write("a", "new");
    std::string b = m_dir.Write("b", "old");
    FileOperation op = Op(FileOpKind::Copy, {a}, {b});
    op.confirmOverwrite = true;
    EXPECT_TRUE(platform::RunFileOperation(op, console));
    EXPECT_EQ(ReadFile(b), "old");

    FileOperation missing = Op(FileOpKind::Delete, {m_dir / "nothing-here"});
    missing.showProgress = true;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::RunFileOperation(missing, console));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("nothing-here"));

    // Without progress the errors still reach standard error...
    missing.showProgress = false;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::RunFileOperation(missing, console));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("nothing-here"));
    // ...unless the operation reports none.
    missing.reportErrors = false;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::RunFileOperation(missing, console));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Cases that need a file system of their own: a tmpfs mounted for the test
// (skipped where mounting is not allowed).
class OtherFileSystemTest : public FileOperationTest {
protected:
    void SetUp() override {
        m_mount = m_dir / "vol";
        fs::create_directories(m_mount);
        if (!RunTool({"/bin/mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", m_mount})) {
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
        }
        m_mounted = true;
    }
    void TearDown() override {
        if (m_mounted) {
            RunTool({"/bin/umount", "-l", m_mount});
        }
    }

    std::string m_mount;
    bool m_mounted = false;
};

TEST_F(OtherFileSystemTest, MovesFilesAndTreesAcrossFileSystems) {
    std::string a = m_dir.Write("a", "across");
    ASSERT_TRUE(Run(Op(FileOpKind::Move, {a}, {m_mount + "/a"})));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(ReadFile(m_mount + "/a"), "across");

    m_dir.Write("tree/x/y", "deep");
    ASSERT_TRUE(Run(Op(FileOpKind::Move, {m_dir / "tree"}, {m_mount})));
    EXPECT_FALSE(fs::exists(m_dir / "tree"));
    EXPECT_EQ(ReadFile(m_mount + "/tree/x/y"), "deep");

    // And back again with a rename.
    ASSERT_TRUE(Run(Op(FileOpKind::Rename, {m_mount + "/a"}, {m_dir / "back"})));
    EXPECT_EQ(ReadFile(m_dir / "back"), "across");
}

TEST_F(OtherFileSystemTest, AFullDestinationNeverCostsTheSourceOrTheOldDestination) {
    const std::string big(400 * 1024, 'b');
    std::string source = m_dir.Write("big", big);
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {source}, {m_mount + "/big"})));
    EXPECT_EQ(ReadFile(source), big);
    EXPECT_FALSE(fs::exists(m_mount + "/big"));

    std::string old = m_mount + "/old";
    { std::ofstream(old) << "previous"; }
    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {source}, {old})));
    EXPECT_EQ(ReadFile(old), "previous");

    // A tree whose second file does not fit stays whole at its place.
    m_dir.Write("tree/1-small", "small");
    m_dir.Write("tree/2-big", big);
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {m_dir / "tree"}, {m_mount + "/"})));
    EXPECT_EQ(ReadFile(m_dir / "tree/1-small"), "small");
    EXPECT_EQ(ReadFile(m_dir / "tree/2-big"), big);
    EXPECT_TRUE(Leftovers(m_mount).empty());
    EXPECT_FALSE(m_ui.errors.empty());
}

TEST_F(OtherFileSystemTest, AReadOnlyDestinationFailsWithoutTouchingTheSource) {
    std::string source = m_dir.Write("f", "data");
    ASSERT_TRUE(RunTool({"/bin/mount", "-o", "remount,ro", m_mount}));
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {source}, {m_mount + "/f"})));
    EXPECT_EQ(ReadFile(source), "data");
    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {m_dir / "*"}, {m_mount})));
    EXPECT_EQ(ReadFile(source), "data");
}

TEST_F(OtherFileSystemTest, UndoableDeleteUsesTheVolumeTrashAwayFromHome) {
    ScopedEnv env("XDG_DATA_HOME", m_dir / "data");
    std::string victim = m_mount + "/report.txt";
    { std::ofstream(victim) << "r"; }
    FileOperation del = Op(FileOpKind::Delete, {victim});
    del.allowUndo = true;
    ASSERT_TRUE(Run(del));
    EXPECT_FALSE(fs::exists(victim));
    fs::path trash = fs::path(m_mount) / (".Trash-" + std::to_string(::getuid()));
    EXPECT_EQ(ReadFile((trash / "files/report.txt").string()), "r");
    std::string info = ReadFile((trash / "info/report.txt.trashinfo").string());
    EXPECT_THAT(info, HasSubstr("Path=" + victim + "\n"));
    EXPECT_FALSE(fs::exists(m_dir / "data/Trash/files/report.txt"));
}

}  // namespace
}  // namespace quorvel
