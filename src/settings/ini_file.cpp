#include "settings/ini_file.h"

#include <array>
#include <cstdint>

#include "core/text_util.h"
#include "platform/file_system.h"

namespace quorvel {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when invalid.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        return 1;
    }
    std::size_t len = 0;
    std::uint32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = Utf8SequenceLength(text, i);
        if (len == 0) {
            return false;
        }
        i += len;
    }
    return true;
}

// Code points of Windows-1252 for the bytes 0x80 to 0x9F (0 = unassigned,
// kept as the C1 control of the same number).
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string FromCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        std::uint32_t cp = b;
        if (b >= 0x80 && b <= 0x9F && kCp1252High[b - 0x80] != 0) {
            cp = kCp1252High[b - 0x80];
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (static_cast<std::uint32_t>(a) << 8) | b
                         : (static_cast<std::uint32_t>(b) << 8) | a;
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// The characters trimmed around names and values.
constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
    return TrimChars(s, kBlanks);
}

// The value as the profile reader answers it: one pair of enclosing quotes
// removed, then cut to the maximum number of characters.
std::string CookValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    std::size_t chars = 0;
    std::size_t i = 0;
    while (i < v.size() && chars < IniFile::kMaxValueLength) {
        const std::size_t len = Utf8SequenceLength(v, i);
        i += len == 0 ? 1 : len;
        ++chars;
    }
    return std::string(v.substr(0, i));
}

}  // namespace

std::string DecodeTextFile(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        return FromUtf16(bytes.substr(2), false);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
        return FromUtf16(bytes.substr(2), true);
    }
    if (IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return FromCp1252(bytes);
}

bool IniFile::Load(const std::string& path) {
    Clear();
    m_path = path;
    auto bytes = platform::ReadWholeFile(path);
    if (!bytes) {
        return false;
    }
    const std::string keepPath = m_path;
    Parse(*bytes);
    m_path = keepPath;
    return true;
}

IniFile IniFile::FromString(std::string_view text) {
    IniFile ini;
    ini.Parse(text);
    return ini;
}

void IniFile::Clear() {
    m_path.clear();
    m_sections.clear();
    m_index.clear();
}

void IniFile::Parse(std::string_view input) {
    m_sections.clear();
    m_index.clear();
    const std::string text = DecodeTextFile(input);
    Section* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos) {
                current = nullptr;  // a broken header: its keys belong nowhere
                continue;
            }
            const std::string name(Trim(line.substr(1, close - 1)));
            const std::string lower = ToLowerAscii(name);
            auto it = m_index.find(lower);
            if (it == m_index.end()) {
                m_sections.push_back(Section{name, {}, {}});
                it = m_index.emplace(lower, m_sections.size() - 1).first;
            }
            current = &m_sections[it->second];
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos) {
            continue;
        }
        const std::string key(Trim(line.substr(0, eq)));
        if (current->values.emplace(ToLowerAscii(key), CookValue(line.substr(eq + 1))).second) {
            current->keyOrder.push_back(key);
        }
    }
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
    auto it = m_index.find(ToLowerAscii(Trim(section)));
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
    if (const Section* s = Find(section)) {
        auto it = s->values.find(ToLowerAscii(Trim(key)));
        if (it != s->values.end()) {
            return it->second;
        }
    }
    return std::string(defaultValue);
}

bool IniFile::HasSection(std::string_view section) const {
    return Find(section) != nullptr;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    const Section* s = Find(section);
    return s != nullptr && s->values.count(ToLowerAscii(Trim(key))) != 0;
}

std::vector<std::string> IniFile::Sections() const {
    std::vector<std::string> names;
    names.reserve(m_sections.size());
    for (const auto& s : m_sections) {
        names.push_back(s.name);
    }
    return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    const Section* s = Find(section);
    return s == nullptr ? std::vector<std::string>{} : s->keyOrder;
}

}  // namespace quorvel
