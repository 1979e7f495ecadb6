// File operations refused by file permissions. Root is refused nothing, so
// when the tests are started as root each case runs the test program again
// as the user nobody, with only this case selected.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include "support/file_op_test_util.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "actions/file_op_action.h"
#include "actions/run_control.h"
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

// The unprivileged run finds a file system of its own under this directory.
constexpr const char* kVolumeVariable = "QUORVEL_TEST_OTHER_VOLUME";

bool RunTool(const std::vector<std::string>& argv, bool* exitedZero = nullptr) {
    auto child = platform::Spawn(argv[0], argv, {});
    bool ok = child && child.Wait(std::chrono::minutes(5)) && child.ExitCode() == 0;
    if (exitedZero != nullptr) {
        *exitedZero = ok;
    }
    return ok;
}

// A directory on another file system than the temporary directory, open to
// everybody: a tmpfs mounted while we are still root.
class SharedVolume {
public:
    SharedVolume() {
        m_path = m_dir / "vol";
        fs::create_directories(m_path);
        m_mounted = RunTool(
            {"/bin/mount", "-t", "tmpfs", "-o", "size=1m,mode=1777", "tmpfs", m_path.string()});
    }
    ~SharedVolume() {
        if (m_mounted) {
            RunTool({"/bin/umount", "-l", m_path.string()});
        }
    }
    bool Mounted() const { return m_mounted; }
    const fs::path& Path() const { return m_path; }

private:
    test::TempDir m_dir;
    fs::path m_path;
    bool m_mounted = false;
};

// True when the caller is unprivileged and should run the case itself; as
// root, runs the case as nobody, checks that it passed and answers false.
bool RunUnprivileged(bool wantsOtherVolume = false) {
    if (::geteuid() != 0) {
        return true;
    }
    if (!platform::FindExecutable("setpriv")) {
        ADD_FAILURE() << "setpriv is needed to run permission tests as an unprivileged user";
        return false;
    }
    std::unique_ptr<SharedVolume> volume;
    if (wantsOtherVolume) {
        volume = std::make_unique<SharedVolume>();
        if (volume->Mounted()) {
            ::setenv(kVolumeVariable, volume->Path().c_str(), 1);
        }
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    bool passed = false;
    RunTool({*platform::FindExecutable("setpriv"), "--reuid=nobody", "--regid=nogroup",
             "--clear-groups", platform::ExecutablePath(), filter, "--gtest_brief=1"},
            &passed);
    ::unsetenv(kVolumeVariable);
    EXPECT_TRUE(passed) << "the case failed as user nobody (see its output above)";
    return false;
}

// A fresh directory on another file system, for moves that must copy: the
// volume root prepared for us, else /dev/shm where it is a file system of
// its own; nothing where neither exists.
class OtherVolumeDir {
public:
    OtherVolumeDir(const fs::path& near) {
        std::vector<fs::path> bases;
        if (const char* given = std::getenv(kVolumeVariable)) {
            bases.emplace_back(given);
        }
        bases.emplace_back("/dev/shm");
        struct stat here {};
        if (::stat(near.c_str(), &here) != 0) {
            return;
        }
        std::random_device rd;
        for (const fs::path& base : bases) {
            struct stat st {};
            if (::stat(base.c_str(), &st) != 0 || st.st_dev == here.st_dev) {
                continue;
            }
            fs::path candidate = base / ("quorvel-perm-" + std::to_string(rd()));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) {
                m_path = candidate;
                return;
            }
        }
    }
    ~OtherVolumeDir() {
        if (m_path.empty()) {
            return;
        }
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(
                 m_path, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(m_path, ec);
    }
    bool Available() const { return !m_path.empty(); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

// Every confirmation is answered yes: only the permissions may refuse.
struct AgreeingUi : test::RecordingUi {
    AgreeingUi() { answer = true; }
};

// Every entry below dir with its content ("name" for folders, "name=text"
// for files), so a test can tell that nothing changed.
std::vector<std::string> Tree(const fs::path& dir) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string name = fs::relative(it->path(), dir).string();
        if (it->is_directory()) {
            entries.push_back(name + "/");
        } else {
            entries.push_back(name + "=" + ReadFile(it->path().string()));
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void SetMode(const std::string& path, mode_t mode) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

class UnprivilegedFileOpTest : public ::testing::Test {
protected:
    FileOperation Op(FileOpKind kind, std::vector<std::string> sources,
                     std::vector<std::string> destinations = {}) {
        return test::MakeOperation(kind, std::move(sources), std::move(destinations));
    }
    bool Run(const FileOperation& op) { return platform::RunFileOperation(op, m_ui); }

    AgreeingUi m_ui;
};

TEST_F(UnprivilegedFileOpTest, CopyIntoAFolderWithoutWritePermissionKeepsSourceAndOldCopy) {
    if (!RunUnprivileged()) {
        return;
    }
    test::TempDir dir;
    const std::string source = dir.Write("in/report.txt", "new text");
    dir.Write("in/other.txt", "other");
    dir.Write("locked/report.txt", "old text");
    SetMode(dir / "locked", 0555);

    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {source}, {dir / "locked"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {source}, {dir / "locked/fresh.txt"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {dir / "in/*.txt"}, {dir / "locked"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {dir / "in"}, {dir / "locked"})));
    EXPECT_EQ(m_ui.errors.size(), 5u);  // the wildcard names two files
    EXPECT_THAT(m_ui.errors.front(), HasSubstr(dir / "locked/report.txt"));

    EXPECT_EQ(Tree(dir.Path()),
              (std::vector<std::string>{"in/", "in/other.txt=other", "in/report.txt=new text",
                                        "locked/", "locked/report.txt=old text"}));
    SetMode(dir / "locked", 0755);
}

TEST_F(UnprivilegedFileOpTest, AMoveThatCannotWriteItsDestinationNeverRemovesTheSource) {
    if (!RunUnprivileged(true)) {
        return;
    }
    test::TempDir dir;
    dir.Write("in/a.txt", "alpha");
    dir.Write("in/tree/deep/b.txt", "beta");
    dir.Write("locked/a.txt", "old alpha");
    SetMode(dir / "locked", 0555);
    const auto before = Tree(dir.Path());

    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "in/a.txt"}, {dir / "locked"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "in/tree"}, {dir / "locked"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "in/*"}, {dir / "locked/sub"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Rename, {dir / "in/a.txt"}, {dir / "locked/b.txt"})));
    EXPECT_EQ(Tree(dir.Path()), before);

    // A source whose folder is read-only cannot be taken away: it stays.
    dir.Write("fixed/c.txt", "gamma");
    SetMode(dir / "fixed", 0555);
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "fixed/c.txt"}, {dir / "in"})));
    EXPECT_EQ(ReadFile(dir / "fixed/c.txt"), "gamma");

    OtherVolumeDir other(dir.Path());
    if (!other.Available()) {
        std::printf("no second file system here: moves across file systems were not tried\n");
        SetMode(dir / "locked", 0755);
        SetMode(dir / "fixed", 0755);
        return;
    }
    fs::create_directory(other / "locked");
    {
        std::error_code ec;
        fs::copy_file(dir / "locked/a.txt", other / "locked/a.txt", ec);
        ASSERT_FALSE(ec);
    }
    SetMode(other / "locked", 0555);
    const auto beforeOther = Tree(dir.Path());
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "in/a.txt"}, {other / "locked"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "in/tree"}, {other / "locked"})));
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "in/*"}, {other / "locked/sub"})));
    EXPECT_EQ(Tree(dir.Path()), beforeOther);
    EXPECT_EQ(ReadFile(other / "locked/a.txt"), "old alpha");

    // Copied across but the source cannot be removed: it stays whole, and
    // the operation says it failed.
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "fixed/c.txt"}, {other / "c.txt"})));
    EXPECT_EQ(ReadFile(dir / "fixed/c.txt"), "gamma");
    EXPECT_EQ(ReadFile(other / "c.txt"), "gamma");
    SetMode(other / "locked", 0755);
    SetMode(dir / "locked", 0755);
    SetMode(dir / "fixed", 0755);
}

TEST_F(UnprivilegedFileOpTest, DeletesInAReadOnlyFolderFailAndComplainWhenErrorsAreReported) {
    if (!RunUnprivileged()) {
        return;
    }
    test::TempDir dir;
    dir.Write("ro/a.log", "a");
    dir.Write("ro/b.log", "b");
    dir.Write("tree/open/x", "x");
    dir.Write("tree/ro/y", "y");
    SetMode(dir / "ro", 0555);
    SetMode(dir / "tree/ro", 0555);
    const auto before = Tree(dir / "ro");

    platform::SetFileOpUi(nullptr);  // the console's answers
    PlainRunControl control;
    auto action = [&](bool progress, bool singleArg) {
        auto del = std::make_unique<FileOpAction>();
        del->Params().ParseLine("OpIndex=3");
        del->Params().ParseLine("OpSource=" + dir / "ro/a.log;" + dir / "ro/*.log");
        del->Params().ParseLine(std::string("ShowProgress=") + (progress ? "1" : "0"));
        del->Params().ParseLine(std::string("OpSingleArg=") + (singleArg ? "1" : "0"));
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(del->Execute({}, DateTime(40000.0), control));  // never stops the chain
        return ::testing::internal::GetCapturedStderr();
    };
    std::string shown = action(true, false);
    EXPECT_THAT(shown, HasSubstr("Cannot delete \"" + dir / "ro/a.log\""));
    EXPECT_THAT(shown, HasSubstr(dir / "ro/b.log"));
    EXPECT_EQ(action(false, false), "");
    // File by file, errors are reported even without progress.
    EXPECT_THAT(action(false, true), HasSubstr("Cannot delete \"" + dir / "ro/a.log\""));
    EXPECT_EQ(Tree(dir / "ro"), before);

    // Sending to the trash cannot take the file away either; no stray
    // trash entry is left behind.
    FileOperation toTrash = Op(FileOpKind::Delete, {dir / "ro/a.log"});
    toTrash.allowUndo = true;
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    EXPECT_FALSE(Run(toTrash));
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Tree(dir / "ro"), before);
    EXPECT_EQ(Tree(dir / "data/Trash"), (std::vector<std::string>{"files/", "info/"}));

    // A tree is deleted as far as permissions allow; what stays is reported.
    EXPECT_FALSE(Run(Op(FileOpKind::Delete, {dir / "tree"})));
    EXPECT_EQ(ReadFile(dir / "tree/ro/y"), "y");
    EXPECT_THAT(m_ui.errors.back(), HasSubstr(dir / "tree"));
    SetMode(dir / "ro", 0755);
    SetMode(dir / "tree/ro", 0755);
}

TEST_F(UnprivilegedFileOpTest, AnUnreadableFolderIsSkippedByACopyAndKeepsAMoveFromRemoving) {
    if (!RunUnprivileged(true)) {
        return;
    }
    test::TempDir dir;
    dir.Write("tree/1.txt", "one");
    dir.Write("tree/open/2.txt", "two");
    dir.Write("tree/closed/3.txt", "three");
    dir.Write("tree/z.txt", "zed");
    SetMode(dir / "tree/closed", 0);

    EXPECT_FALSE(Run(Op(FileOpKind::Copy, {dir / "tree"}, {dir / "copy"})));
    EXPECT_THAT(m_ui.errors.back(), HasSubstr(dir / "tree/closed"));
    EXPECT_EQ(Tree(dir / "copy"), (std::vector<std::string>{"1.txt=one", "closed/", "open/",
                                                            "open/2.txt=two", "z.txt=zed"}));

    // Into a folder that already holds the tree, the entries are moved one
    // by one; the unreadable folder stays where it is, with its content.
    dir.Write("merge/tree/old.txt", "old");
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "tree"}, {dir / "merge"})));
    SetMode(dir / "tree/closed", 0755);
    EXPECT_EQ(ReadFile(dir / "tree/closed/3.txt"), "three");
    EXPECT_EQ(ReadFile(dir / "merge/tree/1.txt"), "one");
    EXPECT_EQ(ReadFile(dir / "merge/tree/open/2.txt"), "two");
    EXPECT_EQ(ReadFile(dir / "merge/tree/old.txt"), "old");

    OtherVolumeDir other(dir.Path());
    if (!other.Available()) {
        std::printf("no second file system here: moves across file systems were not tried\n");
        return;
    }
    dir.Write("far/1.txt", "one");
    dir.Write("far/closed/3.txt", "three");
    dir.Write("far/z.txt", "zed");
    const auto farBefore = Tree(dir / "far");
    SetMode(dir / "far/closed", 0);
    EXPECT_FALSE(Run(Op(FileOpKind::Move, {dir / "far"}, {other / "dest/"})));
    SetMode(dir / "far/closed", 0755);
    EXPECT_EQ(Tree(dir / "far"), farBefore);
}

}  // namespace
}  // namespace quorvel
