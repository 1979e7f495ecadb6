#include "platform/paths.h"

#include <gtest/gtest.h>

#include "support/scoped_env.h"

#include <cstdlib>

namespace quorvel::platform {
namespace {

using test::ScopedEnv;

TEST(PathsTest, UserDirectoriesFollowXdg) {
    ScopedEnv home("HOME", "/home/ann");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        ScopedEnv cache("XDG_CACHE_HOME", "/cache");
        EXPECT_EQ(UserConfigDirectory(), "/cfg/quorvel");
        EXPECT_EQ(DefaultCacheDirectory(), "/cache/quorvel");
        EXPECT_EQ(DefaultConfigurationFile(), "/cfg/quorvel/default.mon");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv cache("XDG_CACHE_HOME", nullptr);
        EXPECT_EQ(UserConfigDirectory(), "/home/ann/.config/quorvel");
        EXPECT_EQ(DefaultCacheDirectory(), "/home/ann/.cache/quorvel");
    }
    EXPECT_EQ(DefaultCacheDirectory(true), "/var/cache/quorvel");
    EXPECT_EQ(DefaultConfigurationFile(true), "/etc/quorvel/default.mon");
}

TEST(PathsTest, ProgramLocation) {
    const std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(ExecutablePath().rfind(dir, 0), 0u);
    EXPECT_EQ(ShippedDataDirectory("Lang"), dir + "Lang/");
}

}  // namespace
}  // namespace quorvel::platform
