#include "core/text_util.h"

#include <limits>

namespace quorvel {

char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = ToLowerAscii(c);
    }
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
    return TrimChars(text, " \t");
}

std::string_view TrimChars(std::string_view text, std::string_view chars) {
    while (!text.empty() && IsOneOf(text.front(), chars)) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsOneOf(text.back(), chars)) {
        text.remove_suffix(1);
    }
    return text;
}

long long ReadCInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so the full range fits.
    constexpr long long kMin = std::numeric_limits<long long>::min();
    long long value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (!saturated) {
            if (value < (kMin + digit) / 10) {
                saturated = true;
            } else {
                value = value * 10 - digit;
            }
        }
    }
    if (saturated) {
        return negative ? kMin : std::numeric_limits<long long>::max();
    }
    if (negative) {
        return value;
    }
    return value == kMin ? std::numeric_limits<long long>::max() : -value;
}

namespace {

// Length of the valid UTF-8 sequence at text[i] (1 to 4), or 0 when the
// byte starts none (stray continuation, overlong form, surrogate, beyond
// U+10FFFF, cut short).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first continuation
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void AppendHexEscape(std::string& out, const char* prefix, unsigned value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int d = digits - 1; d >= 0; --d) {
        out += kHex[(value >> (4 * d)) & 0xF];
    }
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keepLineFeeds) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\t' || (c >= 0x20 && c != 0x7F) || (keepLineFeeds && c == '\n')) {
                out += static_cast<char>(c);
            } else if (keepLineFeeds && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                // a line break of the message itself
            } else {
                AppendHexEscape(out, "\\x", c, 2);
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceAt(text, i);
        if (length == 0) {
            AppendHexEscape(out, "\\x", c, 2);
            ++i;
            continue;
        }
        if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            AppendHexEscape(out, "\\u", static_cast<unsigned char>(text[i + 1]), 4);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string FillPlaceholders(std::string_view format,
                             std::initializer_list<std::string_view> arguments) {
    std::string out;
    out.reserve(format.size() + 32);
    auto next = arguments.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (format[i + 1] == 's' && next != arguments.end()) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace quorvel
