#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

/// A read-only profile (INI) file: "[section]" lines, each followed by
/// "key=value" lines. Sections and keys match without regard to letter case;
/// a value is the text after the first "=", with blanks around it removed and
/// one pair of enclosing quotes (double or single) removed; at most
/// kMaxValueLength characters of a value are kept. Lines starting with ";" are
/// comments. When a section or key appears more than once, the first
/// occurrence wins. The text may be UTF-8 with or without a byte-order mark,
/// UTF-16 with a byte-order mark, or a legacy single-byte file (read as
/// Windows-1252); the answers are always UTF-8. Line endings may be CR LF or
/// LF. Any input is accepted: what does not parse is skipped.
class IniFile {
public:
    static constexpr std::size_t kMaxValueLength = 2047;

    IniFile() = default;

    /// Reads the file at path; a missing or unreadable file reads as empty
    /// (Path() still answers the path). Answers true when the file was read.
    bool Load(const std::string& path);
    /// Replaces the contents by those parsed from text.
    void Parse(std::string_view text);
    static IniFile FromString(std::string_view text);

    /// The value of key in section, or defaultValue when either is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;
    bool HasSection(std::string_view section) const;
    bool HasKey(std::string_view section, std::string_view key) const;
    /// Section names as written, in file order, each once.
    std::vector<std::string> Sections() const;
    /// Key names of a section as written, in file order, each once.
    std::vector<std::string> Keys(std::string_view section) const;

    const std::string& Path() const { return m_path; }
    void Clear();

private:
    struct Section {
        std::string name;
        std::vector<std::string> keyOrder;
        std::unordered_map<std::string, std::string> values;  // lower-case key -> value
    };
    const Section* Find(std::string_view section) const;

    std::string m_path;
    std::vector<Section> m_sections;
    std::unordered_map<std::string, std::size_t> m_index;  // lower-case name -> m_sections
};

/// Converts a file's bytes to UTF-8: removes a UTF-8 byte-order mark,
/// converts UTF-16 (LE or BE with a byte-order mark), and reads text that is
/// not valid UTF-8 as Windows-1252.
std::string DecodeTextFile(std::string_view bytes);

}  // namespace quorvel
