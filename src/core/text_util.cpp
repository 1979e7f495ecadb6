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

}  // namespace quorvel
