#include "engine/schedule.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

DateTime At(int y, int m, int d, int h = 12, int n = 0, int s = 0) {
    return *DateTime::FromParts(y, m, d, h, n, s);
}

struct ScheduleBuilder {
    bool workHours = false;
    std::vector<std::string> windows;
    std::string days = "1111111";
    std::string monthDays;
    std::string excluded;
    std::string included;

    Schedule Build() {
        Schedule s;
        s.Apply(workHours, windows, days, monthDays, excluded, included);
        return s;
    }
};

TEST(ScheduleTest, MonthDayMaskReadsNumbersAndRanges) {
    auto mask = [](const char* text) { return Schedule::MonthDayMask(text); };
    EXPECT_EQ(mask(""), std::string(31, '0'));
    EXPECT_EQ(mask("1-5, 15, 20 - 22").substr(0, 22), "1111100000000010000111");
    EXPECT_EQ(mask("5-1"), mask("1-5"));
    EXPECT_EQ(mask("1-5-9").substr(0, 10), "1111111110");
    EXPECT_EQ(mask("1,-5").substr(0, 6), "100010");
    EXPECT_EQ(mask("0,32,99999999999999999"), std::string(31, '0'));
    EXPECT_EQ(mask("31")[30], '1');
}

TEST(ScheduleTest, DaysOfWeekAndMonth) {
    ScheduleBuilder b;
    b.days = "0000000";
    EXPECT_FALSE(b.Build().Admits(At(2026, 12, 7)));
    b.days = "111";  // lengthened with days that are not allowed
    Schedule s = b.Build();
    EXPECT_TRUE(s.Admits(At(2026, 12, 6)));   // Sunday
    EXPECT_TRUE(s.Admits(At(2026, 12, 8)));   // Tuesday
    EXPECT_FALSE(s.Admits(At(2026, 12, 9)));  // Wednesday
    ScheduleBuilder m;
    m.monthDays = "31";
    Schedule month = m.Build();
    EXPECT_FALSE(month.Admits(At(2026, 11, 30)));
    EXPECT_TRUE(month.Admits(At(2026, 12, 31)));
}

TEST(ScheduleTest, IncludedDatesOverrideDaysAndExclusionsButNotWorkingHours) {
    ScheduleBuilder b;
    b.days = "0000000";
    b.excluded = "07.12.2026; 08.12.2026";
    b.included = "07.12.2026, garbage";
    b.workHours = true;
    b.windows = {"08:00:00 - 17:00:00"};
    Schedule s = b.Build();
    EXPECT_TRUE(s.Admits(At(2026, 12, 7, 9)));
    EXPECT_FALSE(s.Admits(At(2026, 12, 7, 18)));
    EXPECT_FALSE(s.Admits(At(2026, 12, 8, 9)));
}

TEST(ScheduleTest, WindowsAcrossMidnightAndInclusiveEdges) {
    ScheduleBuilder b;
    b.workHours = true;
    b.windows = {"22:00:00 - 06:00:00"};
    Schedule night = b.Build();
    EXPECT_TRUE(night.Admits(At(2026, 12, 7, 23, 30)));
    EXPECT_TRUE(night.Admits(At(2026, 12, 7, 5)));
    EXPECT_FALSE(night.Admits(At(2026, 12, 7, 12)));
    EXPECT_TRUE(night.Admits(At(2026, 12, 7, 22, 0, 0)));
    EXPECT_TRUE(night.Admits(At(2026, 12, 7, 6, 0, 0)));
    EXPECT_FALSE(night.Admits(At(2026, 12, 7, 6, 0, 1)));

    b.windows = {"00:00:00 - 00:00:00"};
    Schedule all = b.Build();
    EXPECT_TRUE(all.Admits(At(2026, 12, 7, 0)));
    EXPECT_TRUE(all.Admits(At(2026, 12, 7, 13, 37)));
}

TEST(ScheduleTest, UnreadableWindowsAreRemovedAndWorkHoursSwitchedOff) {
    bool workHours = true;
    std::vector<std::string> windows = {"8 to 5", "25:00:00 - 26:00:00"};
    Schedule s;
    s.Apply(workHours, windows, "1111111", "", "", "");
    EXPECT_FALSE(workHours);
    EXPECT_TRUE(windows.empty());
    EXPECT_TRUE(s.Admits(At(2026, 12, 7, 3)));

    workHours = true;
    windows = {"bad", "09:00:00 - 10:00:00"};
    s.Apply(workHours, windows, "1111111", "", "", "");
    EXPECT_TRUE(workHours);
    EXPECT_EQ(windows, std::vector<std::string>{"09:00:00 - 10:00:00"});
}

TEST(ScheduleTest, NextChangeIsTheNextWindowEdgeOrMidnight) {
    ScheduleBuilder b;
    Schedule plain = b.Build();
    EXPECT_DOUBLE_EQ(plain.NextChange(At(2026, 12, 7, 13)).Days(), At(2026, 12, 8, 0).Days());
    b.workHours = true;
    b.windows = {"08:00:00 - 17:00:00"};
    Schedule s = b.Build();
    EXPECT_NEAR(s.NextChange(At(2026, 12, 7, 7)).Days(), At(2026, 12, 7, 8).Days(), 1e-9);
    EXPECT_NEAR(s.NextChange(At(2026, 12, 7, 9)).Days(), At(2026, 12, 7, 17, 0, 1).Days(), 1e-9);
    EXPECT_NEAR(s.NextChange(At(2026, 12, 7, 18)).Days(), At(2026, 12, 8, 0).Days(), 1e-9);
}

}  // namespace
}  // namespace quorvel
