#include "core/mask_matcher.h"

namespace quorvel {

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
    const auto b0 = static_cast<unsigned char>(text[pos]);
    auto invalid = [&]() {
        ++pos;
        return static_cast<char32_t>(0xDC80 + b0);
    };
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int length = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        cp = b0 & 0x07;
    } else {
        return invalid();
    }
    if (pos + static_cast<std::size_t>(length) > text.size()) {
        return invalid();
    }
    for (int i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
        if ((b & 0xC0) != 0x80) {
            return invalid();
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    if ((length == 2 && cp < 0x80) || (length == 3 && cp < 0x800) ||
        (length == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return invalid();
    }
    pos += static_cast<std::size_t>(length);
    return cp;
}

char32_t FoldCase(char32_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    }
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return c + 32;
    }
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs mostly alternate upper/lower.
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
            return (c % 2 == 1) ? c + 1 : c;
        }
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
            return c;
        }
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
        return c + 32;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 32;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 80;
    }
    return c;
}

WildcardMask::WildcardMask(std::string_view mask) : m_text(mask) {
    std::size_t pos = 0;
    while (pos < mask.size()) {
        const std::size_t start = pos;
        char32_t c = NextCodePoint(mask, pos);
        Token token{};
        if (c == '*') {
            // Runs of stars act as one.
            if (!m_tokens.empty() && m_tokens.back().kind == Token::Kind::Star) {
                continue;
            }
            token.kind = Token::Kind::Star;
        } else if (c == '?') {
            token.kind = Token::Kind::Any;
        } else if (c == '[') {
            // Find the closing bracket; without it the bracket is literal.
            std::size_t p = pos;
            bool negate = false;
            if (p < mask.size() && mask[p] == '!') {
                negate = true;
                ++p;
            }
            std::vector<Range> ranges;
            bool closed = false;
            bool first = true;
            while (p < mask.size()) {
                if (mask[p] == ']' && !first) {
                    closed = true;
                    ++p;
                    break;
                }
                first = false;
                char32_t low = FoldCase(NextCodePoint(mask, p));
                char32_t high = low;
                if (p + 1 < mask.size() && mask[p] == '-' && mask[p + 1] != ']') {
                    ++p;
                    high = FoldCase(NextCodePoint(mask, p));
                    if (high < low) {
                        std::swap(low, high);
                    }
                }
                ranges.push_back({low, high});
            }
            if (closed) {
                token.kind = Token::Kind::Set;
                token.negate = negate;
                token.firstRange = static_cast<std::uint32_t>(m_ranges.size());
                token.rangeCount = static_cast<std::uint32_t>(ranges.size());
                m_ranges.insert(m_ranges.end(), ranges.begin(), ranges.end());
                pos = p;
            } else {
                token.kind = Token::Kind::Literal;
                token.literal = '[';
                pos = start + 1;
            }
        } else {
            token.kind = Token::Kind::Literal;
            token.literal = FoldCase(c);
        }
        m_tokens.push_back(token);
    }
}

bool WildcardMask::TokenMatches(const Token& token, char32_t c) const {
    switch (token.kind) {
        case Token::Kind::Literal:
            return token.literal == c;
        case Token::Kind::Any:
            return true;
        case Token::Kind::Set: {
            bool in = false;
            for (std::uint32_t i = 0; i < token.rangeCount; ++i) {
                const Range& r = m_ranges[token.firstRange + i];
                if (c >= r.low && c <= r.high) {
                    in = true;
                    break;
                }
            }
            return in != token.negate;
        }
        case Token::Kind::Star:
            return false;
    }
    return false;
}

bool WildcardMask::Matches(std::string_view target) const {
    // Greedy matching that backtracks only to the last star: linear for
    // common masks, never exponential.
    std::size_t t = 0;
    std::size_t k = 0;
    std::size_t starToken = SIZE_MAX;
    std::size_t starTarget = 0;
    while (t < target.size()) {
        if (k < m_tokens.size() && m_tokens[k].kind == Token::Kind::Star) {
            starToken = k++;
            starTarget = t;
            continue;
        }
        std::size_t next = t;
        const char32_t c = FoldCase(NextCodePoint(target, next));
        if (k < m_tokens.size() && TokenMatches(m_tokens[k], c)) {
            ++k;
            t = next;
            continue;
        }
        if (starToken == SIZE_MAX) {
            return false;
        }
        k = starToken + 1;
        NextCodePoint(target, starTarget);
        t = starTarget;
    }
    while (k < m_tokens.size() && m_tokens[k].kind == Token::Kind::Star) {
        ++k;
    }
    return k == m_tokens.size();
}

bool MatchesMask(std::string_view target, std::string_view mask) {
    return WildcardMask(mask).Matches(target);
}

bool HasWildcards(std::string_view text) {
    return text.find_first_of("*?[") != std::string_view::npos;
}

}  // namespace quorvel
