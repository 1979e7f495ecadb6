#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/posix/window_list_backends.h"
#include "platform/process.h"
#include "platform/window_list.h"
#include "support/temp_dir.h"
#include "support/x_display.h"

namespace quorvel {
namespace {

using platform::TopLevelWindow;
using test::WaitFor;

// Ends a child when the test leaves, also when an assertion failed.
struct EndOnExit {
    platform::ChildProcess& child;
    ~EndOnExit() { child.Terminate(); }
};

std::vector<TopLevelWindow> WithTitle(platform::WindowList& list, const std::string& part) {
    return test::WindowsWithTitle(list, part);
}

class ProcessWindowListTest : public ::testing::Test {
protected:
    platform::ChildProcess Sleeper(const std::string& seconds) {
        return platform::Spawn("/bin/sleep", {"sleep", seconds});
    }
    std::unique_ptr<platform::WindowList> m_list = platform::OpenProcessWindowList();
};

TEST_F(ProcessWindowListTest, ListsOurProcessesNewestFirstByCommandLineButNeverItself) {
    auto older = Sleeper("3600.101");
    EndOnExit olderGuard{older};
    ASSERT_TRUE(older);
    ASSERT_TRUE(WaitFor([&] { return !WithTitle(*m_list, "sleep 3600.101").empty(); }));
    auto newer = Sleeper("3600.102");
    EndOnExit newerGuard{newer};
    ASSERT_TRUE(newer);
    ASSERT_TRUE(WaitFor([&] { return !WithTitle(*m_list, "sleep 3600.102").empty(); }));

    auto windows = m_list->Windows();
    auto at = [&](const std::string& title) {
        return std::find_if(windows.begin(), windows.end(),
                            [&](const TopLevelWindow& w) { return w.title == title; });
    };
    ASSERT_NE(at("sleep 3600.101"), windows.end());
    EXPECT_LT(at("sleep 3600.102"), at("sleep 3600.101"));
    EXPECT_EQ(at("sleep 3600.102")->pid, newer.Pid());
    for (const auto& w : windows) {
        EXPECT_NE(w.pid, ::getpid());
    }
    older.Terminate();
    newer.Terminate();
}

TEST_F(ProcessWindowListTest, CloseAsksWithSigtermAndTerminateForcesWithSigkill) {
    auto polite = Sleeper("3600.201");
    EndOnExit politeGuard{polite};
    auto forced = Sleeper("3600.202");
    EndOnExit forcedGuard{forced};
    ASSERT_TRUE(WaitFor([&] {
        return WithTitle(*m_list, "sleep 3600.201").size() == 1 &&
               WithTitle(*m_list, "sleep 3600.202").size() == 1;
    }));
    EXPECT_TRUE(m_list->Close(WithTitle(*m_list, "sleep 3600.201")[0], std::chrono::seconds(5)));
    ASSERT_TRUE(polite.Wait(std::chrono::seconds(20)));
    EXPECT_EQ(polite.TermSignal(), SIGTERM);

    EXPECT_TRUE(m_list->Terminate(WithTitle(*m_list, "sleep 3600.202")[0]));
    ASSERT_TRUE(forced.Wait(std::chrono::seconds(20)));
    EXPECT_EQ(forced.TermSignal(), SIGKILL);
}

TEST_F(ProcessWindowListTest, RefusesOurOwnProcessAndEntriesThatNoLongerMatchTheirProcess) {
    TopLevelWindow self{0, "self", ::getpid()};
    EXPECT_FALSE(m_list->Terminate(self));
    EXPECT_FALSE(m_list->Close(self, std::chrono::milliseconds(10)));

    auto child = Sleeper("3600.301");

    EndOnExit childGuard{child};
    ASSERT_TRUE(WaitFor([&] { return WithTitle(*m_list, "sleep 3600.301").size() == 1; }));
    TopLevelWindow stale = WithTitle(*m_list, "sleep 3600.301")[0];
    stale.id += 1;  // another start time: the id now names another process
    EXPECT_FALSE(m_list->Terminate(stale));
    EXPECT_FALSE(child.Wait(std::chrono::milliseconds(0)));
    child.Terminate();
}

class X11WindowListTest : public test::XDisplayTest {
protected:
    void SetUp() override {
        XDisplayTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        m_list = platform::OpenX11WindowList(s_display->Name());
        ASSERT_NE(m_list, nullptr);
    }

    test::TempDir m_dir;
    std::unique_ptr<platform::WindowList> m_list;
};

TEST_F(X11WindowListTest, ListsTitlesTopmostFirstWithTheOwnerProcess) {
    test::XClient client(*s_display, m_dir / "log", {"Editor - one", "Editor - two"});
    ASSERT_TRUE(client.WaitReady());
    auto windows = WithTitle(*m_list, "Editor - ");
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].title, "Editor - two");  // mapped last, so on top
    EXPECT_EQ(windows[1].title, "Editor - one");
    EXPECT_EQ(windows[0].pid, client.Process().Pid());
    EXPECT_EQ(windows[1].pid, client.Process().Pid());
}

TEST_F(X11WindowListTest, FollowsTheStackingOrderAfterARaise) {
    test::XClient client(*s_display, m_dir / "log", {"--raise-first", "Viewer A", "Viewer B"});
    ASSERT_TRUE(client.WaitReady());
    auto windows = WithTitle(*m_list, "Viewer ");
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].title, "Viewer A");
}

TEST_F(X11WindowListTest, CloseDeliversTheDeleteRequestAndWaitsForTheWindowToGo) {
    test::XClient client(*s_display, m_dir / "log", {"Closable 1", "Closable 2"});
    ASSERT_TRUE(client.WaitReady());
    auto windows = WithTitle(*m_list, "Closable ");
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_TRUE(m_list->Close(windows[1], std::chrono::seconds(20)));
    EXPECT_TRUE(
        WaitFor([&] { return client.Log().find("closed Closable 1\n") != std::string::npos; }));
    EXPECT_EQ(client.Log().find("closed Closable 2"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return WithTitle(*m_list, "Closable ").size() == 1; }));
}

TEST_F(X11WindowListTest, TerminateKillsTheOwnerAndAHungClientDoesNotBlockClose) {
    test::XClient hung(*s_display, m_dir / "log", {"--hang", "Stuck"});
    ASSERT_TRUE(hung.WaitReady());
    auto windows = WithTitle(*m_list, "Stuck");
    ASSERT_EQ(windows.size(), 1u);
    // The request is delivered but never handled; Close comes back anyway.
    m_list->Close(windows[0], std::chrono::milliseconds(200));
    EXPECT_EQ(WithTitle(*m_list, "Stuck").size(), 1u);

    EXPECT_TRUE(m_list->Terminate(windows[0]));
    ASSERT_TRUE(hung.Process().Wait(std::chrono::seconds(20)));
    EXPECT_EQ(hung.Process().TermSignal(), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return WithTitle(*m_list, "Stuck").empty(); }));
}

}  // namespace
}  // namespace quorvel
