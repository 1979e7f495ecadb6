#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>

#include <filesystem>
#include <map>

#include "support/temp_dir.h"

namespace quorvel::platform {
namespace {

class FileSystemTest : public test::TempDirTest {};

int CountFiles(const std::filesystem::path& dir) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        n += e.is_regular_file() ? 1 : 0;
    }
    return n;
}

TEST_F(FileSystemTest, AtomicFileReplacesOnlyOnCommit) {
    const std::string path = m_dir.Write("config.mon", "old");
    {
        AtomicFile file;
        ASSERT_TRUE(file.Open(path, 0600));
        ASSERT_TRUE(file.Write("new content"));
        EXPECT_EQ(test::ReadFile(path), "old");
        // Dropped without Commit: the old file stays and no temporary remains.
    }
    EXPECT_EQ(test::ReadFile(path), "old");
    EXPECT_EQ(CountFiles(m_dir.Path()), 1);

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "new content", 0600));
    EXPECT_EQ(test::ReadFile(path), "new content");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "an existing file keeps its mode";
    EXPECT_EQ(CountFiles(m_dir.Path()), 1);
    const std::string fresh = m_dir / "fresh.mon";
    ASSERT_TRUE(WriteFileAtomically(fresh, "x", 0600));
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file gets the mode asked for";

    EXPECT_FALSE(WriteFileAtomically(m_dir / "missing/dir/file", "x"));
}

TEST_F(FileSystemTest, NewFilesFollowTheUmask) {
    const mode_t old = ::umask(077);
    const bool written = WriteFileAtomically(m_dir / "private.mon", "x");
    ::umask(old);
    ASSERT_TRUE(written);
    struct stat st {};
    ASSERT_EQ(::stat((m_dir / "private.mon").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Where another user may create files, a link of theirs never aims one of
// our writes at a file of their choosing; our own links are written through.
TEST_F(FileSystemTest, WritesFollowOnlyLinksOfThisUserOrRoot) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user needs root";
    }
    constexpr uid_t kNobody = 65534;
    const std::string victim = m_dir.Write("victim", "secret");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((m_dir / "sub").c_str(), 0755), 0);
    auto link = [&](const std::string& name, const std::string& target, uid_t owner) {
        ASSERT_EQ(::symlink(target.c_str(), (m_dir / name).c_str()), 0);
        ASSERT_EQ(::lchown((m_dir / name).c_str(), owner, owner), 0);
    };
    link("planted", victim, kNobody);
    link("dirlink", m_dir / "sub", kNobody);
    link("mine", victim, 0);

    std::string error;
    EXPECT_FALSE(WriteFileAtomically(m_dir / "planted", "pwned", 0600, &error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(OutputFile::Open(m_dir / "planted", true, &error), nullptr);
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    EXPECT_EQ(OutputFile::Open(m_dir / "dirlink/list.txt", false), nullptr);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "sub/list.txt"));
    EXPECT_EQ(test::ReadFile(victim), "secret");

    ASSERT_TRUE(WriteFileAtomically(m_dir / "mine", "ours"));
    EXPECT_EQ(test::ReadFile(victim), "ours");
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "mine"));
}

TEST_F(FileSystemTest, AWriteErrorIsReportedAndTheOldFileKept) {
    // A tiny file size limit makes the write fail part-way, like a full disk.
    const std::string path = m_dir.Write("keep.txt", "precious");
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool ok = WriteFileAtomically(path, std::string(1000, 'x'));
        _exit(ok ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as success";
    EXPECT_EQ(test::ReadFile(path), "precious");
    EXPECT_EQ(CountFiles(m_dir.Path()), 1);
}

TEST_F(FileSystemTest, InUseMeansAnotherProcessWritesOrLocks) {
    const std::string path = m_dir.Write("data.bin", "x");
    EXPECT_FALSE(IsFileInUse(path));
    // Our own writers do not count.
    int own = open(path.c_str(), O_WRONLY);
    EXPECT_FALSE(IsFileInUse(path));
    close(own);

    int ready[2];
    int done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_WRONLY);
        char c = fd >= 0 ? 'w' : 'e';
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'w');
    EXPECT_TRUE(IsFileInUse(path));
    auto info = Stat(path);
    ASSERT_TRUE(info);
    EXPECT_TRUE(OpenWriters::Capture().Contains(info->device, info->inode));
    (void)!write(done[1], "x", 1);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(IsFileInUse(path));
    for (int fd : {ready[0], ready[1], done[0], done[1]}) {
        close(fd);
    }
}

TEST_F(FileSystemTest, ListingAndLookups) {
    m_dir.Write("a.txt", "1");
    m_dir.Write("sub/b.txt", "22");
    std::filesystem::create_symlink(m_dir / "sub", m_dir / "link");
    std::filesystem::create_symlink(m_dir / "gone", m_dir / "dangling");
    std::map<std::string, bool> seen;
    ASSERT_TRUE(ListDirectory(m_dir.Path().string(), [&](const DirectoryEntry& e) {
        seen[e.name] = e.isDirectory;
        return true;
    }));
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen["sub"]);
    EXPECT_FALSE(seen["link"]);  // a symlink is never taken for a directory to enter
    EXPECT_FALSE(ListDirectory(m_dir / "none", [](const DirectoryEntry&) { return true; }));

    auto file = Stat(m_dir / "sub/b.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size, 2);
    EXPECT_FALSE(file->isDirectory);
    auto dangling = Stat(m_dir / "dangling");
    ASSERT_TRUE(dangling);
    EXPECT_TRUE(dangling->isSymlink);
    EXPECT_FALSE(Stat(m_dir / "none"));

    EXPECT_TRUE(CreateDirectories(m_dir / "x/y/z", 0700));
    EXPECT_TRUE(std::filesystem::is_directory(m_dir / "x/y/z"));
    EXPECT_FALSE(CreateDirectories(m_dir / "a.txt/below"));
    EXPECT_EQ(ReadWholeFile(m_dir / "a.txt").value_or(""), "1");
    EXPECT_FALSE(ReadWholeFile(m_dir / "none"));
    // A pipe without a writer (a sound file, an included file or a
    // configuration named by mistake) is refused instead of waited for.
    ASSERT_EQ(::mkfifo((m_dir / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile(m_dir / "pipe"));
}

}  // namespace
}  // namespace quorvel::platform
