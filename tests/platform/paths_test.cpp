#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quorvel::platform {
namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

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
