// Window lists and the terminate program action under a real, reparenting
// window manager (openbox) on a private Xvfb display: the manager's client
// list gives the order, frames and the manager's own windows stay out, and
// close requests may go through the manager.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "actions/kill_action.h"
#include "actions/run_control.h"
#include "platform/posix/window_list_backends.h"
#include "platform/process.h"
#include "platform/window_list.h"
#include "support/temp_dir.h"
#include "support/x_display.h"

namespace quorvel {
namespace {

using platform::TopLevelWindow;
using test::WaitFor;

// A window manager running on a display until it goes away; Why() tells
// what kept it from starting.
class WindowManager {
public:
    WindowManager(const test::XDisplay& display, const test::TempDir& home) {
        auto program = platform::FindExecutable("openbox");
        auto env = platform::FindExecutable("env");
        if (!program || !env) {
            m_why = "openbox is not installed";
            return;
        }
        // env sets the display and keeps the manager's files out of $HOME;
        // no shell is involved.
        m_process = platform::Spawn(
            *env,
            {"env", "DISPLAY=" + display.Name(), "HOME=" + (home / ""),
             "XDG_CONFIG_HOME=" + (home / "config"), "XDG_CACHE_HOME=" + (home / "cache"),
             "XDG_DATA_HOME=" + (home / "data"), *program, "--sm-disable"},
            {.directory = "", .hidden = true});
        if (!m_process) {
            m_why = "openbox could not be started";
            return;
        }
        const std::string log = home / "wm.log";
        auto check = platform::Spawn(QUORVEL_X_WINDOW_HELPER,
                                     {QUORVEL_X_WINDOW_HELPER, display.Name(), log, "--wait-wm"});
        m_running = check && check.Wait(std::chrono::minutes(1)) && check.ExitCode() == 0 &&
                    !m_process.Wait(std::chrono::milliseconds(0));
        if (!m_running) {
            m_why = "openbox did not take over the display";
        }
    }
    ~WindowManager() {
        if (m_process) {
            m_process.Terminate();
        }
    }
    bool Running() const { return m_running; }
    const std::string& Why() const { return m_why; }

private:
    platform::ChildProcess m_process;
    bool m_running = false;
    std::string m_why;
};

std::vector<TopLevelWindow> WithTitle(platform::WindowList& list, const std::string& part) {
    return test::WindowsWithTitle(list, part);
}

// The titles containing part, topmost first.
std::vector<std::string> Titles(platform::WindowList& list, const std::string& part) {
    std::vector<std::string> titles;
    for (auto& w : WithTitle(list, part)) {
        titles.push_back(w.title);
    }
    return titles;
}

class WindowManagerTest : public test::XDisplayTest {
protected:
    static void SetUpTestSuite() {
        XDisplayTest::SetUpTestSuite();
        s_home = new test::TempDir();
        if (s_display->Available()) {
            s_manager = new WindowManager(*s_display, *s_home);
        }
    }
    static void TearDownTestSuite() {
        delete s_manager;
        delete s_home;
        s_manager = nullptr;
        s_home = nullptr;
        XDisplayTest::TearDownTestSuite();
    }
    void SetUp() override {
        XDisplayTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!s_manager->Running()) {
            GTEST_SKIP() << "no window manager: " << s_manager->Why();
        }
        m_list = platform::OpenX11WindowList(s_display->Name());
        ASSERT_NE(m_list, nullptr);
    }
    void TearDown() override { platform::SetWindowList(nullptr); }

    // Runs the helper once in one of its tool modes.
    bool Helper(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {QUORVEL_X_WINDOW_HELPER, s_display->Name(),
                                         m_dir / "tool.log"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto child = platform::Spawn(argv[0], argv);
        return child && child.Wait(std::chrono::minutes(1)) && child.ExitCode() == 0;
    }

    static test::TempDir* s_home;
    static WindowManager* s_manager;
    test::TempDir m_dir;
    std::unique_ptr<platform::WindowList> m_list;
    PlainRunControl m_control;
};

test::TempDir* WindowManagerTest::s_home = nullptr;
WindowManager* WindowManagerTest::s_manager = nullptr;

TEST_F(WindowManagerTest, ListsOnlyManagedClientsTitledByTheirUnicodeName) {
    // Without clients the manager's own windows are not programs to close.
    EXPECT_TRUE(WaitFor([&] { return m_list->Windows().empty(); }));

    test::XClient client(*s_display, m_dir / "log",
                         {"--legacy-names", "Résumé – one", "Résumé – two"});
    ASSERT_TRUE(client.WaitReady());
    // The first clients are managed only once the manager has ended its
    // start-up, which a loaded machine draws out.
    ASSERT_TRUE(WaitFor([&] { return WithTitle(*m_list, "Résumé").size() == 2; },
                        std::chrono::minutes(1)))
        << ::testing::PrintToString(Titles(*m_list, ""));
    // Where the manager stacks a new window depends on its focus rules; an
    // activation settles the order.
    ASSERT_TRUE(Helper({"--activate", "Résumé – one"}));
    ASSERT_TRUE(WaitFor([&] { return Titles(*m_list, "Résumé").front() == "Résumé – one"; }));
    auto windows = m_list->Windows();
    ASSERT_EQ(windows.size(), 2u);  // no frames, no windows of the manager
    EXPECT_EQ(windows[0].title, "Résumé – one");
    EXPECT_EQ(windows[1].title, "Résumé – two");
    for (const auto& w : windows) {
        EXPECT_EQ(w.pid, client.Process().Pid());
    }
}

TEST_F(WindowManagerTest, TheOrderFollowsRaisesMadeThroughTheWindowManager) {
    test::XClient client(*s_display, m_dir / "log", {"Pane A", "Pane B"});
    ASSERT_TRUE(client.WaitReady());
    ASSERT_TRUE(WaitFor([&] { return Titles(*m_list, "Pane ").size() == 2; }));
    ASSERT_TRUE(Helper({"--activate", "Pane A"}));
    EXPECT_TRUE(WaitFor([&] {
        return Titles(*m_list, "Pane ") == std::vector<std::string>{"Pane A", "Pane B"};
    }));
    ASSERT_TRUE(Helper({"--activate", "Pane B"}));
    EXPECT_TRUE(WaitFor([&] {
        return Titles(*m_list, "Pane ") == std::vector<std::string>{"Pane B", "Pane A"};
    }));
}

TEST_F(WindowManagerTest, TheActionClosesTheTopmostWindowOrEveryWindowOfTheProcess) {
    platform::SetWindowList(
        std::shared_ptr<platform::WindowList>(platform::OpenX11WindowList(s_display->Name())));
    test::XClient client(*s_display, m_dir / "log", {"Draft 1 - Pad", "Draft 2 - Pad"});
    ASSERT_TRUE(client.WaitReady());
    ASSERT_TRUE(WaitFor([&] { return WithTitle(*m_list, " - Pad").size() == 2; }));
    ASSERT_TRUE(Helper({"--activate", "Draft 1 - Pad"}));
    ASSERT_TRUE(WaitFor([&] { return Titles(*m_list, " - Pad").front() == "Draft 1 - Pad"; }));

    KillAction kill;
    kill.Params().ParseLine("killTitleMask=* - pad");
    EXPECT_TRUE(kill.Execute({}, DateTime(40000.0), m_control));
    // The action came back only after the program had handled the request.
    EXPECT_EQ(client.Log(), "ready\nclosed Draft 1 - Pad\n");

    client.Process().Wait(std::chrono::milliseconds(0));
    EXPECT_FALSE(client.Process().Ended());
    kill.Params().ParseLine("killCloseAll=1");
    test::XClient second(*s_display, m_dir / "log2", {"Draft 3 - Pad", "Draft 4 - Pad"});
    ASSERT_TRUE(second.WaitReady());
    ASSERT_TRUE(WaitFor([&] { return WithTitle(*m_list, " - Pad").size() == 3; }));
    ASSERT_TRUE(Helper({"--activate", "Draft 3 - Pad"}));
    ASSERT_TRUE(WaitFor([&] { return Titles(*m_list, " - Pad").front() == "Draft 3 - Pad"; }));
    ASSERT_TRUE(Helper({"--activate", "Draft 4 - Pad"}));
    ASSERT_TRUE(WaitFor([&] {
        return Titles(*m_list, " - Pad") ==
               std::vector<std::string>{"Draft 4 - Pad", "Draft 3 - Pad", "Draft 2 - Pad"};
    }));
    EXPECT_TRUE(kill.Execute({}, DateTime(40000.0), m_control));
    EXPECT_EQ(client.Log(), "ready\nclosed Draft 1 - Pad\nclosed Draft 2 - Pad\n");
    EXPECT_EQ(second.Log(), "ready\nclosed Draft 4 - Pad\nclosed Draft 3 - Pad\n");
    ASSERT_TRUE(second.Process().Wait(std::chrono::seconds(20)));
    ASSERT_TRUE(client.Process().Wait(std::chrono::seconds(20)));
    EXPECT_EQ(client.Process().ExitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return m_list->Windows().empty(); }));
}

TEST_F(WindowManagerTest, AWindowWithoutTheDeleteProtocolIsClosedByTheWindowManager) {
    test::XClient client(*s_display, m_dir / "log", {"--no-delete", "Plain viewer"});
    ASSERT_TRUE(client.WaitReady());
    ASSERT_TRUE(WaitFor([&] { return WithTitle(*m_list, "Plain viewer").size() == 1; }));
    EXPECT_TRUE(m_list->Close(WithTitle(*m_list, "Plain viewer")[0], std::chrono::seconds(20)));
    ASSERT_TRUE(client.Process().Wait(std::chrono::seconds(20)));
    EXPECT_EQ(client.Log(), "ready\ndisconnected\n");
    EXPECT_TRUE(WaitFor([&] { return m_list->Windows().empty(); }));
}

TEST_F(WindowManagerTest, AHungProgramIsAskedBrieflyAndCanBeKilled) {
    test::XClient hung(*s_display, m_dir / "log", {"--hang", "Frozen 1", "Frozen 2"});
    ASSERT_TRUE(hung.WaitReady());
    ASSERT_TRUE(WaitFor([&] { return WithTitle(*m_list, "Frozen ").size() == 2; }));
    // The request is delivered; nobody handles it, and Close comes back.
    EXPECT_TRUE(m_list->Close(WithTitle(*m_list, "Frozen ")[0], std::chrono::milliseconds(200)));
    EXPECT_EQ(WithTitle(*m_list, "Frozen ").size(), 2u);

    platform::SetWindowList(
        std::shared_ptr<platform::WindowList>(platform::OpenX11WindowList(s_display->Name())));
    KillAction kill;
    kill.Params().ParseLine("killTitleMask=frozen ?");
    kill.Params().ParseLine("killCloseAll=1");
    kill.Params().ParseLine("killForcedKill=1");
    EXPECT_TRUE(kill.Execute({}, DateTime(40000.0), m_control));
    ASSERT_TRUE(hung.Process().Wait(std::chrono::seconds(20)));
    EXPECT_EQ(hung.Process().TermSignal(), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return m_list->Windows().empty(); }));
}

}  // namespace
}  // namespace quorvel
