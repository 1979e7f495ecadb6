#pragma once

#include <string>
#include <string_view>

#include "settings/ini_file.h"

namespace quorvel {

class AdvStringList;

/// The language object: one language file from the "Lang" directory, the
/// names it declares in its "General" section, and the translation of the
/// string table from its "Strings" section. Used from one thread (the main
/// one); the string table it translates is the part workers read.
class Lang {
public:
    static constexpr std::string_view kDefaultHelpFile = "helpen.chm";
    static constexpr std::string_view kDefaultNationalName = "English";
    static constexpr std::string_view kDefaultEnglishName = "English";
    static constexpr std::string_view kDefaultPopupFile = "popupen.txt";

    /// The built-in names and no file yet; the language directory is the
    /// shipped "Lang" directory.
    Lang();
    /// The built-in names, then LoadFile(fileName) from the shipped "Lang"
    /// directory.
    explicit Lang(const std::string& fileName);
    /// The same with another language directory (empty: the shipped one).
    Lang(const std::string& fileName, std::string directory);

    /// Opens the named file of the language directory and reads the four
    /// names from "General", each defaulting to its current value, so names
    /// the file lacks stay those of the previous language. A missing or
    /// unreadable file reads as empty. A name that is not a plain file name
    /// (empty, ".", "..", or holding "/", "\" or a NUL) is treated as a
    /// missing file rather than followed out of the directory. When no file
    /// has exactly the name, one that differs only in letter case is used.
    void LoadFile(const std::string& name);

    /// Sets each entry of table to the value of its key in section, the
    /// entry's current text being the default. The whole table is replaced at
    /// once.
    void TranslateStrings(AdvStringList& table, std::string_view section = "Strings") const;

    const std::string& HelpFile() const { return m_helpFile; }
    const std::string& NationalName() const { return m_nationalName; }
    const std::string& EnglishName() const { return m_englishName; }
    const std::string& PopupFile() const { return m_popupFile; }

    /// The current language file (for reading window sections).
    const IniFile& File() const { return m_file; }
    /// Full path of the current language file; empty before the first
    /// LoadFile and after a rejected name.
    const std::string& FilePath() const { return m_filePath; }
    /// The language directory, with a trailing separator.
    const std::string& Directory() const { return m_directory; }

    /// True for a plain file name that stays inside its directory.
    static bool IsPlainFileName(std::string_view name);
    /// The path of the named file in directory (with trailing separator):
    /// exactly as named when it exists, else the one entry that matches
    /// without regard to letter case, else the exact path. Empty when the
    /// name is not plain.
    static std::string ResolveFile(const std::string& directory, const std::string& name);

private:
    std::string m_directory;
    IniFile m_file;
    std::string m_filePath;
    std::string m_helpFile{kDefaultHelpFile};
    std::string m_nationalName{kDefaultNationalName};
    std::string m_englishName{kDefaultEnglishName};
    std::string m_popupFile{kDefaultPopupFile};
};

}  // namespace quorvel
