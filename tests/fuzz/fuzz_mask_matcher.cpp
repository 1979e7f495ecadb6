// Feeds arbitrary masks and targets to the wildcard matcher and, for ASCII
// input, compares its answer with a small dynamic-programming matcher that
// follows the documented rules independently of the compiled form.
//
// Input: mask bytes, a zero byte, target bytes (no zero byte: the whole input
// is the mask and the target is its own reversal).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/mask_matcher.h"
#include "core/mask_list.h"

namespace {

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

struct RefToken {
    enum Kind { Literal, Any, Star, Set } kind = Literal;
    char literal = 0;
    bool negate = false;
    std::vector<std::pair<char, char>> ranges;
};

// "[" opens a set that ends at the first "]" that is not the set's first
// item; "!" right after "[" negates; "a-b" is a range unless "-" is followed
// by "]" or is the last character. A "[" without its "]" is a literal.
std::vector<RefToken> Parse(std::string_view mask) {
    std::vector<RefToken> tokens;
    std::size_t i = 0;
    while (i < mask.size()) {
        const char c = mask[i];
        RefToken t;
        if (c == '*') {
            t.kind = RefToken::Star;
            ++i;
        } else if (c == '?') {
            t.kind = RefToken::Any;
            ++i;
        } else if (c == '[') {
            std::size_t p = i + 1;
            RefToken set;
            set.kind = RefToken::Set;
            if (p < mask.size() && mask[p] == '!') {
                set.negate = true;
                ++p;
            }
            bool closed = false;
            for (bool first = true; p < mask.size(); first = false) {
                if (mask[p] == ']' && !first) {
                    closed = true;
                    ++p;
                    break;
                }
                char low = Fold(mask[p++]);
                char high = low;
                if (p + 1 < mask.size() && mask[p] == '-' && mask[p + 1] != ']') {
                    high = Fold(mask[p + 1]);
                    p += 2;
                }
                set.ranges.emplace_back(std::min(low, high), std::max(low, high));
            }
            if (closed) {
                t = set;
                i = p;
            } else {
                t.literal = '[';
                ++i;
            }
        } else {
            t.literal = Fold(c);
            ++i;
        }
        tokens.push_back(t);
    }
    return tokens;
}

bool One(const RefToken& t, char c) {
    c = Fold(c);
    switch (t.kind) {
        case RefToken::Literal:
            return t.literal == c;
        case RefToken::Any:
            return true;
        case RefToken::Set: {
            bool in = false;
            for (const auto& [low, high] : t.ranges) {
                in = in || (c >= low && c <= high);
            }
            return in != t.negate;
        }
        case RefToken::Star:
            return false;
    }
    return false;
}

bool Reference(std::string_view mask, std::string_view target) {
    const std::vector<RefToken> tokens = Parse(mask);
    const std::size_t n = tokens.size(), m = target.size();
    // can[k][t]: tokens[k..] match target[t..].
    std::vector<std::vector<char>> can(n + 1, std::vector<char>(m + 1, 0));
    can[n][m] = 1;
    for (std::size_t k = n; k-- > 0;) {
        for (std::size_t t = m + 1; t-- > 0;) {
            if (tokens[k].kind == RefToken::Star) {
                can[k][t] = can[k + 1][t] || (t < m && can[k][t + 1]);
            } else {
                can[k][t] = t < m && One(tokens[k], target[t]) && can[k + 1][t + 1];
            }
        }
    }
    return can[0][0] != 0;
}

bool Ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view mask = input;
    std::string target;
    if (const auto zero = input.find('\0'); zero != std::string_view::npos) {
        mask = input.substr(0, zero);
        target.assign(input.substr(zero + 1));
    } else {
        target.assign(input.rbegin(), input.rend());
    }

    const quorvel::WildcardMask compiled(mask);
    const bool matched = compiled.Matches(target);
    (void)quorvel::MatchesMask(mask, target);
    (void)quorvel::HasWildcards(mask);

    // A mask list splits at ";" and line breaks; it must hold up as well.
    quorvel::MaskList list;
    list.Compile(mask);
    const bool listMatched = list.Matches(target);
    if (mask.find_first_of(";\r\n") == std::string_view::npos && !mask.empty() &&
        listMatched != matched) {
        __builtin_trap();
    }

    if (Ascii(mask) && Ascii(target) && mask.size() <= 256 && target.size() <= 256 &&
        Reference(mask, target) != matched) {
        __builtin_trap();
    }
    return 0;
}
