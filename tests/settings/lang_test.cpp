#include "settings/lang.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/paths.h"
#include "settings/adv_string_list.h"
#include "settings/ini_file.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using namespace std::string_literals;

const std::string kShippedLang = std::string(QUORVEL_SOURCE_DIR) + "/resources/Lang/";

class LangTest : public test::TempDirTest {
protected:
    std::string LangDir() const { return (m_dir.Path() / "Lang").string() + "/"; }
    void WriteLang(const std::string& name, const std::string& content) {
        m_dir.Write("Lang/" + name, content);
    }
};

TEST_F(LangTest, WithoutAFileEverythingIsBuiltIn) {
    Lang lang("English.lng", LangDir());
    EXPECT_EQ(lang.HelpFile(), "helpen.chm");
    EXPECT_EQ(lang.NationalName(), "English");
    EXPECT_EQ(lang.EnglishName(), "English");
    EXPECT_EQ(lang.PopupFile(), "popupen.txt");
    EXPECT_EQ(lang.FilePath(), LangDir() + "English.lng");

    AdvStringList table;
    lang.TranslateStrings(table, "Strings");
    for (int i = 0; i < table.Count(); ++i) {
        EXPECT_EQ(table.Text(i), AdvStringList::BuiltInText(i));
    }
}

TEST_F(LangTest, MissingKeysKeepThePreviousLanguage) {
    WriteLang("First.lng",
              "[General]\nHelpFile=help1.chm\nNationalLangName=Erste\nEnglishLangName=First\n"
              "PopupFile=popup1.txt\n"
              "[Strings]\nlngStopped=Gestoppt\nlngModified=Geaendert\nlngActive=Aktiv\n");
    WriteLang("Second.lng",
              "[General]\nNationalLangName=Zweite\n"
              "[strings]\nLNGMODIFIED=Modifie\nlngActive=\n");
    AdvStringList table;
    Lang lang("First.lng", LangDir());
    lang.TranslateStrings(table);
    EXPECT_EQ(table.Text(lngStopped), "Gestoppt");
    EXPECT_EQ(table.Text(lngCantLoad), "Can not load configuration file");

    lang.LoadFile("Second.lng");
    lang.TranslateStrings(table);
    EXPECT_EQ(table.Text(lngStopped), "Gestoppt") << "the first language's text stays";
    EXPECT_EQ(table.Text(lngModified), "Modifie");
    EXPECT_EQ(table.Text(lngActive), "") << "an empty value sets an empty text";
    EXPECT_EQ(lang.NationalName(), "Zweite");
    EXPECT_EQ(lang.EnglishName(), "First");
    EXPECT_EQ(lang.HelpFile(), "help1.chm");
    EXPECT_EQ(lang.PopupFile(), "popup1.txt");

    // Another section of the same file is a separate table of texts.
    WriteLang("Third.lng", "[Other]\nlngStopped=Elsewhere\n");
    lang.LoadFile("Third.lng");
    lang.TranslateStrings(table, "Other");
    EXPECT_EQ(table.Text(lngStopped), "Elsewhere");
}

TEST_F(LangTest, NamesThatLeaveTheDirectoryAreNotFollowed) {
    m_dir.Write("outside.lng", "[General]\nNationalLangName=Outside\n[Strings]\nlngStopped=Out\n");
    WriteLang("sub/inner.lng", "[General]\nNationalLangName=Inner\n");
    WriteLang("Good.lng", "[General]\nNationalLangName=Good\n[Strings]\nlngStopped=Good\n");
    Lang lang("Good.lng", LangDir());
    for (const std::string& name : std::vector<std::string>{
             "../outside.lng", "..", ".", "", "sub/inner.lng", "sub\\inner.lng",
             m_dir / "outside.lng", std::string("Good.lng\0x", 10)}) {
        lang.LoadFile(name);
        EXPECT_EQ(lang.FilePath(), "") << name;
        EXPECT_EQ(lang.NationalName(), "Good") << name;
        AdvStringList table;
        lang.TranslateStrings(table);
        EXPECT_EQ(table.Text(lngStopped), "Stopped") << name;
    }
}

TEST_F(LangTest, FileNameLetterCaseIsForgiven) {
    WriteLang("German.lng", "[General]\nNationalLangName=Deutsch\n");
    Lang lang("german.LNG", LangDir());
    EXPECT_EQ(lang.NationalName(), "Deutsch");
    if (test::OnWindows()) {
        return;  // names that differ in case are one file there
    }
    EXPECT_EQ(lang.FilePath(), LangDir() + "German.lng");

    // With two candidates nothing is guessed.
    WriteLang("Twin.lng", "[General]\nNationalLangName=A\n");
    WriteLang("TWIN.lng", "[General]\nNationalLangName=B\n");
    Lang twin("twin.lng", LangDir());
    EXPECT_EQ(twin.NationalName(), "English");
}

TEST_F(LangTest, GarbageLanguageFileKeepsDefaults) {
    WriteLang("Bad.lng", "\0\xff\xfe[Strings\n=\n\n[[]]]\nlngStopped"s);
    Lang lang("Bad.lng", LangDir());
    AdvStringList table;
    lang.TranslateStrings(table);
    EXPECT_EQ(table.Text(lngStopped), "Stopped");
    EXPECT_EQ(lang.HelpFile(), "helpen.chm");
}

// The shipped files: every built-in entry and nothing else, translated in full.
TEST(ShippedLanguagesTest, EnglishFileHoldsExactlyTheBuiltInTexts) {
    IniFile file;
    ASSERT_TRUE(file.Load(kShippedLang + "English.lng"));
    EXPECT_EQ(file.Keys("Strings").size(), static_cast<std::size_t>(lngCount));
    Lang lang("English.lng", kShippedLang);
    EXPECT_EQ(lang.HelpFile(), "helpen.chm");
    EXPECT_EQ(lang.NationalName(), "English");
    EXPECT_EQ(lang.EnglishName(), "English");
    EXPECT_EQ(lang.PopupFile(), "popupen.txt");

    AdvStringList table;
    table.SetTexts(std::vector<std::string>(lngCount, "stale"));
    lang.TranslateStrings(table);
    for (int i = 0; i < table.Count(); ++i) {
        EXPECT_EQ(table.Text(i), AdvStringList::BuiltInText(i)) << table.Key(i);
    }
}

TEST(ShippedLanguagesTest, GermanFileTranslatesEveryEntry) {
    IniFile file;
    ASSERT_TRUE(file.Load(kShippedLang + "German.lng"));
    std::set<std::string> known;
    for (int i = 0; i < AdvStringList::kCount; ++i) {
        known.insert(AdvStringList::Key(i));
    }
    for (const auto& key : file.Keys("Strings")) {
        EXPECT_TRUE(known.count(key)) << "unknown key " << key;
    }

    Lang lang("English.lng", kShippedLang);
    AdvStringList table;
    lang.TranslateStrings(table);
    lang.LoadFile("German.lng");
    EXPECT_EQ(lang.HelpFile(), "helpde.chm");
    EXPECT_EQ(lang.NationalName(), "Deutsch");
    EXPECT_EQ(lang.EnglishName(), "German");
    EXPECT_EQ(lang.PopupFile(), "popupde.txt");
    lang.TranslateStrings(table);

    for (int i = 0; i < table.Count(); ++i) {
        const std::string german = table.Text(i);
        const std::string english = AdvStringList::BuiltInText(i);
        SCOPED_TRACE(table.Key(i));
        EXPECT_FALSE(german.empty());
        EXPECT_NE(german, english);
        EXPECT_EQ(german.back() == ' ', english.back() == ' ') << "trailing blank kept";
        EXPECT_EQ(std::count(german.begin(), german.end(), '&'),
                  std::count(english.begin(), english.end(), '&'))
            << "one accelerator where the English text has one";
        EXPECT_EQ(std::count(german.begin(), german.end(), '%'),
                  std::count(english.begin(), english.end(), '%'));
    }
    EXPECT_NE(table.Text(lngLoaded).find("%s"), std::string::npos);
    EXPECT_EQ(table.Text(lngStopped), "Angehalten");
    EXPECT_EQ(table.Text(lngDelete), "L\xC3\xB6schen: ");

    // Back to English: every text returns, since the English file has all keys.
    lang.LoadFile("English.lng");
    lang.TranslateStrings(table);
    EXPECT_EQ(table.Text(lngStopped), "Stopped");
    EXPECT_EQ(lang.NationalName(), "English");
}

TEST(ShippedLanguagesTest, EveryWindowTextHasBothLanguagesSoSwitchingBackRestoresIt) {
    IniFile english, german;
    ASSERT_TRUE(english.Load(kShippedLang + "English.lng"));
    ASSERT_TRUE(german.Load(kShippedLang + "German.lng"));
    // A window text the English file lacked would stay German after
    // switching back, since every value defaults to the current text.
    for (const auto& section : german.Sections()) {
        if (section.rfind("Form.", 0) != 0) {
            continue;
        }
        for (const auto& key : german.Keys(section)) {
            EXPECT_TRUE(english.HasKey(section, key)) << section << " " << key;
        }
        for (const auto& key : english.Keys(section)) {
            EXPECT_TRUE(german.HasKey(section, key)) << section << " " << key;
        }
    }
}

TEST(ShippedLanguagesTest, FoundBesideTheProgram) {
    Lang lang("German.lng");
    EXPECT_EQ(lang.Directory(),
              platform::ExecutableDirectory() + "Lang" + platform::kPathSeparator);
    EXPECT_EQ(lang.NationalName(), "Deutsch");
    Lang none;
    EXPECT_EQ(none.FilePath(), "");
    EXPECT_EQ(none.NationalName(), "English");
}

}  // namespace
}  // namespace quorvel
