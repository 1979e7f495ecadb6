#include "core/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace quorvel {
namespace {

TEST(DateTimeTest, CountsDaysFromTheEndOf1899) {
    auto epoch = DateTime::FromParts(1899, 12, 30);
    ASSERT_TRUE(epoch);
    EXPECT_EQ(epoch->Days(), 0.0);
    auto unix = DateTime::FromParts(1970, 1, 1, 12, 0, 0);
    ASSERT_TRUE(unix);
    EXPECT_DOUBLE_EQ(unix->Days(), 25569.5);
    EXPECT_FALSE(DateTime::FromParts(2023, 2, 29));
    EXPECT_TRUE(DateTime::FromParts(2024, 2, 29));
    EXPECT_FALSE(DateTime::FromParts(2024, 13, 1));
    EXPECT_FALSE(DateTime::FromParts(2024, 1, 1, 24));
}

TEST(DateTimeTest, DecodesPartsAndDayOfWeek) {
    auto t = DateTime::FromParts(2026, 12, 7, 13, 45, 30, 250);
    ASSERT_TRUE(t);
    auto p = t->Decode();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->year, 2026);
    EXPECT_EQ(p->month, 12);
    EXPECT_EQ(p->day, 7);
    EXPECT_EQ(p->hour, 13);
    EXPECT_EQ(p->minute, 45);
    EXPECT_EQ(p->second, 30);
    EXPECT_EQ(p->millisecond, 250);
    EXPECT_EQ(p->dayOfWeek, 2);                       // a Monday
    EXPECT_EQ(DateTime(0.0).Decode()->dayOfWeek, 7);  // 30 Dec 1899 was a Saturday
    EXPECT_FALSE(DateTime(std::nan("")).Decode());
    EXPECT_FALSE(DateTime(1e300).Decode());
}

TEST(DateTimeTest, ParsesDatesDayFirst) {
    auto d = DateTime::ParseDate("01.02.2003");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Decode()->month, 2);
    EXPECT_TRUE(DateTime::ParseDate(" 1.2.2003 "));
    EXPECT_FALSE(DateTime::ParseDate("31.02.2003"));
    EXPECT_FALSE(DateTime::ParseDate("2003-02-01"));
    EXPECT_FALSE(DateTime::ParseDate(""));
    EXPECT_FALSE(DateTime::ParseDate("01.02.2003x"));
    auto twoDigit = DateTime::ParseDate("01.02.03");
    ASSERT_TRUE(twoDigit);
    EXPECT_EQ(twoDigit->Decode()->year, 2003);
}

TEST(DateTimeTest, ParsesTimes) {
    EXPECT_NEAR(*DateTime::ParseTime("08:00:00"), 8.0 / 24.0, 1e-12);
    EXPECT_NEAR(*DateTime::ParseTime("23:59:59"), 86399.0 / 86400.0, 1e-12);
    EXPECT_NEAR(*DateTime::ParseTime("8:30"), 8.5 / 24.0, 1e-12);
    EXPECT_NEAR(*DateTime::ParseTime("12:00:00 AM"), 0.0, 1e-12);
    EXPECT_NEAR(*DateTime::ParseTime("1:00:00 PM"), 13.0 / 24.0, 1e-12);
    for (const char* bad : {"", "24:00:00", "12:60:00", "ab:cd:ef", "08-00-00", "13:00 PM"}) {
        EXPECT_FALSE(DateTime::ParseTime(bad)) << bad;
    }
}

}  // namespace
}  // namespace quorvel
