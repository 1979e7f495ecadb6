#include "actions/date_format.h"

#include <optional>

#include "core/text_util.h"
#include "platform/locale_names.h"

namespace quorvel {

namespace {

// Formats name other formats (ddddd, t, c); they are followed this many
// levels deep, so a format that names itself cannot recurse without end.
constexpr int kMaxFormatLevel = 2;

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Characters that are not simply copied: every letter (letters also end a
// "m after h" run), separators and quotes.
bool IsFormatSpecial(char c) {
    return IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'' || c == '"';
}

class Formatter {
public:
    Formatter(std::string& out, DateTime value, const DateFormatSettings& settings,
              std::size_t limit)
        : m_out(out), m_start(out.size()), m_limit(limit), m_value(value), m_settings(settings) {}

    // False when the value could not be decoded; the output is then partial.
    bool Run(std::string_view format) {
        Append(format.empty() ? std::string_view("c") : format, 0);
        return !m_failed;
    }

private:
    const DateTime::Parts* Parts() {
        if (!m_decoded) {
            m_decoded = true;
            m_parts = m_value.Decode();
        }
        if (!m_parts) {
            m_failed = true;
            return nullptr;
        }
        return &*m_parts;
    }

    void Number(int value, std::size_t digits) {
        char buf[16];
        std::size_t n = sizeof(buf);
        unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
        do {
            buf[--n] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0 && n > 0);
        while (sizeof(buf) - n < digits && n > 0) {
            buf[--n] = '0';
        }
        m_out.append(buf + n, sizeof(buf) - n);
    }

    void Append(std::string_view f, int level) {
        if (level >= kMaxFormatLevel) {
            return;
        }
        char lastToken = ' ';
        bool use12HourClock = false;
        std::size_t i = 0;
        while (i < f.size() && !m_failed && m_out.size() - m_start < m_limit) {
            const char starter = f[i++];
            char token = UpperAscii(starter);
            if (IsAsciiLetter(token)) {
                if (token == 'M' && lastToken == 'H') {
                    token = 'N';
                }
                lastToken = token;
            }
            // Letters of a directive repeat with the same case ("dd", not "dD").
            auto count = [&] {
                std::size_t c = 1;
                while (i < f.size() && f[i] == starter) {
                    ++i;
                    ++c;
                }
                return c;
            };
            switch (token) {
                case 'Y': {
                    const std::size_t c = count();
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    if (c <= 2) {
                        Number(p->year % 100, 2);
                    } else {
                        Number(p->year, 4);
                    }
                    break;
                }
                case 'M': {
                    const std::size_t c = count();
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    if (c <= 2) {
                        Number(p->month, c);
                    } else if (c == 3) {
                        m_out += m_settings.shortMonthNames[p->month - 1];
                    } else {
                        m_out += m_settings.longMonthNames[p->month - 1];
                    }
                    break;
                }
                case 'D': {
                    const std::size_t c = count();
                    if (c >= 5) {
                        Append(c == 5 ? m_settings.shortDateFormat : m_settings.longDateFormat,
                               level + 1);
                        break;
                    }
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    if (c <= 2) {
                        Number(p->day, c);
                    } else if (c == 3) {
                        m_out += m_settings.shortDayNames[p->dayOfWeek - 1];
                    } else {
                        m_out += m_settings.longDayNames[p->dayOfWeek - 1];
                    }
                    break;
                }
                case 'H': {
                    std::size_t c = count();
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    // An am/pm directive before the next hour switches this
                    // hour to the 12-hour clock.
                    bool betweenQuotes = false;
                    for (std::size_t j = i; j < f.size(); ++j) {
                        const char ch = f[j];
                        if ((ch == 'a' || ch == 'A') && !betweenQuotes) {
                            const std::string_view rest = f.substr(j);
                            if (StartsWithIgnoreCase(rest, "am/pm") ||
                                StartsWithIgnoreCase(rest, "a/p") ||
                                StartsWithIgnoreCase(rest, "ampm")) {
                                use12HourClock = true;
                            }
                            break;
                        }
                        if (ch == 'h' || ch == 'H') {
                            break;
                        }
                        if (ch == '\'' || ch == '"') {
                            betweenQuotes = !betweenQuotes;
                        }
                    }
                    int hour = p->hour;
                    if (use12HourClock) {
                        if (hour == 0) {
                            hour = 12;
                        } else if (hour > 12) {
                            hour -= 12;
                        }
                    }
                    Number(hour, c > 2 ? 2 : c);
                    break;
                }
                case 'N':
                case 'S': {
                    const std::size_t c = count();
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    Number(token == 'N' ? p->minute : p->second, c > 2 ? 2 : c);
                    break;
                }
                case 'Z': {
                    const std::size_t c = count();
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    Number(p->millisecond, c > 3 ? 3 : c);
                    break;
                }
                case 'T': {
                    const std::size_t c = count();
                    Append(c == 1 ? m_settings.shortTimeFormat : m_settings.longTimeFormat,
                           level + 1);
                    break;
                }
                case 'A': {
                    const std::string_view rest = f.substr(i - 1);
                    if (StartsWithIgnoreCase(rest, "am/pm")) {
                        const auto* p = Parts();
                        if (p == nullptr) {
                            return;
                        }
                        m_out += rest.substr(p->hour >= 12 ? 3 : 0, 2);
                        i += 4;
                        use12HourClock = true;
                    } else if (StartsWithIgnoreCase(rest, "a/p")) {
                        const auto* p = Parts();
                        if (p == nullptr) {
                            return;
                        }
                        m_out += rest[p->hour >= 12 ? 2 : 0];
                        i += 2;
                        use12HourClock = true;
                    } else if (StartsWithIgnoreCase(rest, "ampm")) {
                        const auto* p = Parts();
                        if (p == nullptr) {
                            return;
                        }
                        m_out += p->hour < 12 ? m_settings.timeAmString : m_settings.timePmString;
                        i += 3;
                        use12HourClock = true;
                    } else {
                        m_out += starter;
                    }
                    break;
                }
                case 'C': {
                    count();
                    Append(m_settings.shortDateFormat, level + 1);
                    const auto* p = Parts();
                    if (p == nullptr) {
                        return;
                    }
                    if (p->hour != 0 || p->minute != 0 || p->second != 0 || p->millisecond != 0) {
                        m_out += ' ';
                        Append(m_settings.longTimeFormat, level + 1);
                    }
                    break;
                }
                case '/':
                    m_out += m_settings.dateSeparator;
                    break;
                case ':':
                    m_out += m_settings.timeSeparator;
                    break;
                case '\'':
                case '"': {
                    const std::size_t end = f.find(starter, i);
                    if (end == std::string_view::npos) {
                        m_out += f.substr(i);
                        i = f.size();
                    } else {
                        m_out += f.substr(i, end - i);
                        i = end + 1;
                    }
                    break;
                }
                default: {
                    // Copy the run of plain characters at once.
                    std::size_t end = i;
                    while (end < f.size() && !IsFormatSpecial(f[end])) {
                        ++end;
                    }
                    m_out += f.substr(i - 1, end - i + 1);
                    i = end;
                    break;
                }
            }
        }
    }

    std::string& m_out;
    std::size_t m_start;
    std::size_t m_limit;
    DateTime m_value;
    const DateFormatSettings& m_settings;
    std::optional<DateTime::Parts> m_parts;
    bool m_decoded = false;
    bool m_failed = false;
};

// Appends literal text quoted so that no character of it reads as a directive.
void AppendQuoted(std::string& out, std::string_view literal) {
    bool open = false;
    for (char c : literal) {
        if (c == '"') {
            if (open) {
                out += '"';
                open = false;
            }
            out += "'\"'";
            continue;
        }
        if (!open) {
            out += '"';
            open = true;
        }
        out += c;
    }
    if (open) {
        out += '"';
    }
}

}  // namespace

DateFormatSettings DateFormatSettings::FromLocale() {
    const platform::LocaleNames names = platform::CurrentLocaleNames();
    DateFormatSettings s;
    for (std::size_t i = 0; i < 12; ++i) {
        if (!names.monthNames[i].empty()) {
            s.longMonthNames[i] = names.monthNames[i];
        }
        if (!names.shortMonthNames[i].empty()) {
            s.shortMonthNames[i] = names.shortMonthNames[i];
        }
    }
    for (std::size_t i = 0; i < 7; ++i) {
        if (!names.dayNames[i].empty()) {
            s.longDayNames[i] = names.dayNames[i];
        }
        if (!names.shortDayNames[i].empty()) {
            s.shortDayNames[i] = names.shortDayNames[i];
        }
    }
    s.timeAmString = names.amString;
    s.timePmString = names.pmString;
    if (std::string f = DateFormatFromStrftime(names.longDateFormat); !f.empty()) {
        s.longDateFormat = std::move(f);
    }
    if (std::string f = DateFormatFromStrftime(names.longTimeFormat); !f.empty()) {
        s.longTimeFormat = std::move(f);
    }
    return s;
}

const DateFormatSettings& DateFormatSettings::System() {
    static const DateFormatSettings settings = FromLocale();
    return settings;
}

void AppendDateTime(std::string& out, std::string_view format, DateTime value,
                    const DateFormatSettings& settings, std::size_t limit) {
    const std::size_t start = out.size();
    Formatter formatter(out, value, settings, limit);
    if (!formatter.Run(format)) {
        out.resize(start);
        out += "[time]";
    }
}

std::string FormatDateTime(std::string_view format, DateTime value,
                           const DateFormatSettings& settings) {
    std::string out;
    AppendDateTime(out, format, value, settings);
    return out;
}

std::string DateFormatFromStrftime(std::string_view pattern) {
    std::string out;
    std::string literal;
    auto emit = [&](std::string_view directive) {
        if (!literal.empty()) {
            AppendQuoted(out, literal);
            literal.clear();
        }
        // Two directives of the same letter side by side would read as one
        // longer directive; an empty quote keeps them apart.
        if (!out.empty() && !directive.empty() &&
            UpperAscii(out.back()) == UpperAscii(directive.front())) {
            out += "\"\"";
        }
        out += directive;
    };
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i++];
        if (c != '%') {
            literal += c;
            continue;
        }
        bool unpadded = false;
        while (i < pattern.size() &&
               std::string_view("-_0^#EO").find(pattern[i]) != std::string_view::npos) {
            unpadded = unpadded || pattern[i] == '-' || pattern[i] == '_';
            ++i;
        }
        while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') {
            ++i;
        }
        if (i >= pattern.size()) {
            break;
        }
        switch (pattern[i++]) {
            case 'a':
                emit("ddd");
                break;
            case 'A':
                emit("dddd");
                break;
            case 'b':
            case 'h':
                emit("mmm");
                break;
            case 'B':
                emit("mmmm");
                break;
            case 'd':
                emit(unpadded ? "d" : "dd");
                break;
            case 'e':
                emit("d");
                break;
            case 'm':
                emit(unpadded ? "m" : "mm");
                break;
            case 'y':
                emit("yy");
                break;
            case 'Y':
            case 'G':
                emit("yyyy");
                break;
            case 'H':
            case 'I':
                emit(unpadded ? "h" : "hh");
                break;
            case 'k':
            case 'l':
                emit("h");
                break;
            case 'M':
                emit(unpadded ? "n" : "nn");
                break;
            case 'S':
                emit(unpadded ? "s" : "ss");
                break;
            case 'p':
            case 'P':
                emit("ampm");
                break;
            case 'T':
                emit("hh:nn:ss");
                break;
            case 'R':
                emit("hh:nn");
                break;
            case 'D':
                emit("mm");
                literal += '/';
                emit("dd");
                literal += '/';
                emit("yy");
                break;
            case 'F':
                emit("yyyy");
                literal += '-';
                emit("mm");
                literal += '-';
                emit("dd");
                break;
            case 'n':
                literal += '\n';
                break;
            case 't':
                literal += '\t';
                break;
            case '%':
                literal += '%';
                break;
            default:
                break;
        }
    }
    if (!literal.empty()) {
        AppendQuoted(out, literal);
    }
    return out;
}

}  // namespace quorvel
