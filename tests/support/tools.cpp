#include "support/tools.h"

#include <gtest/gtest.h>
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
