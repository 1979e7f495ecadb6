#include "actions/macro_expander.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "actions/date_format.h"
#include "core/text_util.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace quorvel {

namespace {

// Macros nested in parameters deeper than this expand to nothing (the text
// they span is still skipped as a whole), which bounds the recursion.
constexpr int kMaxNesting = 64;

// Longest environment value that "Environment" inserts.
constexpr std::size_t kMaxEnvironmentValue = 8192;

// Formats turn each letter into a whole part of a name or a date, so macros
// nested in each other's formats grow their text geometrically. A parameter
// keeps at most this many bytes, and a whole expansion at most kMaxResult;
// what goes beyond is cut off.
constexpr std::size_t kMaxParameter = std::size_t{1} << 20;
constexpr std::size_t kMaxResult = std::size_t{256} << 20;

enum class Macro : std::uint8_t {
    File,
    Name,
    Path,
    Time,
    Size,
    SysDate,
    Added,
    Changed,
    Deleted,
    Percent,
    OpenSection,
    Chr,
    RunTime,
    Environment,
    Include,
    Substring,
};

struct MacroName {
    std::string_view name;
    Macro macro;
};

// In the order the names are tried: the first name that begins the text wins.
constexpr std::array<MacroName, 16> kMacros{{
    {"file", Macro::File},
    {"name", Macro::Name},
    {"path", Macro::Path},
    {"time", Macro::Time},
    {"size", Macro::Size},
    {"sysdate", Macro::SysDate},
    {"added", Macro::Added},
    {"changed", Macro::Changed},
    {"deleted", Macro::Deleted},
    {"%", Macro::Percent},
    {"(", Macro::OpenSection},
    {"chr", Macro::Chr},
    {"runtime", Macro::RunTime},
    {"environment", Macro::Environment},
    {"include", Macro::Include},
    {"substring", Macro::Substring},
}};

const MacroName* MatchMacro(std::string_view text) {
    if (text.empty()) {
        return nullptr;
    }
    const char first = ToLowerAscii(text.front());
    for (const MacroName& m : kMacros) {
        if (m.name.front() != first || text.size() < m.name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 1; i < m.name.size(); ++i) {
            if (ToLowerAscii(text[i]) != m.name[i]) {
                same = false;
                break;
            }
        }
        if (same) {
            return &m;
        }
    }
    return nullptr;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The "File" format splits at either separator; "Name" and "Path" split at
// the platform's own only (elsewhere "\\" is an ordinary character of a name).
std::size_t LastSeparator(std::string_view name) {
    return name.find_last_of("\\/");
}

std::size_t LastPlatformSeparator(std::string_view name) {
    return name.rfind(platform::kPathSeparator);
}

// Length in bytes of the UTF-8 character that starts at text[pos] (a stray
// continuation byte counts as a character of its own).
std::size_t CharLength(std::string_view text, std::size_t pos) {
    std::size_t end = pos + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        ++end;
    }
    return end - pos;
}

// Byte offset of character number index (0-based) of text, or its size.
std::size_t CharOffset(std::string_view text, long long index) {
    std::size_t pos = 0;
    while (index > 0 && pos < text.size()) {
        pos += CharLength(text, pos);
        --index;
    }
    return pos;
}

// The parts of a name that the "File" format offers.
struct NameParts {
    std::string_view drive;      // "C:" or empty
    std::string_view directory;  // without its final separator
    std::string_view base;
    std::string_view extension;  // without the dot
};

NameParts SplitName(std::string_view name) {
    NameParts parts;
    // A drive is a letter and a colon; POSIX paths never have one.
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
        parts.drive = name.substr(0, 2);
        name.remove_prefix(2);
    }
    const std::size_t sep = LastSeparator(name);
    std::string_view file = name;
    if (sep != std::string_view::npos) {
        parts.directory = name.substr(0, sep);
        file = name.substr(sep + 1);
    }
    const std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos) {
        parts.base = file;
    } else {
        parts.base = file.substr(0, dot);
        parts.extension = file.substr(dot + 1);
    }
    return parts;
}

void AppendFileFormat(std::string& out, std::string_view name, std::string_view format,
                      std::size_t limit) {
    const NameParts parts = SplitName(name);
    const std::size_t start = out.size();
    bool slashes = false;
    std::size_t i = 0;
    while (i < format.size() && out.size() - start < limit) {
        const char c = format[i++];
        switch (ToLowerAscii(c)) {
            case 'd':
                out += parts.drive;
                break;
            case 'p':
                out += parts.directory;
                break;
            case 'n':
                out += parts.base;
                break;
            case 'e':
                out += parts.extension;
                break;
            case 'r':
                slashes = true;
                break;
            case 's': {
                if (i >= format.size() || format[i] != ':') {
                    break;
                }
                ++i;
                long long level = 0;
                while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                    if (level < 1000000) {
                        level = level * 10 + (format[i] - '0');
                    }
                    ++i;
                }
                if (level < 1) {
                    break;
                }
                // From the level-th separator of the directory on.
                std::size_t pos = 0;
                long long seen = 0;
                bool found = false;
                for (; pos < parts.directory.size(); ++pos) {
                    if (IsSeparator(parts.directory[pos]) && ++seen == level) {
                        found = true;
                        break;
                    }
                }
                if (found) {
                    out += parts.directory.substr(pos);
                }
                break;
            }
            case '\'':
            case '"': {
                const std::size_t end = format.find(c, i);
                if (end == std::string_view::npos) {
                    out += c;
                } else {
                    out += format.substr(i, end - i);
                    i = end + 1;
                }
                break;
            }
            default:
                out += c;
                break;
        }
    }
    if (slashes) {
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '\\', '/');
    }
}

void AppendSize(std::string& out, std::int64_t size, std::string_view format) {
    std::int64_t value = size;
    std::string_view separator;
    if (!format.empty()) {
        std::size_t sepPos = 0;
        switch (ToLowerAscii(format.front())) {
            case 'b':
                sepPos = 1;
                break;
            case 'k':
                value /= 1024;
                sepPos = 1;
                break;
            case 'm':
                value /= 1048576;
                sepPos = 1;
                break;
            case 'g':
                value /= 1073741824;
                sepPos = 1;
                break;
            default:
                break;
        }
        if (sepPos < format.size()) {
            separator = format.substr(sepPos, CharLength(format, sepPos));
        }
    }
    char digits[24];
    std::size_t n = 0;
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        out += '-';
    }
    while (n > 0) {
        out += digits[--n];
        if (!separator.empty() && n > 0 && n % 3 == 0) {
            out += separator;
        }
    }
}

void AppendSubstring(std::string& out, std::string_view parameter) {
    const std::size_t comma1 = parameter.find(',');
    if (comma1 == std::string_view::npos) {
        return;
    }
    const std::size_t comma2 = parameter.find(',', comma1 + 1);
    if (comma2 == std::string_view::npos) {
        return;
    }
    long long start = ReadCInteger(parameter.substr(0, comma1));
    long long length = ReadCInteger(parameter.substr(comma1 + 1, comma2 - comma1 - 1));
    std::string_view text = parameter.substr(comma2 + 1);
    text = text.substr(0, text.find(','));
    start = std::max(start, 1LL);
    length = std::max(length, 0LL);
    const std::size_t from = CharOffset(text, start - 1);
    const std::string_view rest = text.substr(from);
    out += rest.substr(0, CharOffset(rest, length));
}

void AppendInclude(std::string& out, std::string_view path, std::size_t limit) {
    if (path.empty()) {
        return;
    }
    const std::string file(path);
    // Devices and pipes could block or never end (/dev/zero, a FIFO).
    if (auto info = platform::Stat(file); !info || !info->isRegular) {
        return;
    }
    auto data = platform::ReadWholeFile(file, limit);
    if (!data) {
        return;
    }
    // Text mode: a CR LF line end becomes a single line feed; a UTF-8 byte
    // order mark is no text; every other byte stays as it is.
    std::string_view text = *data;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    out.reserve(out.size() + text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t crlf = text.find("\r\n", i);
        if (crlf == std::string_view::npos) {
            crlf = text.size();
        }
        out.append(text.substr(i, crlf - i));
        if (crlf == text.size()) {
            break;
        }
        out += '\n';
        i = crlf + 2;
    }
}

void AppendEnvironment(std::string& out, std::string_view variable) {
    if (variable.empty() || variable.find('=') != std::string_view::npos) {
        return;
    }
    auto value = platform::GetEnvironment(std::string(variable));
    if (value && value->size() <= kMaxEnvironmentValue) {
        out += *value;
    }
}

void AppendChr(std::string& out, std::string_view parameter) {
    std::size_t i = 0;
    while (i < parameter.size() && (parameter[i] == ' ' || parameter[i] == '\t')) {
        ++i;
    }
    if (i < parameter.size() && (parameter[i] == '+' || parameter[i] == '-')) {
        ++i;
    }
    if (i >= parameter.size() || parameter[i] < '0' || parameter[i] > '9') {
        return;
    }
    const auto code =
        static_cast<unsigned char>(static_cast<std::uint64_t>(ReadCInteger(parameter)) & 0xFFu);
    if (code != 0) {
        out += static_cast<char>(code);
    }
}

// Scratch space for the parameters of one expansion, one buffer per nesting
// level, reused from record to record so a list expands without allocating.
struct Scratch {
    std::array<std::string, kMaxNesting> parameters;
};

class RecordExpander {
public:
    /// marks, when given, receives per byte of out whether a macro produced it.
    RecordExpander(const FileData& record, DateTime runTime, Scratch& scratch,
                   std::vector<bool>* marks = nullptr)
        : m_record(record),
          m_name(record.name ? std::string_view(*record.name) : std::string_view()),
          m_runTime(runTime),
          m_scratch(scratch),
          m_marks(marks) {}

    void Expand(std::string_view text, std::string& out) {
        std::size_t i = 0;
        while (i < text.size() && out.size() < kMaxResult) {
            // Runs between macros are short; a plain loop beats a library call.
            std::size_t percent = i;
            while (percent < text.size() && text[percent] != '%') {
                ++percent;
            }
            out.append(text.data() + i, percent - i);
            Mark(out, false);
            if (percent == text.size()) {
                break;
            }
            i = ExpandMacro(text, percent, out, 0);
            Mark(out, true);
        }
        if (out.size() > kMaxResult) {
            out.resize(kMaxResult);
        }
        if (m_marks != nullptr) {
            m_marks->resize(out.size());
        }
    }

private:
    void Mark(const std::string& out, bool fromMacro) {
        if (m_marks != nullptr) {
            m_marks->resize(out.size(), fromMacro);
        }
    }

    // text[pos] is "%". Appends the macro's result and answers where the walk
    // goes on.
    std::size_t ExpandMacro(std::string_view text, std::size_t pos, std::string& out, int depth) {
        ++pos;
        const MacroName* macro = MatchMacro(text.substr(pos));
        if (macro == nullptr) {
            return pos;
        }
        pos += macro->name.size();
        std::string_view parameter;
        if (pos + 1 < text.size() && text[pos] == '=' && text[pos + 1] == '"') {
            std::string& buffer = m_scratch.parameters[static_cast<std::size_t>(depth)];
            buffer.clear();
            pos = ReadParameter(text, pos + 2, buffer, depth);
            parameter = buffer;
        }
        // Inside a parameter the result may fill the parameter up; at the top
        // it may fill the whole result up.
        const std::size_t cap = depth == 0 ? kMaxResult : kMaxParameter;
        if (out.size() < cap) {
            const std::size_t start = out.size();
            Apply(macro->macro, parameter, out, cap - start);
            if (out.size() > cap) {
                out.resize(cap);
            }
        }
        return pos;
    }

    // Reads a parameter from pos (after its opening quote) into buffer,
    // expanding nested macros; answers the position after the closing quote.
    std::size_t ReadParameter(std::string_view text, std::size_t pos, std::string& buffer,
                              int depth) {
        while (pos < text.size()) {
            std::size_t special = pos;
            while (special < text.size() && text[special] != '\\' && text[special] != '"' &&
                   text[special] != '%') {
                ++special;
            }
            const std::size_t room = kMaxParameter - std::min(kMaxParameter, buffer.size());
            buffer.append(text.data() + pos, std::min(special - pos, room));
            if (special == text.size()) {
                return special;
            }
            pos = special;
            switch (text[pos]) {
                case '\\':
                    if (pos + 1 < text.size() && buffer.size() < kMaxParameter) {
                        buffer += text[pos + 1];
                    }
                    pos += 2;
                    break;
                case '"':
                    return pos + 1;
                default:
                    if (depth + 1 >= kMaxNesting) {
                        pos = SkipMacro(text, pos);
                    } else {
                        pos = ExpandMacro(text, pos, buffer, depth + 1);
                    }
                    break;
            }
        }
        return text.size();
    }

    // Passes over the macro at text[pos] ("%") and everything nested in it
    // without expanding anything, iteratively; answers where the walk goes on.
    static std::size_t SkipMacro(std::string_view text, std::size_t pos) {
        std::size_t open = 0;  // parameters not yet closed
        for (;;) {
            // pos is at a "%".
            ++pos;
            if (const MacroName* macro = MatchMacro(text.substr(pos))) {
                pos += macro->name.size();
                if (pos + 1 < text.size() && text[pos] == '=' && text[pos + 1] == '"') {
                    pos += 2;
                    ++open;
                }
            }
            if (open == 0) {
                return pos;
            }
            for (;;) {
                if (pos >= text.size()) {
                    return text.size();
                }
                const char c = text[pos];
                if (c == '\\') {
                    pos += 2;
                } else if (c == '"') {
                    ++pos;
                    if (--open == 0) {
                        return pos;
                    }
                } else if (c == '%') {
                    break;
                } else {
                    ++pos;
                }
            }
        }
    }

    // Appends the result of one macro; limit bounds the work of the macros
    // whose results can outgrow their parameters (the caller cuts the rest).
    void Apply(Macro macro, std::string_view parameter, std::string& out, std::size_t limit) {
        switch (macro) {
            case Macro::File:
                if (parameter.empty()) {
                    out += m_name;
                } else {
                    AppendFileFormat(out, m_name, parameter, limit);
                }
                break;
            case Macro::Name: {
                const std::size_t sep = LastPlatformSeparator(m_name);
                out += sep == std::string_view::npos ? m_name : m_name.substr(sep + 1);
                break;
            }
            case Macro::Path: {
                const std::size_t sep = LastPlatformSeparator(m_name);
                if (sep != std::string_view::npos) {
                    out += m_name.substr(0, sep);
                }
                break;
            }
            case Macro::Time:
                AppendDateTime(out, parameter, m_record.time, DateFormatSettings::System(), limit);
                break;
            case Macro::Size:
                AppendSize(out, m_record.size, parameter);
                break;
            case Macro::SysDate:
                AppendDateTime(out, parameter, DateTime::Now(), DateFormatSettings::System(),
                               limit);
                break;
            case Macro::Added:
                if (m_record.kind == FileKind::Added) {
                    out += parameter;
                }
                break;
            case Macro::Changed:
                if (m_record.kind == FileKind::Changed) {
                    out += parameter;
                }
                break;
            case Macro::Deleted:
                if (m_record.kind == FileKind::Deleted) {
                    out += parameter;
                }
                break;
            case Macro::Percent:
                out += '%';
                break;
            case Macro::OpenSection:
                break;
            case Macro::Chr:
                AppendChr(out, parameter);
                break;
            case Macro::RunTime:
                AppendDateTime(out, parameter, m_runTime, DateFormatSettings::System(), limit);
                break;
            case Macro::Environment:
                AppendEnvironment(out, parameter);
                break;
            case Macro::Include:
                AppendInclude(out, parameter, limit);
                break;
            case Macro::Substring:
                AppendSubstring(out, parameter);
                break;
        }
    }

    const FileData& m_record;
    std::string_view m_name;
    DateTime m_runTime;
    Scratch& m_scratch;
    std::vector<bool>* m_marks;
};

}  // namespace

std::string PlaceholderName(char separator) {
    std::string name = "[D:]";
    name += separator;
    name += "[P]";
    name += separator;
    name += "[N].[E]";
    return name;
}

std::string ExpandRecord(const FileData& record, std::string_view text) {
    if (text.find('%') == std::string_view::npos) {
        return std::string(text);
    }
    Scratch scratch;
    std::string out;
    out.reserve(text.size() + 64);
    RecordExpander(record, record.runTime, scratch).Expand(text, out);
    return out;
}

ExpandListResult ExpandList(const FileList& files, DateTime runStart, std::string_view text,
                            int first, int count, bool markMacros) {
    ExpandListResult result;
    const auto length = static_cast<long long>(files.size());
    if (first < 0 || (first >= length && first != 0)) {
        return result;
    }
    long long n = count > 0 ? count : length;
    if (first + n > length) {
        n = length - first;
    }
    const FileData placeholder(PlaceholderName(platform::kPathSeparator), DateTime(-1.0), 0,
                               FileKind::None);
    Scratch scratch;
    std::string& out = result.text;
    out.reserve(text.size() + 64);
    std::vector<bool>* marks = markMacros ? &result.fromMacro : nullptr;
    auto templateText = [&](std::string_view piece) {
        out += piece;
        if (marks != nullptr) {
            marks->resize(out.size(), false);
        }
    };
    auto expandSection = [&](std::string_view section, long long from, long long records) {
        if (records == 0) {
            RecordExpander(placeholder, runStart, scratch, marks).Expand(section, out);
            return;
        }
        for (long long r = from; r < from + records && out.size() < kMaxResult; ++r) {
            const std::size_t before = out.size();
            RecordExpander(files[static_cast<std::size_t>(r)], runStart, scratch, marks)
                .Expand(section, out);
            if (r == from && records > 1) {
                // Later records expand to about as much as the first.
                constexpr std::size_t kMaxReserve = std::size_t{1} << 26;
                const std::size_t each = out.size() - before + 8;
                const auto rest = static_cast<std::size_t>(records - 1);
                out.reserve(out.size() + std::min(kMaxReserve, each * rest));
            }
        }
    };
    std::size_t i = 0;
    while (i < text.size() && out.size() < kMaxResult) {
        const std::size_t percent = text.find('%', i);
        if (percent == std::string_view::npos) {
            templateText(text.substr(i));
            break;
        }
        templateText(text.substr(i, percent - i));
        if (percent + 1 < text.size() && text[percent + 1] == '(') {
            const std::size_t begin = percent + 2;
            const std::size_t end = text.find("%)", begin);
            const std::string_view section = text.substr(
                begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
            expandSection(section, first, n);
            i = end == std::string_view::npos ? text.size() : end + 2;
        } else {
            const std::size_t end = text.find("%(", percent + 1);
            const std::string_view section = text.substr(
                percent, end == std::string_view::npos ? std::string_view::npos : end - percent);
            expandSection(section, first, n == 0 ? 0 : 1);
            i = end == std::string_view::npos ? text.size() : end;
        }
    }
    if (out.size() > kMaxResult) {
        out.resize(kMaxResult);
    }
    if (marks != nullptr) {
        marks->resize(out.size());
    }
    result.used = n == 0 ? 1 : static_cast<int>(n);
    return result;
}

}  // namespace quorvel
