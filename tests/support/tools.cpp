#include "support/tools.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/paths.h"
#include "platform/process.h"

namespace quorvel::test {

std::optional<int> RunTool(const std::vector<std::string>& argv, const std::string& directory) {
    auto program = platform::FindExecutable(argv.at(0));
    if (!program) {
        return std::nullopt;
    }
    platform::SpawnOptions options;
    options.directory = directory;
    auto child = platform::Spawn(*program, argv, options);
    if (!child || !child.Wait(std::chrono::minutes(5))) {
        return std::nullopt;
    }
    return child.ExitCode();
}

std::optional<std::string> ToolOutput(const std::vector<std::string>& argv) {
    auto program = platform::FindExecutable(argv.at(0));
    int pipe[2];
    if (!program || ::pipe2(pipe, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, program->c_str(), &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::string output;
    bool ended = false;
    if (spawned == 0) {
        // A generous deadline only ends a tool that hangs.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{pipe[0], POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) {
                continue;
            }
            const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
            if (n <= 0) {
                ended = true;
                break;
            }
            output.append(buffer, static_cast<std::size_t>(n));
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
        }
    }
    ::close(pipe[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !ended) {
        return std::nullopt;
    }
    return output;
}

bool HaveTool(const std::string& name) {
    return platform::FindExecutable(name).has_value();
}

bool RunUnprivileged() {
    if (::geteuid() != 0) {
        return true;
    }
    if (!HaveTool("setpriv")) {
        ADD_FAILURE() << "setpriv is needed to run permission tests as an unprivileged user";
        return false;
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    const std::string self = platform::ExecutablePath();
    auto code = RunTool({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", self,
                         filter, "--gtest_brief=1"});
    EXPECT_TRUE(code.has_value());
    EXPECT_EQ(code.value_or(-1), 0) << "the test failed as user nobody (see its output above)";
    return false;
}

}  // namespace quorvel::test
