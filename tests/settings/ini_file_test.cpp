#include "settings/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "support/temp_dir.h"

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;

TEST(IniFileTest, SectionsAndKeysIgnoreLetterCaseAndBlanks) {
    IniFile ini = IniFile::FromString(
        "[General]\n"
        "HelpFile = helpde.chm \n"
        "\t  Spaced Key\t=\tvalue with  inner  blanks\t\n"
        "[ Strings ]\n"
        "lngCopy=a=b=c\n");
    EXPECT_EQ(ini.GetString("general", "HELPFILE", "x"), "helpde.chm");
    EXPECT_EQ(ini.GetString("GENERAL", "spaced key", "x"), "value with  inner  blanks");
    EXPECT_EQ(ini.GetString("strings", "LNGCOPY", "x"), "a=b=c");
    EXPECT_EQ(ini.GetString("Strings", "missing", "fallback"), "fallback");
    EXPECT_EQ(ini.GetString("Missing", "HelpFile", "fallback"), "fallback");
    EXPECT_THAT(ini.Sections(), ElementsAre("General", "Strings"));
    EXPECT_THAT(ini.Keys("GENERAL"), ElementsAre("HelpFile", "Spaced Key"));
}

TEST(IniFileTest, OnePairOfEnclosingQuotesIsRemoved) {
    IniFile ini = IniFile::FromString(
        "[S]\n"
        "double=\"Copy: \"\n"
        "single='  both ends  '\n"
        "nested=\"\"inner\"\"\n"
        "mixed=\"mismatched'\n"
        "inside=Configuration file \"%s\" is loaded.\n"
        "lone=\"\n"
        "pair=\"\"\n"
        "openOnly=\"text\n"
        "blanksOutside=   \"  kept  \"   \n");
    EXPECT_EQ(ini.GetString("S", "double", ""), "Copy: ");
    EXPECT_EQ(ini.GetString("S", "single", ""), "  both ends  ");
    EXPECT_EQ(ini.GetString("S", "nested", ""), "\"inner\"");
    EXPECT_EQ(ini.GetString("S", "mixed", ""), "\"mismatched'");
    EXPECT_EQ(ini.GetString("S", "inside", ""), "Configuration file \"%s\" is loaded.");
    EXPECT_EQ(ini.GetString("S", "lone", ""), "\"");
    EXPECT_EQ(ini.GetString("S", "pair", "x"), "");
    EXPECT_EQ(ini.GetString("S", "openOnly", ""), "\"text");
    EXPECT_EQ(ini.GetString("S", "blanksOutside", ""), "  kept  ");
}

TEST(IniFileTest, PresentEmptyValueIsNotTheDefault) {
    IniFile ini = IniFile::FromString("[S]\nempty=\nblank=   \n");
    EXPECT_TRUE(ini.HasKey("s", "EMPTY"));
    EXPECT_EQ(ini.GetString("S", "empty", "default"), "");
    EXPECT_EQ(ini.GetString("S", "blank", "default"), "");
}

TEST(IniFileTest, ValuesAreCutAt2047Characters) {
    const std::string ascii(3000, 'a');
    const std::string umlauts = [] {
        std::string s;
        for (int i = 0; i < 2100; ++i) {
            s += "\xC3\xA4";  // one character, two bytes
        }
        return s;
    }();
    IniFile ini =
        IniFile::FromString("[S]\nascii=" + ascii + "\numlauts=" + umlauts + "\nquoted=\"" +
                            std::string(2047, 'q') + "\"\nexact=" + std::string(2047, 'e') + "\n");
    EXPECT_EQ(ini.GetString("S", "ascii", ""), std::string(2047, 'a'));
    EXPECT_EQ(ini.GetString("S", "umlauts", ""), umlauts.substr(0, 2 * 2047));
    EXPECT_EQ(ini.GetString("S", "quoted", ""), std::string(2047, 'q'))
        << "the quotes are removed before the cut";
    EXPECT_EQ(ini.GetString("S", "exact", ""), std::string(2047, 'e'));
}

TEST(IniFileTest, EncodingsAndLineEndings) {
    IniFile bom = IniFile::FromString("\xEF\xBB\xBF[General]\r\nName=Deutsch\r\nOther=x\r\n");
    EXPECT_EQ(bom.GetString("General", "Name", ""), "Deutsch");
    EXPECT_EQ(bom.GetString("General", "Other", ""), "x");

    // "[S]\r\nk=ä€\r\n" in UTF-16 LE with a byte-order mark.
    const std::string utf16 = "\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE4\0\xAC\x20\r\0\n\0"s;
    EXPECT_EQ(IniFile::FromString(utf16).GetString("S", "k", ""), "\xC3\xA4\xE2\x82\xAC");

    // A legacy single-byte file: "Löschen" with ö as one byte.
    IniFile legacy = IniFile::FromString("[S]\nk=L\xF6schen \x80\n");
    EXPECT_EQ(legacy.GetString("S", "k", ""), "L\xC3\xB6schen \xE2\x82\xAC");

    IniFile utf8 = IniFile::FromString("[S]\nk=L\xC3\xB6schen\n");
    EXPECT_EQ(utf8.GetString("S", "k", ""), "L\xC3\xB6schen");
}

TEST(IniFileTest, FirstOccurrenceWinsAndOddLinesAreSkipped) {
    IniFile ini = IniFile::FromString(
        "orphan=before any section\n"
        "[S]\n"
        "; comment=no\n"
        "k=first\n"
        "K=second\n"
        "no equals sign\n"
        "=no key\n"
        "[Other]\n"
        "k=other\n"
        "[s]\n"
        "k=third\n"
        "late=added\n"
        "[Broken\n"
        "lost=1\n");
    EXPECT_EQ(ini.GetString("S", "k", ""), "first");
    EXPECT_EQ(ini.GetString("S", "late", ""), "added");
    EXPECT_EQ(ini.GetString("Other", "k", ""), "other");
    EXPECT_FALSE(ini.HasKey("S", "; comment"));
    EXPECT_FALSE(ini.HasKey("S", "no equals sign"));
    EXPECT_THAT(ini.Keys("S"), ElementsAre("k", "", "late"));
    EXPECT_FALSE(ini.HasKey("Other", "lost"));
    EXPECT_THAT(ini.Sections(), ElementsAre("S", "Other"));
}

TEST(IniFileTest, FilesOnDisk) {
    test::TempDir dir;
    IniFile ini;
    EXPECT_FALSE(ini.Load(dir / "missing.lng"));
    EXPECT_EQ(ini.Path(), dir / "missing.lng");
    EXPECT_TRUE(ini.Sections().empty());
    EXPECT_EQ(ini.GetString("General", "HelpFile", "helpen.chm"), "helpen.chm");

    EXPECT_TRUE(ini.Load(dir.Write("x.lng", "[General]\r\nHelpFile=x.chm")));
    EXPECT_EQ(ini.GetString("General", "HelpFile", ""), "x.chm");
    // Loading another file forgets the first one's contents.
    EXPECT_FALSE(ini.Load(dir / "gone.lng"));
    EXPECT_EQ(ini.GetString("General", "HelpFile", "d"), "d");
}

TEST(IniFileTest, GarbageNeverBreaksTheReader) {
    std::mt19937 rng(777);
    const std::string alphabet = "[]=\"'; \t\r\nabcAB\xEF\xBB\xBF\xFF\xFE\xC3";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const std::size_t length = rng() % 300;
        for (std::size_t i = 0; i < length; ++i) {
            text += (rng() % 3 == 0) ? static_cast<char>(rng() % 256)
                                     : alphabet[rng() % alphabet.size()];
        }
        IniFile ini = IniFile::FromString(text);
        for (const auto& section : ini.Sections()) {
            ASSERT_TRUE(ini.HasSection(section));
            for (const auto& key : ini.Keys(section)) {
                ASSERT_TRUE(ini.HasKey(section, key));
                ASSERT_LE(ini.GetString(section, key, "").size(), 4 * IniFile::kMaxValueLength);
            }
        }
    }
}

}  // namespace
}  // namespace quorvel
