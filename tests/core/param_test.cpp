#include "core/param.h"

#include <gtest/gtest.h>

#include "core/text_util.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

TEST(IntParamTest, ReadsLikeTheCRuntimeAndFallsBackToTheMinimum) {
    IntParam p("Interval", 60, 1, 2147483647);
    EXPECT_EQ(p.Value(), 60);
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"  42abc", 42},
        {"+7", 7},
        {"0", 1},
        {"-5", 1},
        {"", 1},
        {"abc", 1},
        {"2147483647", 2147483647},
        {"2147483648", 1},
        {"99999999999999999999999", 1},
        {"\t 15", 15},
    };
    for (const auto& c : cases) {
        p.SetFromString(c.text);
        EXPECT_EQ(p.Value(), c.expected) << '"' << c.text << '"';
    }
    IntParam negative("X", 0, -10, 10);
    negative.SetFromString("-10");
    EXPECT_EQ(negative.Value(), -10);
    negative.SetFromString("-11");
    EXPECT_EQ(negative.Value(), -10);
}

TEST(ReadCIntegerTest, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(ReadCInteger("-9223372036854775808"), std::numeric_limits<long long>::min());
    EXPECT_EQ(ReadCInteger("9223372036854775808"), std::numeric_limits<long long>::max());
    EXPECT_EQ(ReadCInteger("-99999999999999999999"), std::numeric_limits<long long>::min());
    EXPECT_EQ(ReadCInteger("- 5"), 0);
}

TEST(BoolParamTest, OnlyOneAndTrueAreTrue) {
    BoolParam p("RunOnce", true);
    for (const char* yes : {"1", "true", "TRUE", "True"}) {
        p.SetValue(false);
        p.SetFromString(yes);
        EXPECT_TRUE(p.Value()) << yes;
    }
    for (const char* no : {"", "0", "2", "yes", " 1", "1 ", "truex"}) {
        p.SetValue(true);
        p.SetFromString(no);
        EXPECT_FALSE(p.Value()) << no;
    }
}

TEST(StringParamTest, PadsToTheLimitWithCharactersThatAreNeverOne) {
    StringParam days("Days", "1111111", 7);
    days.SetFromString("111");
    EXPECT_EQ(days.Value().size(), 7u);
    EXPECT_EQ(days.Value().substr(0, 3), "111");
    EXPECT_EQ(days.Value().substr(3).find('1'), std::string::npos);
    days.SetFromString("111111111");
    EXPECT_EQ(days.Value(), "111111111");
    StringParam free("Comment", "");
    free.SetFromString("  a=b  ");
    EXPECT_EQ(free.Value(), "  a=b  ");
}

// However a value got there (a drop, a dialog, a program), it stays one line
// of the configuration file.
TEST(StringParamTest, AValueNeverHoldsALineBreak) {
    StringParam name("FileName", "");
    name.SetFromString("/x\n;\nAction=1\r\nCommand=touch\rParams=pwned");
    StringListParam windows("TimeInterval");
    windows.SetValues({"08:00:00 - 09:00:00\nDays=0"});
    std::string out;
    name.Write(out);
    windows.Write(out);
    EXPECT_EQ(out, "FileName=/x ; Action=1 Command=touch Params=pwned" + std::string(platform::kLineEnding) +
                       "TimeInterval=08:00:00 - 09:00:00 Days=0" + platform::kLineEnding);
}

TEST(ParamTest, ParseLineMatchesKeyAndEqualsWithoutRegardToCase) {
    IntParam p("Interval", 60, 1, 100);
    EXPECT_TRUE(p.ParseLine("interval=30"));
    EXPECT_EQ(p.Value(), 30);
    EXPECT_FALSE(p.ParseLine("Interval = 40"));
    EXPECT_FALSE(p.ParseLine(" Interval=40"));
    EXPECT_FALSE(p.ParseLine("IntervalX=40"));
    EXPECT_FALSE(p.ParseLine("Interval"));
    EXPECT_EQ(p.Value(), 30);
    StringParam s("FileName", "");
    EXPECT_TRUE(s.ParseLine("FILENAME=a=b\n"));
    EXPECT_EQ(s.Value(), "a=b");
}

TEST(ParamListTest, WritesInOrderAndStringListsRepeatTheirKey) {
    ParamList list;
    list.Add<IntParam>("Interval", 60, 1, 100);
    list.Add<BoolParam>("RunOnce", false);
    auto& windows = list.Add<StringListParam>("TimeInterval");
    list.Add<StringParam>("Comment", "x");
    EXPECT_TRUE(list.ParseLine("TimeInterval=08:00:00 - 12:00:00"));
    EXPECT_TRUE(list.ParseLine("TimeInterval=13:00:00 - 17:00:00"));
    EXPECT_TRUE(list.ParseLine("Interval=5"));
    EXPECT_TRUE(list.ParseLine("Interval=7"));
    EXPECT_FALSE(list.ParseLine("Unknown=1"));
    EXPECT_EQ(windows.Values().size(), 2u);
    std::string out;
    list.Write(out);
    EXPECT_EQ(test::Lf(out),
              "Interval=7\nRunOnce=0\nTimeInterval=08:00:00 - 12:00:00\n"
              "TimeInterval=13:00:00 - 17:00:00\nComment=x\n");

    ParamList copy;
    copy.Add<IntParam>("Interval", 60, 1, 100);
    copy.Add<BoolParam>("RunOnce", true);
    copy.Add<StringListParam>("TimeInterval");
    copy.Add<StringParam>("Comment", "");
    copy.AssignFrom(list);
    std::string copied;
    copy.Write(copied);
    EXPECT_EQ(copied, out);
}

}  // namespace
}  // namespace quorvel
