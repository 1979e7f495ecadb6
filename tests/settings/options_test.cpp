#include "settings/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <limits>
#include <thread>

#include "platform/paths.h"
#include "platform/user_registry.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using ::testing::Optional;
using namespace std::string_literals;
namespace fs = std::filesystem;

constexpr const char* kKey = "Software\\Feldrane\\Quorvel";

TEST(OptionsTest, SeventeenOptionsInOrderWithTheirDefaults) {
    test::TempDir dir;
    test::ScopedEnv cache("XDG_CACHE_HOME", dir.Path().string());
    Options options;
    const std::vector<std::string> expected = {
        "SavePosition", "StartMinimized", "OneInstance",  "ConfDelete",    "ConfSave",
        "ConfQuit",     "CacheDirectory", "TrayMinimize", "SingleRestore", "HideIcon",
        "RestoreKey",   "MenuImages",     "Interval",     "ShowToolbar",   "ShowStatusBar",
        "Language",     "Walkers"};
    ASSERT_EQ(options.Count(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(options.Name(i), expected[i]) << i;
    }
    EXPECT_EQ(options.Name(17), "");

    EXPECT_TRUE(options.SavePosition());
    EXPECT_FALSE(options.StartMinimized());
    EXPECT_FALSE(options.OneInstance());
    EXPECT_TRUE(options.ConfDelete());
    EXPECT_TRUE(options.ConfSave());
    EXPECT_FALSE(options.ConfQuit());
    EXPECT_EQ(options.CacheDirectory(), platform::DefaultCacheDirectory());
    EXPECT_TRUE(options.TrayMinimize());
    EXPECT_FALSE(options.SingleRestore());
    EXPECT_FALSE(options.HideIcon());
    EXPECT_EQ(options.RestoreKey(), 0);
    EXPECT_TRUE(options.MenuImages());
    EXPECT_EQ(options.Interval(), 1);
    EXPECT_TRUE(options.ShowToolbar());
    EXPECT_TRUE(options.ShowStatusBar());
    EXPECT_EQ(options.Language(), "English.lng");
    EXPECT_EQ(options.Walkers(), 0);

    EXPECT_EQ(Options("/srv/cache").CacheDirectory(), "/srv/cache");
}

TEST(OptionsTest, IntegersOutsideTheirRangeLoadAsTheMinimum) {
    for (auto [stored, expected] : {std::pair{25, 1}, {0, 1}, {-3, 1}, {11, 1}, {10, 10}, {7, 7}}) {
        RegistryStore store;
        store.SetInt(kKey, "Interval", stored);
        Options options("/c");
        options.LoadAll(store);
        EXPECT_EQ(options.Interval(), expected) << stored;
    }
    Options options("/c");
    options.SetInterval(5);
    options.SetInterval(1LL << 40);
    EXPECT_EQ(options.Interval(), 1);
    // Walkers outside 0 to 256 mean one per core.
    for (auto [stored, expected] : {std::pair{257, 0}, {-1, 0}, {256, 256}, {1, 1}, {3, 3}}) {
        RegistryStore store;
        store.SetInt(kKey, "Walkers", stored);
        Options walkers("/c");
        walkers.LoadAll(store);
        EXPECT_EQ(walkers.Walkers(), expected) << stored;
    }
}

TEST(OptionsTest, RestoreKeyTakesAnyInteger) {
    for (std::int32_t v : {std::numeric_limits<std::int32_t>::min(), -1, 0x4000 | 'R',
                           std::numeric_limits<std::int32_t>::max()}) {
        RegistryStore store;
        store.SetInt(kKey, "RestoreKey", v);
        Options options("/c");
        options.LoadAll(store);
        EXPECT_EQ(options.RestoreKey(), v);
    }
}

TEST(OptionsTest, MissingOrMistypedValuesKeepTheDefault) {
    RegistryStore store = RegistryStore::FromString(
        "[Software\\Feldrane\\Quorvel]\n"
        "Interval=\"5\"\n"
        "SavePosition=\"0\"\n"
        "Language=dword:00000001\n"
        "CacheDirectory=\"/data/cache\"\n"
        "HideIcon=dword:00000002\n"
        "ShowToolbar=dword:00000000\n");
    Options options("/c");
    options.LoadAll(store);
    EXPECT_EQ(options.Interval(), 1);
    EXPECT_TRUE(options.SavePosition());
    EXPECT_EQ(options.Language(), "English.lng");
    EXPECT_EQ(options.CacheDirectory(), "/data/cache");
    EXPECT_TRUE(options.HideIcon()) << "any non-zero integer is true";
    EXPECT_FALSE(options.ShowToolbar());
    EXPECT_TRUE(options.ShowStatusBar());
}

TEST(OptionsTest, OptionsUnderAnotherKeyAreNotRead) {
    RegistryStore store;
    store.SetInt("Software\\Other", "Interval", 5);
    store.SetInt("Software\\Feldrane\\Quorvel\\Positions\\Main", "Interval", 6);
    Options options("/c");
    options.LoadAll(store);
    EXPECT_EQ(options.Interval(), 1);
}

TEST(OptionsTest, SaveAllWritesEveryOptionTypedAndLoadAllReadsItBack) {
    Options options("/c");
    options.SetSavePosition(false);
    options.SetStartMinimized(true);
    options.SetOneInstance(true);
    options.SetConfDelete(false);
    options.SetConfSave(false);
    options.SetConfQuit(true);
    options.SetCacheDirectory(" /tmp/with blanks ");
    options.SetTrayMinimize(false);
    options.SetSingleRestore(true);
    options.SetHideIcon(true);
    options.SetRestoreKey(-42);
    options.SetMenuImages(false);
    options.SetInterval(9);
    options.SetShowToolbar(false);
    options.SetShowStatusBar(false);
    options.SetLanguage("German.lng");
    options.SetWalkers(3);

    RegistryStore store;
    options.SaveAll(store);
    RegistryStore reread = RegistryStore::FromString(store.Serialize());
    ASSERT_EQ(reread.ValueNames(kKey).size(), 17u);
    EXPECT_THAT(reread.GetInt(kKey, "SavePosition"), Optional(0));
    EXPECT_THAT(reread.GetInt(kKey, "StartMinimized"), Optional(1));
    EXPECT_THAT(reread.GetInt(kKey, "Interval"), Optional(9));
    EXPECT_THAT(reread.GetString(kKey, "Language"), Optional(std::string("German.lng")));
    EXPECT_EQ(reread.ValueNames(kKey).front(), "SavePosition");
    EXPECT_EQ(reread.ValueNames(kKey).back(), "Walkers");

    Options loaded("/c");
    loaded.LoadAll(reread);
    EXPECT_FALSE(loaded.SavePosition());
    EXPECT_TRUE(loaded.StartMinimized());
    EXPECT_TRUE(loaded.OneInstance());
    EXPECT_FALSE(loaded.ConfDelete());
    EXPECT_FALSE(loaded.ConfSave());
    EXPECT_TRUE(loaded.ConfQuit());
    EXPECT_EQ(loaded.CacheDirectory(), " /tmp/with blanks ");
    EXPECT_FALSE(loaded.TrayMinimize());
    EXPECT_TRUE(loaded.SingleRestore());
    EXPECT_TRUE(loaded.HideIcon());
    EXPECT_EQ(loaded.RestoreKey(), -42);
    EXPECT_FALSE(loaded.MenuImages());
    EXPECT_EQ(loaded.Interval(), 9);
    EXPECT_FALSE(loaded.ShowToolbar());
    EXPECT_FALSE(loaded.ShowStatusBar());
    EXPECT_EQ(loaded.Language(), "German.lng");
    EXPECT_EQ(loaded.Walkers(), 3);

    loaded.ResetAll();
    EXPECT_EQ(loaded.Interval(), 1);
    EXPECT_EQ(loaded.CacheDirectory(), "/c");
    loaded.AssignFrom(options);
    EXPECT_EQ(loaded.Language(), "German.lng");
    EXPECT_EQ(loaded.RestoreKey(), -42);
}

// Where the options live in a file of their own (not in Windows' registry).
class OptionsFileTest : public test::TempDirTest {
protected:
    void SetUp() override {
        if (platform::HasUserRegistry()) {
            GTEST_SKIP() << "the options live in the registry";
        }
    }
    test::ScopedEnv m_config{"XDG_CONFIG_HOME", m_dir.Path().string()};
    std::string m_file = m_dir / "quorvel/registry.ini";
};

TEST_F(OptionsFileTest, LoadingWithoutAStoreFileKeepsDefaultsAndCreatesNothing) {
    EXPECT_EQ(RegistryStore::DefaultPath(), m_file);
    Options options("/c");
    EXPECT_TRUE(options.LoadAll());
    EXPECT_EQ(options.Interval(), 1);
    EXPECT_FALSE(fs::exists(m_dir / "quorvel"));
}

TEST_F(OptionsFileTest, SavingKeepsTheOtherValuesOfTheStore) {
    RegistryStore positions;
    positions.SetInt("Software\\Feldrane\\Quorvel\\Positions\\Main", "Left", 120);
    positions.SetInt(kKey, "Col0", 80);
    ASSERT_TRUE(positions.SaveTo(m_file));

    Options options("/c");
    options.SetShowToolbar(false);
    ASSERT_TRUE(options.SaveAll());

    RegistryStore store;
    ASSERT_TRUE(store.Load(m_file));
    EXPECT_THAT(store.GetInt("Software\\Feldrane\\Quorvel\\Positions\\Main", "Left"),
                Optional(120));
    EXPECT_THAT(store.GetInt(kKey, "Col0"), Optional(80));
    EXPECT_THAT(store.GetInt(kKey, "ShowToolbar"), Optional(0));

    Options reloaded("/c");
    EXPECT_TRUE(reloaded.LoadAll());
    EXPECT_FALSE(reloaded.ShowToolbar());
}

TEST_F(OptionsFileTest, GarbageStoreFileLoadsWhatItCan) {
    m_dir.Write("quorvel/registry.ini",
                "\x00\xff[[[\n=\n[Software\\Feldrane\\Quorvel]\nInterval=dword:3\n"
                "Language=\"Ger"s);
    Options options("/c");
    EXPECT_TRUE(options.LoadAll());
    EXPECT_EQ(options.Interval(), 3);
    EXPECT_EQ(options.Language(), "English.lng");
}

TEST(OptionsTest, ReadersOnOtherThreadsSeeWholeValues) {
    Options options("/c");
    const std::string a = "/first/cache/directory";
    const std::string b = std::string(300, 'x');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const std::string v = options.CacheDirectory();
                if (v != "/c" && v != a && v != b) {
                    ++torn;
                }
                (void)options.Interval();
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        options.SetCacheDirectory(i % 2 ? a : b);
        options.SetInterval(i % 10 + 1);
    }
    RegistryStore store;
    store.SetString(kKey, "CacheDirectory", a);
    options.LoadAll(store);
    stop = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(options.CacheDirectory(), a);
}

TEST(OptionsTest, ProcessInstanceIsOneObject) {
    EXPECT_EQ(&Options::Instance(), &Options::Instance());
}

}  // namespace
}  // namespace quorvel
