#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/window_list_backends.h"
#include "platform/process.h"
#include "platform/window_list.h"
#include "support/temp_dir.h"

namespace quorvel::test {

/// A private Xvfb display for one test suite; Available() is false where
/// no Xvfb is installed or it does not come up.
class XDisplay {
public:
    XDisplay() {
        const char* server = "/usr/bin/Xvfb";
        if (!std::filesystem::exists(server)) {
            return;
        }
        for (int attempt = 0; attempt < 20 && !m_ready; ++attempt) {
            int number = 150 + static_cast<int>((::getpid() + attempt * 37) % 700);
            if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
                continue;
            }
            m_name = ":" + std::to_string(number);
            // -noreset: by default the server resets whenever its last client
            // leaves, and a connection made during the reset fails.
            m_server = platform::Spawn(
                server,
                {"Xvfb", m_name, "-noreset", "-nolisten", "tcp", "-screen", "0", "640x480x24"},
                {.directory = "", .hidden = true});
            if (!m_server) {
                return;
            }
            m_ready = WaitFor(
                          [&] {
                              return m_server.Wait(std::chrono::milliseconds(0)) ||
                                     platform::OpenX11WindowList(m_name) != nullptr;
                          },
                          std::chrono::seconds(30)) &&
                      !m_server.Ended() && OwnsLock(number);
            if (!m_ready) {
                m_server.Terminate();
            }
        }
    }
    ~XDisplay() {
        if (m_server) {
            m_server.Terminate();
        }
    }

    bool Available() const { return m_ready; }
    const std::string& Name() const { return m_name; }

private:
    // Another test's server may have taken the number at the same moment,
    // and the connection above may have reached it before ours gave up: the
    // display is ours only when the lock file names our server.
    bool OwnsLock(int number) const {
        std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
        long pid = 0;
        return static_cast<bool>(lock >> pid) && pid == m_server.Pid();
    }

    platform::ChildProcess m_server;
    std::string m_name;
    bool m_ready = false;
};

/// A running x_window_helper with its log file.
class XClient {
public:
    XClient(const XDisplay& display, const std::string& log, std::vector<std::string> args)
        : m_log(log) {
        std::vector<std::string> argv = {QUORVEL_X_WINDOW_HELPER, display.Name(), log};
        argv.insert(argv.end(), args.begin(), args.end());
        m_child = platform::Spawn(argv[0], argv);
    }
    ~XClient() {
        if (m_child) {
            m_child.Terminate();
        }
    }
    /// Waits until every window is mapped.
    bool WaitReady() {
        return m_child && WaitFor([&] { return Log().find("ready\n") != std::string::npos; });
    }
    std::string Log() const { return ReadFile(m_log); }
    platform::ChildProcess& Process() { return m_child; }

private:
    std::string m_log;
    platform::ChildProcess m_child;
};

/// A fixture whose tests share one private display per test suite; each test
/// is skipped where no display comes up.
class XDisplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_display = new XDisplay(); }
    static void TearDownTestSuite() {
        delete s_display;
        s_display = nullptr;
    }
    void SetUp() override {
        if (!s_display->Available()) {
            GTEST_SKIP() << "no Xvfb display available";
        }
    }

    static inline XDisplay* s_display = nullptr;
};

/// The windows whose titles contain part, topmost first.
inline std::vector<platform::TopLevelWindow> WindowsWithTitle(platform::WindowList& list,
                                                              const std::string& part) {
    std::vector<platform::TopLevelWindow> found;
    for (auto& w : list.Windows()) {
        if (w.title.find(part) != std::string::npos) {
            found.push_back(w);
        }
    }
    return found;
}

}  // namespace quorvel::test
