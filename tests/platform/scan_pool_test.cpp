#include "platform/scan_pool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "support/temp_dir.h"
#include "support/tools.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using platform::DirectoryScanner;
using platform::ScanEntry;
using platform::ScanPool;

// Records every call made on the walking thread with what the entry says.
// Directories named "no..." are refused although MayEnter allowed them (a
// parallel walk has read them ahead), those named "late..." are entered
// although MayEnter held them back.
class CallLog : public DirectoryScanner::Visitor {
public:
    explicit CallLog(std::string root) : m_root(std::move(root)) {}

    std::vector<std::string> calls;

    bool ShouldStop() override {
        calls.emplace_back("?");
        return false;
    }
    bool Enter(ScanEntry& e) override {
        calls.push_back("enter " + Describe(e));
        return !e.Name().starts_with("no");
    }
    void Visit(ScanEntry& e) override { calls.push_back("visit " + Describe(e)); }
    bool MayEnter(const ScanEntry& e) const override { return !e.Name().starts_with("late"); }
    void BeforeRead(ScanEntry& e) override {
        const bool opens = e.OpenAsDirectory().Valid();
        std::lock_guard lock(m_mutex);
        m_read.push_back(Relative(e));
        if (!opens) {
            m_unopened.push_back(Relative(e));
        }
    }

    std::vector<std::string> Read() const {
        std::lock_guard lock(m_mutex);
        return m_read;
    }
    std::vector<std::string> Unopened() const {
        std::lock_guard lock(m_mutex);
        return m_unopened;
    }

private:
    std::string Relative(const ScanEntry& e) const {
        return std::string(e.FullPath().substr(m_root.size()));
    }
    std::string Describe(ScanEntry& e) const {
        std::string s = Relative(e);
        s += e.IsRealDirectory() ? " dir" : e.IsSymlink() ? " link" : " other";
        s += e.IsHidden() ? " hidden" : "";
        if (e.Resolve()) {
            s += (e.IsDirectory() ? " to-dir " : " ") + std::to_string(e.Size()) + " " +
                 std::to_string(e.Inode()) + " " + std::to_string(e.LinkCount()) + " " +
                 std::to_string(e.Modified().seconds) + "." +
                 std::to_string(e.Modified().nanoseconds);
        } else {
            s += " unresolved";
        }
        return s;
    }

    std::string m_root;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_read;
    std::vector<std::string> m_unopened;
};

TEST(ScanPoolTest, ParallelWalksMakeTheSingleWalksCallsInItsOrder) {
    if (!test::RunUnprivileged()) {
        return;  // ran as an unprivileged user, so that permissions count
    }
    test::TempDir dir;
    for (const char* f :
         {"a/b/c/f1", "a/b/f2", "a/f3", ".hidden/f4", "no1/x/y/f5", "no1/f6", "late1/z/f7",
          "late1/f8", "listonly/f10", "closed/f11", "\xff\x01 odd\nname/f12"}) {
        dir.Write(f, std::string(std::strlen(f), 'x'));
    }
    for (int i = 0; i < 60; ++i) {
        dir.Write("wide/d" + std::to_string(i) + "/f", std::to_string(i));
    }
    fs::create_symlink(dir.Path() / "a/f3", dir.Path() / "a/link");
    fs::create_directory_symlink(dir.Path(), dir.Path() / "a/b/loop");
    fs::create_symlink(dir.Path() / "nowhere", dir.Path() / "dangling");
    ASSERT_EQ(::chmod((dir / "closed").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "listonly").c_str(), 0444), 0);  // names, no details
    const std::string root = dir.Path().string() + "/";

    CallLog single(root);
    ASSERT_TRUE(DirectoryScanner::Scan(root, single));
    ASSERT_GT(single.calls.size(), 200u);
    for (const int walkers : {2, 5}) {
        SCOPED_TRACE(walkers);
        CallLog parallel(root);
        ASSERT_TRUE(ScanPool::Process().Scan(root, parallel, walkers));
        EXPECT_EQ(parallel.calls, single.calls);
        // Every directory read was announced while it could be opened (but
        // the closed one), parents first; those the single walk reads are
        // among them.
        const std::vector<std::string> read = parallel.Read();
        EXPECT_EQ(parallel.Unopened(), std::vector<std::string>{"closed"});
        for (std::size_t i = 0; i < read.size(); ++i) {
            const std::size_t slash = read[i].rfind('/');
            if (slash != std::string::npos) {
                const auto parent = std::find(read.begin(), read.end(), read[i].substr(0, slash));
                EXPECT_LT(parent - read.begin(), static_cast<std::ptrdiff_t>(i)) << read[i];
            }
        }
        for (const std::string& d : single.Read()) {
            EXPECT_NE(std::find(read.begin(), read.end(), d), read.end()) << d;
        }
    }
    EXPECT_FALSE(ScanPool::Process().Scan(root + "missing/", single, 2));
    ::chmod((dir / "closed").c_str(), 0755);
    ::chmod((dir / "listonly").c_str(), 0755);
}

}  // namespace
}  // namespace quorvel
