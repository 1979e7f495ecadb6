#include "settings/registry_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <random>

#include "support/temp_dir.h"

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;
namespace fs = std::filesystem;

constexpr const char* kKey = "\\Software\\Feldrane\\Quorvel";

const std::vector<std::string>& TrickyStrings() {
    static const std::vector<std::string> values = {
        "",
        "plain",
        "a=b=c",
        "\"quoted\"",
        "'single'",
        "  leading and trailing  ",
        "\t",
        "line one\nline two\r\nline three\r",
        "back\\slash\\",
        "\\x41 is not an escape",
        std::string("nul\0inside", 10),
        "\x01\x1f\x7f",
        "dword:00000019",
        "@",
        "[not a section]",
        "; not a comment",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x80\x9E%s\xE2\x80\x9C",
        "\xFF\xFE invalid utf-8 \x80",
    };
    return values;
}

TEST(RegistryStoreTest, TrickyStringsAndIntegersSurviveTheFile) {
    test::TempDir dir;
    RegistryStore store;
    const auto& strings = TrickyStrings();
    for (std::size_t i = 0; i < strings.size(); ++i) {
        ASSERT_TRUE(store.SetString(kKey, "s" + std::to_string(i), strings[i]));
        // The same texts as value names, under a key of their own.
        ASSERT_TRUE(store.SetInt("Names", strings[i], static_cast<std::int32_t>(i)));
    }
    const std::int32_t ints[] = {0,
                                 1,
                                 -1,
                                 25,
                                 std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()};
    for (std::int32_t v : ints) {
        store.SetInt(kKey, "i" + std::to_string(v), v);
    }

    const std::string path = dir / "registry.ini";
    ASSERT_TRUE(store.SaveTo(path));
    RegistryStore loaded;
    ASSERT_TRUE(loaded.Load(path));

    for (std::size_t i = 0; i < strings.size(); ++i) {
        EXPECT_THAT(loaded.GetString(kKey, "s" + std::to_string(i)), Optional(strings[i]))
            << "string " << i;
        EXPECT_THAT(loaded.GetInt("Names", strings[i]), Optional(static_cast<std::int32_t>(i)))
            << "name " << i;
    }
    for (std::int32_t v : ints) {
        EXPECT_THAT(loaded.GetInt(kKey, "i" + std::to_string(v)), Optional(v));
    }
    EXPECT_EQ(loaded.Serialize(), store.Serialize());
}

TEST(RegistryStoreTest, KeyNamesWithUnusualCharactersSurvive) {
    RegistryStore store;
    const std::string odd = "Positions\\ Main [1] 100% \n";
    store.SetInt(odd, "Left", 7);
    RegistryStore loaded = RegistryStore::FromString(store.Serialize());
    EXPECT_THAT(loaded.GetInt(odd, "Left"), Optional(7));
    EXPECT_THAT(loaded.SubKeys("Positions"), ElementsAre(" Main [1] 100% \n"));
}

TEST(RegistryStoreTest, ValueOfTheOtherTypeReadsAsAbsent) {
    RegistryStore store = RegistryStore::FromString(
        "[Software\\Feldrane\\Quorvel]\n"
        "Interval=\"25\"\n"
        "Language=dword:00000001\n");
    EXPECT_EQ(store.GetInt(kKey, "Interval"), std::nullopt);
    EXPECT_THAT(store.GetString(kKey, "Interval"), Optional(std::string("25")));
    EXPECT_EQ(store.GetString(kKey, "Language"), std::nullopt);
    EXPECT_THAT(store.GetInt(kKey, "Language"), Optional(1));
}

TEST(RegistryStoreTest, ReadsHandEditedFiles) {
    RegistryStore store = RegistryStore::FromString(
        "\xEF\xBB\xBF; comment\r\n"
        "Orphan=\"before any section\"\r\n"
        "[software\\feldrane\\quorvel]\r\n"
        "  Language = German.lng  \r\n"
        "Negative=dword:FFFFFFFF\r\n"
        "Short=dword:19\r\n"
        "TooLong=dword:123456789\r\n"
        "NotHex=dword:12g4\r\n"
        "Unterminated=\"abc\r\n"
        "BadEscape=\"a\\qb\"\r\n"
        "Trailing=\"abc\" junk\r\n"
        "# another comment\r\n"
        "Dup=dword:1\r\n"
        "DUP=dword:2\r\n"
        "@=\"default value\"\r\n"
        "no equals sign here\r\n"
        "[Broken\r\n"
        "Lost=dword:5\r\n");
    EXPECT_THAT(store.GetString(kKey, "Language"), Optional(std::string("German.lng")));
    EXPECT_THAT(store.GetInt(kKey, "negative"), Optional(-1));
    EXPECT_THAT(store.GetInt(kKey, "Short"), Optional(0x19));
    EXPECT_THAT(store.GetInt(kKey, "Dup"), Optional(2));
    EXPECT_THAT(store.GetString(kKey, ""), Optional(std::string("default value")));
    for (const char* absent :
         {"TooLong", "NotHex", "Unterminated", "BadEscape", "Trailing", "Orphan", "Lost"}) {
        EXPECT_FALSE(store.GetValue(kKey, absent).has_value()) << absent;
    }
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("Language", "Negative", "Short", "Dup", ""));
    EXPECT_FALSE(store.KeyExists("Broken"));
}

TEST(RegistryStoreTest, KeysAreTreeShapedAndCaseInsensitive) {
    RegistryStore store;
    EXPECT_FALSE(store.KeyExists(kKey));
    EXPECT_FALSE(store.OpenKey(kKey).has_value());
    EXPECT_FALSE(store.SetInt("\\\\", "x", 1)) << "an empty path names no key";

    store.SetInt("Software\\Feldrane\\Quorvel\\Positions\\Main", "Left", 10);
    store.SetInt("SOFTWARE\\feldrane\\QUORVEL\\positions\\Options", "Left", 20);
    store.CreateKey("\\Software\\Feldrane\\Quorvel\\Positions\\Empty\\");
    EXPECT_TRUE(store.KeyExists("software\\FELDRANE"));
    EXPECT_TRUE(store.KeyExists("Software\\Feldrane\\Quorvel\\Positions\\Empty"));
    EXPECT_FALSE(store.KeyExists("Software\\Feld"));
    EXPECT_THAT(store.SubKeys("\\Software\\Feldrane\\Quorvel\\Positions"),
                ElementsAre("Empty", "Main", "Options"));
    EXPECT_THAT(store.GetInt("software\\feldrane\\quorvel\\positions\\main", "LEFT"), Optional(10));

    // An empty key survives the file.
    RegistryStore loaded = RegistryStore::FromString(store.Serialize());
    EXPECT_TRUE(loaded.KeyExists("Software\\Feldrane\\Quorvel\\Positions\\Empty"));

    EXPECT_TRUE(store.DeleteKey("Software\\Feldrane\\Quorvel\\Positions"));
    EXPECT_FALSE(store.KeyExists("Software\\Feldrane\\Quorvel\\Positions\\Main"));
    EXPECT_FALSE(store.DeleteKey("Software\\Feldrane\\Quorvel\\Positions"));
}

TEST(RegistryStoreTest, KeysOpenedForReadingDoNotWrite) {
    RegistryStore store;
    EXPECT_FALSE(store.OpenKey(kKey, false).has_value());
    EXPECT_TRUE(store.Empty()) << "opening without create must not create";

    auto writable = store.OpenKey(kKey, true);
    ASSERT_TRUE(writable.has_value());
    EXPECT_TRUE(writable->SetBool("Flag", true));
    EXPECT_THAT(writable->GetBool("Flag"), Optional(true));

    const RegistryStore& constStore = store;
    auto readOnly = constStore.OpenKey(kKey);
    ASSERT_TRUE(readOnly.has_value());
    EXPECT_FALSE(readOnly->SetInt("Other", 1));
    EXPECT_FALSE(readOnly->DeleteValue("Flag"));
    EXPECT_FALSE(store.GetValue(kKey, "Other").has_value());
    EXPECT_TRUE(readOnly->HasValue("flag"));

    // A name set in another letter case replaces the value, keeping the name.
    store.SetString(kKey, "FLAG", "text");
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("Flag"));
    EXPECT_EQ(store.GetInt(kKey, "Flag"), std::nullopt);
}

TEST(RegistryStoreTest, TruncatedFileKeepsEveryCompleteLine) {
    RegistryStore store;
    for (int i = 0; i < 8; ++i) {
        store.SetInt(kKey, "Int" + std::to_string(i), i * 1000 - 3);
        store.SetString(std::string(kKey) + "\\Sub" + std::to_string(i % 3),
                        "Str" + std::to_string(i), "value = \"" + std::to_string(i) + "\"\n");
    }
    const std::string text = store.Serialize();
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        const std::string prefix = text.substr(0, cut);
        RegistryStore partial = RegistryStore::FromString(prefix);
        if (cut == 0 || text[cut - 1] == '\n') {
            // Cut at a line boundary: whatever is there must be exactly right.
            for (const std::string& sub :
                 {std::string(kKey), std::string(kKey) + "\\Sub0", std::string(kKey) + "\\Sub1",
                  std::string(kKey) + "\\Sub2"}) {
                for (const auto& name : partial.ValueNames(sub)) {
                    EXPECT_EQ(partial.GetValue(sub, name), store.GetValue(sub, name))
                        << "cut " << cut << " " << name;
                }
            }
        }
    }
    EXPECT_EQ(RegistryStore::FromString(text).Serialize(), text);
}

TEST(RegistryStoreTest, GarbageParsesToAStoreThatRoundTrips) {
    std::mt19937 rng(12345);
    const std::string alphabet = "[]=\"\\@;#%dword:0123456789abcdefxXnrt \t\r\n\x01\xC3\xBC";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const std::size_t length = rng() % 200;
        for (std::size_t i = 0; i < length; ++i) {
            text += (rng() % 4 == 0) ? static_cast<char>(rng() % 256)
                                     : alphabet[rng() % alphabet.size()];
        }
        RegistryStore parsed = RegistryStore::FromString(text);
        const std::string once = parsed.Serialize();
        ASSERT_EQ(RegistryStore::FromString(once).Serialize(), once) << "input: " << text;
    }
}

class RegistryFileTest : public test::TempDirTest {};

TEST_F(RegistryFileTest, MissingFileIsAnEmptyStore) {
    RegistryStore store;
    store.SetInt(kKey, "Stale", 1);
    EXPECT_TRUE(store.Load(m_dir / "missing.ini"));
    EXPECT_TRUE(store.Empty());
    EXPECT_EQ(store.Path(), m_dir / "missing.ini");
}

TEST_F(RegistryFileTest, SaveCreatesAPrivateFileInAPrivateDirectory) {
    const std::string path = m_dir / "config/quorvel/registry.ini";
    RegistryStore store;
    store.SetString(kKey, "Language", "German.lng");
    ASSERT_TRUE(store.SaveTo(path));

    if (test::OnWindows()) {
        return;  // no modes there
    }
    const auto fileMode = fs::status(path).permissions() & fs::perms::all;
    EXPECT_EQ(fileMode, fs::perms::owner_read | fs::perms::owner_write);
    const auto dirMode = fs::status(m_dir / "config/quorvel").permissions() & fs::perms::all;
    EXPECT_EQ(dirMode, fs::perms::owner_all);

    // Only the file itself is left behind, no temporary file.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir / "config/quorvel")) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(names, ElementsAre("registry.ini"));

    RegistryStore loaded;
    ASSERT_TRUE(loaded.Load(path));
    EXPECT_THAT(loaded.GetString(kKey, "Language"), Optional(std::string("German.lng")));
    // Save goes back to where the store came from.
    loaded.SetInt(kKey, "Interval", 3);
    ASSERT_TRUE(loaded.Save());
    RegistryStore again;
    again.Load(path);
    EXPECT_THAT(again.GetInt(kKey, "Interval"), Optional(3));
}

TEST_F(RegistryFileTest, FailedSaveLeavesTheOldFile) {
    const std::string path = m_dir.Write("registry.ini", "[A]\nx=dword:00000001\n");
    // A directory in the way of the temporary file's rename target makes
    // the save fail at the end; a blocked parent makes it fail at the start.
    RegistryStore store;
    store.SetInt("A", "x", 2);
    EXPECT_FALSE(store.SaveTo(path + "/inside.ini"));
    fs::create_directory(m_dir / "occupied.ini");
    m_dir.Write("occupied.ini/keep", "k");
    EXPECT_FALSE(store.SaveTo(m_dir / "occupied.ini"));
    EXPECT_TRUE(fs::is_directory(m_dir / "occupied.ini"));
    EXPECT_EQ(test::ReadFile(path), "[A]\nx=dword:00000001\n");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("registry.ini", "occupied.ini"))
        << "no temporary file is left behind";
}

TEST_F(RegistryFileTest, ModifyKeepsOtherValuesAndRefusesUnreadableFiles) {
    const std::string path = m_dir / "registry.ini";
    RegistryStore first;
    first.SetInt("Software\\Feldrane\\Quorvel\\Positions\\Main", "Left", 40);
    ASSERT_TRUE(first.SaveTo(path));

    ASSERT_TRUE(
        RegistryStore::Modify(path, [](RegistryStore& s) { s.SetInt(kKey, "Interval", 4); }));
    RegistryStore loaded;
    loaded.Load(path);
    EXPECT_THAT(loaded.GetInt("Software\\Feldrane\\Quorvel\\Positions\\Main", "Left"),
                Optional(40));
    EXPECT_THAT(loaded.GetInt(kKey, "Interval"), Optional(4));

    // Something that exists but cannot be read is not replaced by an empty store.
    fs::create_directory(m_dir / "dir.ini");
    RegistryStore store;
    EXPECT_FALSE(store.Load(m_dir / "dir.ini"));
    bool called = false;
    EXPECT_FALSE(RegistryStore::Modify(m_dir / "dir.ini", [&](RegistryStore&) { called = true; }));
    EXPECT_FALSE(called);
    EXPECT_TRUE(fs::is_directory(m_dir / "dir.ini"));
}

}  // namespace
}  // namespace quorvel
