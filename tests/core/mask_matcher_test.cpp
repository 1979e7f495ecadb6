#include "core/mask_matcher.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(WildcardMaskTest, StarQuestionMarkAndSets) {
    EXPECT_TRUE(MatchesMask("report.txt", "*"));
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_TRUE(MatchesMask("report.txt", "*.txt"));
    EXPECT_TRUE(MatchesMask("REPORT.TXT", "report.*"));
    EXPECT_FALSE(MatchesMask("report.txt.bak", "*.txt"));
    EXPECT_TRUE(MatchesMask("a1.log", "a?.log"));
    EXPECT_FALSE(MatchesMask("a.log", "a?.log"));
    EXPECT_TRUE(MatchesMask("file7", "file[0-9]"));
    EXPECT_TRUE(MatchesMask("fileB", "file[a-c]"));
    EXPECT_FALSE(MatchesMask("filed", "file[a-c]"));
    EXPECT_TRUE(MatchesMask("filed", "file[!a-c]"));
    EXPECT_FALSE(MatchesMask("fileA", "file[!a-c]"));
    EXPECT_TRUE(MatchesMask("x]", "x[]]"));
    EXPECT_TRUE(MatchesMask("abcabcabd", "*abd"));
    EXPECT_TRUE(MatchesMask("a*b", "a*b"));
    EXPECT_FALSE(MatchesMask("", "?"));
    EXPECT_FALSE(MatchesMask("abc", ""));
    EXPECT_TRUE(MatchesMask("", ""));
}

TEST(WildcardMaskTest, UnclosedBracketIsLiteral) {
    EXPECT_TRUE(MatchesMask("a[b", "a[b"));
    EXPECT_TRUE(MatchesMask("a[bc", "a[*"));
    EXPECT_FALSE(MatchesMask("ab", "a[b"));
}

TEST(WildcardMaskTest, QuestionMarkIsOneCharacterOfUtf8) {
    EXPECT_TRUE(MatchesMask("caf\xC3\xA9", "caf?"));
    EXPECT_TRUE(MatchesMask("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"));  // ÉTÉ vs été
    EXPECT_TRUE(MatchesMask("\xD0\x9F\xD0\xA0", "\xD0\xBF\xD1\x80"));    // ПР vs пр
    // An invalid byte is one character that only matches itself.
    EXPECT_TRUE(
        MatchesMask("a\xFF"
                    "b",
                    "a?b"));
    EXPECT_TRUE(
        MatchesMask("a\xFF"
                    "b",
                    "a\xFF"
                    "b"));
    EXPECT_FALSE(
        MatchesMask("a\xFE"
                    "b",
                    "a\xFF"
                    "b"));
}

TEST(WildcardMaskTest, ManyStarsStayFast) {
    // Exponential backtracking would never finish this.
    std::string target(5000, 'a');
    EXPECT_FALSE(MatchesMask(target, "*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchesMask(target + "b", "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace quorvel
