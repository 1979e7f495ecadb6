// The Windows platform implementations, tried against the system (Wine in
// CI). Each test owns its files and registry key and removes them.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/change_notifier.h"
#include "platform/directory_scanner.h"
#include "platform/file_operation.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/user_registry.h"
#include "platform/window_list.h"
#include "settings/registry_store.h"
#include "support/temp_dir.h"

namespace quorvel::platform {
namespace {

namespace fs = std::filesystem;

class Win32Test : public test::TempDirTest {};

TEST_F(Win32Test, UserRegistryIsReadWithItsSubKeys) {
    const std::wstring root =
        L"Software\\Feldrane\\QuorvelTest" + std::to_wstring(::GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (root + L"\\Positions\\Main").c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD left = 120;
    ::RegSetValueExW(key, L"Left", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&left),
                     sizeof(left));
    ::RegCloseKey(key);
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring language = L"Deutsch \u00e4.lng";
    ::RegSetValueExW(key, L"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(language.c_str()),
                     static_cast<DWORD>((language.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);

    const std::string rootPath =
        "Software\\Feldrane\\QuorvelTest" + std::to_string(::GetCurrentProcessId());
    RegistryStore store;
    EXPECT_TRUE(store.LoadUser("\\" + rootPath));
    EXPECT_EQ(store.GetString(rootPath, "Language"), "Deutsch \xC3\xA4.lng");
    EXPECT_EQ(store.GetInt(rootPath + "\\Positions\\Main", "Left"), 120);
    EXPECT_FALSE(ReadUserRegistry(rootPath + "\\Missing", [](auto&, auto&, auto&) {}));

    ::RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
}

struct Seen {
    bool hidden = false;
    std::int64_t size = 0;
};

class Collect : public DirectoryScanner::Visitor {
public:
    bool ShouldStop() override { return false; }
    bool Enter(ScanEntry&) override { return true; }
    void Visit(ScanEntry& e) override {
        e.Resolve();
        seen[std::string(e.FullPath())] = {e.IsHidden(), e.Size()};
    }
    std::map<std::string, Seen> seen;
};

TEST_F(Win32Test, ScannerWalksTheTreeAndTellsHiddenAndSystemEntries) {
    const std::string plain = m_dir.Write("d\\plain.txt", "12345");
    const std::string hidden = m_dir.Write("d\\deep\\hidden.txt", "x");
    const std::string system = m_dir.Write("system.dat", "xy");
    ::SetFileAttributesW(fs::path(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(fs::path(system).c_str(), FILE_ATTRIBUTE_SYSTEM);
    Collect walk;
    ASSERT_TRUE(DirectoryScanner::Scan(m_dir.Path().string() + "\\", walk));
    ASSERT_EQ(walk.seen.count(plain), 1u);
    EXPECT_EQ(walk.seen[plain].size, 5);
    EXPECT_FALSE(walk.seen[plain].hidden);
    EXPECT_TRUE(walk.seen[hidden].hidden);
    EXPECT_TRUE(walk.seen[system].hidden);
    EXPECT_EQ(walk.seen.count(m_dir / "d\\deep"), 1u);
    EXPECT_FALSE(DirectoryScanner::Scan(m_dir / "missing\\", walk));
}

TEST_F(Win32Test, NotifierReportsCreationsWritesAndDeletionsUntilStopped) {
    ChangeNotifier notifier;
    ASSERT_TRUE(notifier.Start(m_dir.Path().string(), false, false));
    auto waitFor = [&](const std::string& name) {
        std::vector<std::string> changes;
        for (int i = 0; i < 20; ++i) {
            if (notifier.Wait({}, &changes) != ChangeNotifier::Result::Changed) {
                return false;
            }
            for (const auto& c : changes) {
                if (c == name) {
                    return true;
                }
            }
        }
        return false;
    };
    m_dir.Write("new.txt", "1");
    EXPECT_TRUE(waitFor("new.txt"));
    { std::ofstream(m_dir / "new.txt", std::ios::app) << "more"; }
    EXPECT_TRUE(waitFor("new.txt"));
    fs::remove(m_dir / "new.txt");
    EXPECT_TRUE(waitFor("new.txt"));
    const ChangeSet set = notifier.TakeChanges();
    ASSERT_EQ(set.names.count(""), 1u);
    EXPECT_EQ(set.names.at("").count("new.txt"), 1u);
    notifier.Stop();
    EXPECT_EQ(notifier.Wait({}), ChangeNotifier::Result::Stopped);
    EXPECT_FALSE(ChangeNotifier().Start(m_dir / "missing", false, false));
}

TEST_F(Win32Test, AFileOpenedWithoutSharingIsInUse) {
    const std::string path = m_dir.Write("locked.txt", "x");
    EXPECT_FALSE(IsFileInUse(path));
    HANDLE file = ::CreateFileW(fs::path(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IsFileInUse(path));
    ::CloseHandle(file);
    EXPECT_FALSE(IsFileInUse(path));
    EXPECT_FALSE(IsFileInUse(m_dir / "missing.txt"));
}

TEST_F(Win32Test, AtomicWritesReplaceTheFileAndLeaveNoTemporaryFile) {
    const std::string path = m_dir / "out.txt";
    ASSERT_TRUE(WriteFileAtomically(path, "one"));
    ASSERT_TRUE(WriteFileAtomically(path, "two"));
    EXPECT_EQ(ReadWholeFile(path), "two");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1);

    // Beyond the classic 260 characters, in any script.
    std::string deep = m_dir.Path().string();
    while (deep.size() < 300) {
        deep += "\\\xC3\xA4\xE6\x97\xA5 directory";
    }
    ASSERT_TRUE(CreateDirectories(deep));
    ASSERT_TRUE(WriteFileAtomically(deep + "\\long.txt", "deep"));
    EXPECT_EQ(ReadWholeFile(deep + "\\long.txt"), "deep");
    EXPECT_EQ(Stat(deep + "\\long.txt")->size, 4);
    bool listed = false;
    ListDirectory(deep, [&](const DirectoryEntry& e) { return !(listed = e.name == "long.txt"); });
    EXPECT_TRUE(listed);
}

TEST_F(Win32Test, ProgramsStartWithTheirExitCodeAndTerminationEndsTheirChildren) {
    ChildProcess quick = ShellExecute("cmd.exe", "/c exit 7", "", ShowMode::Hidden);
    ASSERT_TRUE(quick);
    ASSERT_TRUE(quick.Wait(std::chrono::seconds(60)));
    EXPECT_EQ(quick.ExitCode(), 7);

    // A macro result with blanks stays one argument.
    const std::string pidFile = m_dir / "child pid.txt";
    const std::string parameters = "tree " + pidFile;
    std::vector<bool> literal(parameters.size(), false);
    std::fill(literal.begin() + 5, literal.end(), true);
    ChildProcess tree =
        ShellExecute(QUORVEL_TEST_HELPER, parameters, "", ShowMode::Hidden, &literal);
    ASSERT_TRUE(tree);
    ASSERT_TRUE(test::WaitFor([&] { return !test::ReadFile(pidFile).empty(); }));
    const DWORD childPid = std::stoul(test::ReadFile(pidFile));
    EXPECT_FALSE(tree.Wait(std::chrono::milliseconds(0)));
    tree.Terminate();
    EXPECT_TRUE(tree.Ended());
    HANDLE child = ::OpenProcess(SYNCHRONIZE, FALSE, childPid);
    if (child != nullptr) {
        EXPECT_EQ(::WaitForSingleObject(child, 20000), WAIT_OBJECT_0);
        ::CloseHandle(child);
    }
    EXPECT_FALSE(ShellExecute(m_dir / "missing.exe", "", "", ShowMode::Normal));
}

TEST_F(Win32Test, ShellFileOperationsCopyMoveRenameAndDeleteToTheRecycleBin) {
    m_dir.Write("src\\a.txt", "a");
    m_dir.Write("src\\b.log", "b");
    m_dir.Write("src\\sub\\c.txt", "c");
    ConsoleFileOpUi ui;
    FileOperation copy;
    copy.kind = FileOpKind::Copy;
    copy.sources = {m_dir / "src\\*.txt"};
    copy.destinations = {m_dir / "copies"};
    copy.filesOnly = true;
    ASSERT_TRUE(RunFileOperation(copy, ui));
    EXPECT_TRUE(fs::exists(m_dir / "copies\\a.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "copies\\b.log"));
    EXPECT_FALSE(fs::exists(m_dir / "copies\\sub"));

    FileOperation move;
    move.kind = FileOpKind::Move;
    move.sources = {m_dir / "src\\sub"};
    move.destinations = {m_dir / "copies\\"};
    ASSERT_TRUE(RunFileOperation(move, ui));
    EXPECT_EQ(test::ReadFile(m_dir / "copies\\sub\\c.txt"), "c");
    EXPECT_FALSE(fs::exists(m_dir / "src\\sub"));

    // The console keeps what it would have to ask about.
    FileOperation again = copy;
    again.confirmOverwrite = true;
    m_dir.Write("src\\a.txt", "new");
    EXPECT_TRUE(RunFileOperation(again, ui));
    EXPECT_EQ(test::ReadFile(m_dir / "copies\\a.txt"), "a");

    FileOperation rename;
    rename.kind = FileOpKind::Rename;
    rename.sources = {m_dir / "src\\b.log"};
    rename.destinations = {"b.txt"};
    ASSERT_TRUE(RunFileOperation(rename, ui));
    EXPECT_TRUE(fs::exists(m_dir / "src\\b.txt"));

    FileOperation remove;
    remove.kind = FileOpKind::Delete;
    remove.sources = {m_dir / "src\\b.txt"};
    remove.allowUndo = true;
    EXPECT_TRUE(RunFileOperation(remove, ui));
    EXPECT_FALSE(fs::exists(m_dir / "src\\b.txt"));

    FileOperation refused;
    refused.kind = FileOpKind::Delete;
    refused.sources = {HomeDirectory()};
    refused.reportErrors = false;
    EXPECT_FALSE(RunFileOperation(refused, ui));
    EXPECT_TRUE(fs::exists(HomeDirectory()));
}

TEST_F(Win32Test, WindowListFindsAWindowByTitleAndClosesIt) {
    const std::string title = "Quorvel test window " + std::to_string(::GetCurrentProcessId());
    ChildProcess helper =
        Spawn(QUORVEL_TEST_HELPER, {QUORVEL_TEST_HELPER, "window", title}, SpawnOptions{});
    ASSERT_TRUE(helper);
    auto list = CurrentWindowList();
    TopLevelWindow found;
    ASSERT_TRUE(test::WaitFor([&] {
        for (const auto& w : list->Windows()) {
            if (w.title == title) {
                found = w;
                return true;
            }
        }
        return false;
    })) << "Wine shows no windows without a display";
    EXPECT_EQ(found.pid, helper.Pid());
    EXPECT_TRUE(list->Close(found, std::chrono::seconds(5)));
    EXPECT_TRUE(helper.Wait(std::chrono::seconds(30)));
    EXPECT_FALSE(list->Terminate({0, "self", static_cast<int>(::GetCurrentProcessId())}));
}

}  // namespace
}  // namespace quorvel::platform
