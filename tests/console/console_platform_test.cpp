#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/scoped_env.h"
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "console/runner.h"
#include "console/service_commands.h"
#include "platform/console.h"
#include "platform/service_manager.h"
#include "platform/signals.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using platform::QuoteUnitWord;

TEST(UnitQuotingTest, PlainPathIsQuoted) {
    EXPECT_EQ(QuoteUnitWord("/usr/bin/quorvinsvc", true), "\"/usr/bin/quorvinsvc\"");
}

TEST(UnitQuotingTest, SpecialCharactersAreEscaped) {
    EXPECT_EQ(QuoteUnitWord("/opt/my dir/q\"x\\y", true), "\"/opt/my dir/q\\\"x\\\\y\"");
    // Specifiers would be expanded by the manager.
    EXPECT_EQ(QuoteUnitWord("/opt/100%/q", true), "\"/opt/100%%/q\"");
    // Variables are substituted in arguments, never in the program path.
    EXPECT_EQ(QuoteUnitWord("/opt/$HOME/q", true), "\"/opt/$HOME/q\"");
    EXPECT_EQ(QuoteUnitWord("$HOME", false), "\"$$HOME\"");
    // A line break must not end the ExecStart line.
    EXPECT_EQ(QuoteUnitWord("/a\nb\tc\x01", true), "\"/a\\nb\\tc\\x01\"");
    EXPECT_EQ(QuoteUnitWord("", false), "\"\"");
}

TEST(UnitFileTest, SystemUnitText) {
    auto unit = ServiceUnitFor("/opt/quorvel/bin/quorvinsvc");
    EXPECT_EQ(platform::UnitFileText(unit, false),
              "[Unit]\n"
              "Description=Quorvel\n"
              "\n"
              "[Service]\n"
              "Type=notify\n"
              "ExecStartPre=\"/opt/quorvel/bin/quorvinsvc\" /check /service\n"
              "ExecStart=\"/opt/quorvel/bin/quorvinsvc\" /service\n"
              "Restart=no\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
}

TEST(UnitFileTest, UserUnitWantedByDefaultTarget) {
    auto text = platform::UnitFileText(ServiceUnitFor("/home/u/my bin/quorvinsvc"), true);
    EXPECT_THAT(text, testing::HasSubstr("ExecStart=\"/home/u/my bin/quorvinsvc\" /service\n"));
    EXPECT_THAT(text, testing::HasSubstr("WantedBy=default.target\n"));
}

TEST(UnitFileTest, DescriptionCannotInjectLines) {
    platform::ServiceUnit unit{"x", "a%b\nExecStartPre=/bin/evil", {"/bin/x"}, {}};
    auto text = platform::UnitFileText(unit, false);
    EXPECT_THAT(text, testing::HasSubstr("Description=a%%bExecStartPre=/bin/evil\n"));
    EXPECT_THAT(text, testing::Not(testing::HasSubstr("\nExecStartPre")));
}

// Environment changes in this test program are made before any thread of
// the test runs and undone afterwards.
using test::ScopedEnv;

// systemd takes no quote, backslash or line break in the program path of
// ExecStart: such a path is refused before any unit is written.
TEST(UnitFileTest, InstallRefusesAProgramPathTheManagerWouldReject) {
    test::TempDir dir;
    ScopedEnv units("QUORVEL_SYSTEMD_UNIT_DIR", (dir / "units").c_str());
    for (const char* path : {"/opt/a\"b/quorvinsvc", "/opt/a\\b/quorvinsvc", "/opt/a\nb/quorvinsvc"}) {
        EXPECT_FALSE(InstallService(path)) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "units"));
}

TEST(UnitDirectoryTest, FollowsTheManager) {
    ScopedEnv override("QUORVEL_SYSTEMD_UNIT_DIR", nullptr);
    ScopedEnv config("XDG_CONFIG_HOME", "/tmp/cfg-home");
    EXPECT_EQ(platform::UnitDirectory(false), "/etc/systemd/system");
    EXPECT_EQ(platform::UnitDirectory(true), "/tmp/cfg-home/systemd/user");
    ScopedEnv relative("XDG_CONFIG_HOME", "relative");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(platform::UnitDirectory(true), "/home/someone/.config/systemd/user");
    ScopedEnv staged("QUORVEL_SYSTEMD_UNIT_DIR", "/stage/units/");
    EXPECT_EQ(platform::UnitDirectory(false), "/stage/units");
    EXPECT_EQ(platform::UnitDirectory(true), "/stage/units");
}

TEST(RunProgramTest, ReportsExitStatus) {
    using namespace std::chrono_literals;
    EXPECT_EQ(platform::RunProgram({"true"}, 60s), 0);
    EXPECT_EQ(platform::RunProgram({"sh", "-c", "exit 3"}, 60s), 3);
    EXPECT_NE(platform::RunProgram({"no-such-program-quorvel"}, 60s, true), 0);
    EXPECT_EQ(platform::RunProgram({}, 60s), -1);
}

TEST(RunProgramTest, ArgumentsAreNeverInterpretedByAShell) {
    test::TempDir dir;
    std::string target = dir / "out";
    std::string hostile = "$(touch " + (dir / "pwned") + ")";
    EXPECT_EQ(
        platform::RunProgram({"sh", "-c", "printf '%s' \"$1\" > \"$2\"", "sh", hostile, target},
                             std::chrono::seconds(60)),
        0);
    EXPECT_EQ(test::ReadFile(target), hostile);
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
}

TEST(RunProgramTest, AHangingProgramIsKilledAtTheDeadline) {
    EXPECT_EQ(platform::RunProgram({"sleep", "600"}, std::chrono::milliseconds(200)), -1);
}

TEST(RunProgramTest, ChildGetsSignalsUnblocked) {
    // The programs block their signals for the signal thread; a child must
    // not inherit that, or it could never be stopped with SIGTERM.
    platform::BlockProcessSignals();
    EXPECT_EQ(
        platform::RunProgram({"sh", "-c", "grep -q '^SigBlk:[[:space:]]*0*$' /proc/self/status"},
                             std::chrono::seconds(60)),
        0);
}

// A datagram socket of the test's own, standing in for the service manager.
class NotifyReceiver {
public:
    explicit NotifyReceiver(const std::string& address) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::memcpy(sa.sun_path, address.data(), address.size());
        socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
        if (address[0] == '@') {
            sa.sun_path[0] = '\0';
        } else {
            ++len;
        }
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), len) == 0;
        timeval tv{20, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~NotifyReceiver() { ::close(m_fd); }
    bool Bound() const { return m_bound; }
    std::string Receive() {
        char buf[4096];
        ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n < 0 ? std::string("<nothing>") : std::string(buf, static_cast<std::size_t>(n));
    }

private:
    int m_fd;
    bool m_bound = false;
};

TEST(ServiceNotifierTest, SendsToAPathSocket) {
    test::TempDir dir;
    std::string address = dir / "notify";
    NotifyReceiver receiver(address);
    ASSERT_TRUE(receiver.Bound());
    platform::ServiceNotifier notifier(address);
    ASSERT_TRUE(notifier.Valid());
    EXPECT_TRUE(notifier.Notify("READY=1\nSTATUS=hello"));
    EXPECT_EQ(receiver.Receive(), "READY=1\nSTATUS=hello");
}

TEST(ServiceNotifierTest, SendsToAnAbstractSocket) {
    std::string address = "@quorvel-test-" + std::to_string(::getpid());
    NotifyReceiver receiver(address);
    ASSERT_TRUE(receiver.Bound());
    ScopedEnv env("NOTIFY_SOCKET", address.c_str());
    auto notifier = platform::ServiceNotifier::FromEnvironment();
    ASSERT_TRUE(notifier);
    EXPECT_TRUE(notifier->Notify("STOPPING=1"));
    EXPECT_EQ(receiver.Receive(), "STOPPING=1");
}

TEST(ServiceNotifierTest, UnusableAddresses) {
    {
        ScopedEnv env("NOTIFY_SOCKET", nullptr);
        EXPECT_FALSE(platform::ServiceNotifier::FromEnvironment());
    }
    {
        ScopedEnv env("NOTIFY_SOCKET", "");
        EXPECT_FALSE(platform::ServiceNotifier::FromEnvironment());
    }
    {
        ScopedEnv env("NOTIFY_SOCKET", "relative/path");
        EXPECT_FALSE(platform::ServiceNotifier::FromEnvironment());
    }
    EXPECT_FALSE(platform::ServiceNotifier("/" + std::string(200, 'x')).Valid());
    // Nobody listening: the send fails, nothing crashes.
    test::TempDir dir;
    platform::ServiceNotifier nobody(dir / "none");
    EXPECT_FALSE(nobody.Notify("READY=1"));
}

TEST(StatusTextTest, ControlCharactersCannotAddAssignments) {
    EXPECT_EQ(StatusText("a\nSTOPPING=1\r\tb"), "a STOPPING=1  b");
}

TEST(KeyReaderTest, WakeEndsAPendingRead) {
    platform::KeyReader reader;
    std::atomic<bool> returned{false};
    std::optional<unsigned char> key{'?'};
    std::thread t([&] {
        key = reader.ReadKey();
        returned = true;
    });
    reader.Wake();
    t.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(key.has_value());
    // Once woken, later reads end at once too.
    EXPECT_FALSE(reader.ReadKey().has_value());
}

TEST(SignalListenerTest, DeliversSignalsOnItsThread) {
    platform::BlockProcessSignals();
    test::Collector<platform::ProcessSignal> got;
    std::atomic<bool> onOtherThread{true};
    auto mainThread = std::this_thread::get_id();
    {
        platform::SignalListener listener([&](platform::ProcessSignal s) {
            if (std::this_thread::get_id() == mainThread) {
                onOtherThread = false;
            }
            got.Add(s);
        });
        ASSERT_TRUE(listener.Running());
        ::kill(::getpid(), SIGUSR1);
        ASSERT_TRUE(got.WaitForCount(1));
        ::kill(::getpid(), SIGUSR2);
        ASSERT_TRUE(got.WaitForCount(2));
        ::kill(::getpid(), SIGTERM);
        ASSERT_TRUE(got.WaitForCount(3));
        ::kill(::getpid(), SIGINT);
        ASSERT_TRUE(got.WaitForCount(4));
        ::kill(::getpid(), SIGHUP);
        ASSERT_TRUE(got.WaitForCount(5));
    }
    using S = platform::ProcessSignal;
    EXPECT_THAT(got.Values(),
                testing::ElementsAre(S::Pause, S::Continue, S::Terminate, S::Interrupt, S::HangUp));
    EXPECT_TRUE(onOtherThread);
}

TEST(RawTerminalTest, DoesNothingWithoutATerminal) {
    if (platform::StdinIsTerminal()) {
        GTEST_SKIP() << "standard input is a terminal";
    }
    platform::RawTerminal raw;
    EXPECT_FALSE(raw.Active());
}

}  // namespace
}  // namespace quorvel
