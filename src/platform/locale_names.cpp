#include "platform/locale_names.h"

#include <string_view>
#include <vector>

#include "platform/strftime_pattern.h"

namespace quorvel::platform {

namespace {

bool IsTimeConversion(char c) {
    return std::string_view("HIklMSpPrRTXZzsc").find(c) != std::string_view::npos;
}

}  // namespace

std::vector<StrftimePiece> SplitStrftimePattern(std::string_view pattern) {
    std::vector<StrftimePiece> pieces;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            std::size_t j = i + 1;
            while (j < pattern.size() &&
                   std::string_view("-_0^#EO").find(pattern[j]) != std::string_view::npos) {
                ++j;
            }
            while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
                ++j;
            }
            if (j >= pattern.size()) {
                break;
            }
            pieces.push_back({std::string(pattern.substr(i, j + 1 - i)), pattern[j]});
            i = j + 1;
            continue;
        }
        if (pattern[i] == '%') {
            break;  // a lone "%" at the end converts nothing
        }
        std::size_t j = pattern.find('%', i + 1);
        if (j == std::string_view::npos) {
            j = pattern.size();
        }
        pieces.push_back({std::string(pattern.substr(i, j - i)), 0});
        i = j;
    }
    return pieces;
}

// The nearest the C library comes to a long date format.
std::string LongDateFromDateTimePattern(std::string_view dateTimePattern) {
    std::vector<StrftimePiece> pieces = SplitStrftimePattern(dateTimePattern);
    std::string out;
    bool haveKept = false;
    bool removedSinceKept = false;
    std::string pendingLiteral;
    for (const StrftimePiece& p : pieces) {
        if (p.conversion == 0) {
            if (!removedSinceKept) {
                pendingLiteral += p.text;
            }
            continue;
        }
        if (IsTimeConversion(p.conversion)) {
            removedSinceKept = true;
            continue;
        }
        if (haveKept || !pendingLiteral.empty()) {
            out += pendingLiteral;
        }
        pendingLiteral.clear();
        removedSinceKept = false;
        std::string conv = p.text;
        if (p.conversion == 'a') {
            conv.back() = 'A';
        } else if (p.conversion == 'b' || p.conversion == 'h') {
            conv.back() = 'B';
        }
        out += conv;
        haveKept = true;
    }
    // Text after the last date part belongs to it only when no time part
    // came between ("%e日").
    while (!pendingLiteral.empty() &&
           (pendingLiteral.back() == ' ' || pendingLiteral.back() == ',')) {
        pendingLiteral.pop_back();
    }
    out += pendingLiteral;
    while (!out.empty() && out.front() == ' ') {
        out.erase(0, 1);
    }
    return out;
}

}  // namespace quorvel::platform
