#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

/// A compiled wildcard mask: "*" any run of characters (also none), "?" one
/// character, "[...]" one character of a set with ranges "a-z", "[!...]" one
/// character not in the set. Letters compare without regard to case; the
/// whole target must match. Text is UTF-8 and "?" stands for one character,
/// not one byte; invalid bytes only match themselves. A "[" without its "]"
/// is an ordinary character.
class WildcardMask {
public:
    WildcardMask() = default;
    explicit WildcardMask(std::string_view mask);

    bool Matches(std::string_view target) const;
    const std::string& Text() const { return m_text; }

private:
    struct Range {
        char32_t low, high;
    };
    struct Token {
        enum class Kind : std::uint8_t { Literal, Any, Star, Set } kind;
        bool negate = false;
        char32_t literal = 0;
        std::uint32_t firstRange = 0, rangeCount = 0;
    };
    bool TokenMatches(const Token& token, char32_t c) const;

    std::string m_text;
    std::vector<Token> m_tokens;
    std::vector<Range> m_ranges;
};

/// Matches one target against one mask.
bool MatchesMask(std::string_view target, std::string_view mask);

/// True when a text holds a wildcard character ("*", "?" or "[").
bool HasWildcards(std::string_view text);

/// Decodes the next UTF-8 character of text at pos and advances pos; an
/// invalid byte decodes as U+DC80 + byte so it keeps its identity.
char32_t NextCodePoint(std::string_view text, std::size_t& pos);

/// Simple case folding for the common alphabets (Latin, Greek, Cyrillic).
char32_t FoldCase(char32_t c);

}  // namespace quorvel
