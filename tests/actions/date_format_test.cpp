#include "actions/date_format.h"
#include "platform/locale_names.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>

namespace quorvel {
namespace {

DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s, ms);
}

class DateFormatTest : public ::testing::Test {
protected:
    std::string F(std::string_view format, DateTime value) const {
        return FormatDateTime(format, value, m_settings);
    }
    std::string F(std::string_view format) const { return F(format, m_value); }

    DateFormatSettings m_settings = DateFormatSettings::English();
    // A Saturday afternoon.
    DateTime m_value = At(2002, 6, 15, 14, 30, 5, 7);
};

TEST_F(DateFormatTest, DayDirectives) {
    const DateTime early = At(2002, 6, 5, 9, 5, 3);
    EXPECT_EQ(F("d", early), "5");
    EXPECT_EQ(F("dd", early), "05");
    EXPECT_EQ(F("d"), "15");
    EXPECT_EQ(F("ddd"), "Sat");
    EXPECT_EQ(F("dddd"), "Saturday");
    EXPECT_EQ(F("ddddd"), "15.06.2002");
    EXPECT_EQ(F("dddddd"), "Saturday, June 15, 2002");
    EXPECT_EQ(F("ddddddd"), "Saturday, June 15, 2002");
    EXPECT_EQ(F("dddd", At(2002, 6, 16)), "Sunday");
    EXPECT_EQ(F("ddd", At(2002, 6, 14)), "Fri");
}

TEST_F(DateFormatTest, MonthAndYearDirectives) {
    EXPECT_EQ(F("m"), "6");
    EXPECT_EQ(F("mm"), "06");
    EXPECT_EQ(F("mmm"), "Jun");
    EXPECT_EQ(F("mmmm"), "June");
    EXPECT_EQ(F("mmmmm"), "June");
    EXPECT_EQ(F("mm", At(2002, 12, 1)), "12");
    EXPECT_EQ(F("y"), "02");
    EXPECT_EQ(F("yy"), "02");
    EXPECT_EQ(F("yyy"), "2002");
    EXPECT_EQ(F("yyyy"), "2002");
    EXPECT_EQ(F("yyyy", At(5, 1, 1)), "0005");
    EXPECT_EQ(F("yy", At(1999, 1, 1)), "99");
}

TEST_F(DateFormatTest, TimeDirectives) {
    const DateTime early = At(2002, 6, 5, 9, 5, 3, 40);
    EXPECT_EQ(F("h", early), "9");
    EXPECT_EQ(F("hh", early), "09");
    EXPECT_EQ(F("hhh", early), "09");
    EXPECT_EQ(F("n", early), "5");
    EXPECT_EQ(F("nn", early), "05");
    EXPECT_EQ(F("nnn", early), "05");
    EXPECT_EQ(F("s", early), "3");
    EXPECT_EQ(F("ss", early), "03");
    EXPECT_EQ(F("z", early), "40");
    EXPECT_EQ(F("zz", early), "40");
    EXPECT_EQ(F("zzz", early), "040");
    EXPECT_EQ(F("zzzz", early), "040");
    EXPECT_EQ(F("z"), "7");
    EXPECT_EQ(F("zzz"), "007");
    EXPECT_EQ(F("hh:nn:ss"), "14:30:05");
    EXPECT_EQ(F("t"), "14:30:05");
    EXPECT_EQ(F("tt"), "14:30:05");
    m_settings.longTimeFormat = "h:nn:ss am/pm";
    EXPECT_EQ(F("tt"), "2:30:05 pm");
    EXPECT_EQ(F("t"), "14:30:05");
}

TEST_F(DateFormatTest, MAfterHourMeansMinutes) {
    EXPECT_EQ(F("hh:mm"), "14:30");
    EXPECT_EQ(F("h:m"), "14:30");
    EXPECT_EQ(F("hh mm"), "14 30");
    EXPECT_EQ(F("hh\"x\"mm"), "14x30");
    EXPECT_EQ(F("hh:mmm"), "14:30");
    EXPECT_EQ(F("mm"), "06");
    EXPECT_EQ(F("hh dd mm"), "14 15 06");
    EXPECT_EQ(F("mm hh"), "06 14");
    // Repeats only count with the same case.
    EXPECT_EQ(F("Hh"), "1414");
    EXPECT_EQ(F("Dd"), "1515");
}

TEST_F(DateFormatTest, TwelveHourClock) {
    EXPECT_EQ(F("h:nn am/pm"), "2:30 pm");
    EXPECT_EQ(F("h:nn AM/PM"), "2:30 PM");
    EXPECT_EQ(F("h:nn Am/pM"), "2:30 pM");
    EXPECT_EQ(F("h:nn Am/pM", At(2002, 6, 15, 9, 30)), "9:30 Am");
    EXPECT_EQ(F("h a/p"), "2 p");
    EXPECT_EQ(F("h A/P", At(2002, 6, 15, 9)), "9 A");
    EXPECT_EQ(F("hh ampm"), "02 PM");
    EXPECT_EQ(F("hh ampm", At(2002, 6, 15, 0, 15)), "12 AM");
    EXPECT_EQ(F("h am/pm", At(2002, 6, 15, 12)), "12 pm");
    EXPECT_EQ(F("h am/pm", At(2002, 6, 15, 23)), "11 pm");
    // A designator before the hour sets the clock too.
    EXPECT_EQ(F("am/pm h"), "pm 2");
    // Quoted designators and designators after the next hour do not count.
    EXPECT_EQ(F("h 'am/pm'"), "14 am/pm");
    EXPECT_EQ(F("h h am/pm"), "14 2 pm");
    m_settings.timeAmString = "vorm.";
    m_settings.timePmString = "nachm.";
    EXPECT_EQ(F("ampm"), "nachm.");
    EXPECT_EQ(F("AMPM", At(2002, 6, 15, 11, 59)), "vorm.");
    m_settings.timePmString.clear();
    EXPECT_EQ(F("h ampm"), "2 ");
}

TEST_F(DateFormatTest, CombinedFormatAndEmptyFormat) {
    EXPECT_EQ(F("c"), "15.06.2002 14:30:05");
    EXPECT_EQ(F(""), "15.06.2002 14:30:05");
    EXPECT_EQ(F("c", At(2002, 6, 15)), "15.06.2002");
    EXPECT_EQ(F("", At(2002, 6, 15)), "15.06.2002");
    EXPECT_EQ(F("c", At(2002, 6, 15, 0, 0, 0, 1)), "15.06.2002 00:00:00");
    EXPECT_EQ(F("cc|c", At(2002, 6, 15)), "15.06.2002|15.06.2002");
}

TEST_F(DateFormatTest, SeparatorsQuotesAndOtherCharacters) {
    EXPECT_EQ(F("dd/mm/yyyy hh:nn"), "15.06.2002 14:30");
    m_settings.dateSeparator = "-";
    m_settings.timeSeparator = "h";
    EXPECT_EQ(F("dd/mm hh:nn"), "15-06 14h30");
    m_settings.dateSeparator.clear();
    EXPECT_EQ(F("dd/mm"), "1506");
    EXPECT_EQ(F("'yyyy'"), "yyyy");
    EXPECT_EQ(F("\"dd/mm\""), "dd/mm");
    EXPECT_EQ(F("'it''s'"), "its");
    EXPECT_EQ(F("\"a'b\""), "a'b");
    EXPECT_EQ(F("yyyy 'unterminated"), "2002 unterminated");
    EXPECT_EQ(F("''"), "");
    EXPECT_EQ(F("x#b-a-aaa"), "x#b-a-aaa");
    EXPECT_EQ(F("\xC3\xA9 yyyy"), "\xC3\xA9 2002");
}

TEST_F(DateFormatTest, UnformattableValuesGiveTimeMarker) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(F("yyyy", DateTime(nan)), "[time]");
    EXPECT_EQ(F("", DateTime(inf)), "[time]");
    EXPECT_EQ(F("'before' hh", DateTime(-inf)), "[time]");
    EXPECT_EQ(F("dddd", DateTime(1e7)), "[time]");
    EXPECT_EQ(F("c", DateTime(-700000.0)), "[time]");
    EXPECT_EQ(F("ampm", DateTime(nan)), "[time]");
    // Formats that need no part of the value still work.
    EXPECT_EQ(F("'fixed' x", DateTime(nan)), "fixed x");
    // The edges of the representable range.
    EXPECT_EQ(F("yyyy-mm-dd", DateTime(-693593.0)), "0001-01-01");
    EXPECT_EQ(F("yyyy-mm-dd", DateTime(2958465.5)), "9999-12-31");
    EXPECT_EQ(F("yyyy-mm-dd", DateTime(-1.0)), "1899-12-29");

    std::string out = "prefix ";
    AppendDateTime(out, "'x' yyyy", DateTime(nan), m_settings);
    EXPECT_EQ(out, "prefix [time]");
}

TEST_F(DateFormatTest, FormatsThatNameThemselvesEnd) {
    m_settings.shortDateFormat = "ddddd c";
    m_settings.longDateFormat = "dddddd";
    m_settings.longTimeFormat = "tt c";
    // Formats are followed two levels deep: only the blanks remain.
    EXPECT_EQ(F("ddddd"), "  ");
    EXPECT_EQ(F("dddddd"), "");
    EXPECT_EQ(F("c"), "     ");
}

TEST_F(DateFormatTest, NamesComeFromTheSettings) {
    m_settings.longDayNames[6] = "Samstag";
    m_settings.shortDayNames[6] = "Sa";
    m_settings.longMonthNames[5] = "Juni";
    m_settings.shortMonthNames[5] = "Jun.";
    m_settings.longDateFormat = "dddd, d. mmmm yyyy";
    EXPECT_EQ(F("dddddd"), "Samstag, 15. Juni 2002");
    EXPECT_EQ(F("ddd d mmm"), "Sa 15 Jun.");
}

TEST_F(DateFormatTest, StrftimePatternsTranslate) {
    auto viaStrftime = [&](std::string_view pattern) { return F(DateFormatFromStrftime(pattern)); };
    EXPECT_EQ(viaStrftime("%A, %B %-d, %Y"), "Saturday, June 15, 2002");
    EXPECT_EQ(viaStrftime("%a %b %e %y"), "Sat Jun 15 02");
    EXPECT_EQ(viaStrftime("%d.%m.%Y"), "15.06.2002");
    EXPECT_EQ(viaStrftime("%H:%M:%S"), "14:30:05");
    EXPECT_EQ(viaStrftime("%I:%M:%S %p"), "02:30:05 PM");
    EXPECT_EQ(viaStrftime("%l:%M %P"), "2:30 PM");
    EXPECT_EQ(viaStrftime("%T|%R"), "14:30:05|14:30");
    EXPECT_EQ(viaStrftime("%D"), "06/15/02");
    EXPECT_EQ(viaStrftime("%F"), "2002-06-15");
    // Literal letters and quotes stay literal; same-letter neighbours stay apart.
    EXPECT_EQ(viaStrftime("%Hh%M"), "14h30");
    EXPECT_EQ(viaStrftime("%d%d"), "1515");
    EXPECT_EQ(viaStrftime("say \"%Y\" 'x'"), "say \"2002\" 'x'");
    EXPECT_EQ(viaStrftime("100%% %n%t"), "100% \n\t");
    // Unknown conversions and a lone percent at the end are dropped.
    EXPECT_EQ(viaStrftime("%Q%Y%"), "2002");
    EXPECT_EQ(viaStrftime("%Ey %Od %_5m"), "02 15 6");
    EXPECT_EQ(DateFormatFromStrftime(""), "");
}

TEST(DateFormatLocaleTest, TheCLocaleGivesEnglishNames) {
    if (test::OnWindows()) {
        GTEST_SKIP() << "the names come from the user's locale there, not the C library's";
    }
    const std::string old = std::setlocale(LC_TIME, nullptr);
    ASSERT_NE(std::setlocale(LC_TIME, "C"), nullptr);
    const DateFormatSettings s = DateFormatSettings::FromLocale();
    std::setlocale(LC_TIME, old.c_str());
    EXPECT_EQ(s.longMonthNames[0], "January");
    EXPECT_EQ(s.shortMonthNames[11], "Dec");
    EXPECT_EQ(s.longDayNames[0], "Sunday");
    EXPECT_EQ(s.shortDayNames[6], "Sat");
    EXPECT_EQ(s.timeAmString, "AM");
    EXPECT_EQ(s.timePmString, "PM");
    // The short formats and separators are fixed whatever the locale.
    EXPECT_EQ(s.shortDateFormat, "dd.mm.yyyy");
    EXPECT_EQ(s.shortTimeFormat, "HH:nn:ss");
    EXPECT_EQ(s.dateSeparator, ".");
    EXPECT_EQ(s.timeSeparator, ":");
    const DateTime value = At(2002, 6, 15, 14, 30, 5);
    EXPECT_EQ(FormatDateTime("dddddd", value, s), "Saturday, June 15, 2002");
    EXPECT_EQ(FormatDateTime("tt", value, s), "14:30:05");
    EXPECT_EQ(FormatDateTime("c", value, s), "15.06.2002 14:30:05");
}

TEST(DateFormatLocaleTest, EveryInstalledLocaleGivesUsableFormats) {
    const std::string old = std::setlocale(LC_TIME, nullptr);
    const DateTime value = At(2002, 6, 15, 14, 30, 5);
    for (const char* name : {"C.UTF-8", "en_US.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8"}) {
        if (std::setlocale(LC_TIME, name) == nullptr) {
            continue;
        }
        const DateFormatSettings s = DateFormatSettings::FromLocale();
        const std::string longDate = FormatDateTime("dddddd", value, s);
        const std::string longTime = FormatDateTime("tt", value, s);
        EXPECT_NE(longDate.find("2002"), std::string::npos) << name << ": " << longDate;
        EXPECT_NE(longTime.find("30"), std::string::npos) << name << ": " << longTime;
        EXPECT_NE(longDate, "[time]") << name;
    }
    std::setlocale(LC_TIME, old.c_str());
}

TEST(DateFormatLocaleTest, LongDateComesFromTheDateTimePattern) {
    using platform::LongDateFromDateTimePattern;
    EXPECT_EQ(LongDateFromDateTimePattern("%a %b %e %H:%M:%S %Z %Y"), "%A %B %e %Y");
    EXPECT_EQ(LongDateFromDateTimePattern("%a %b %e %r %Z %Y"), "%A %B %e %Y");
    EXPECT_EQ(LongDateFromDateTimePattern("%a %-d. %b %H:%M:%S %Z %Y"), "%A %-d. %B %Y");
    EXPECT_EQ(LongDateFromDateTimePattern("%Y\xE5\xB9\xB4 %b %e\xE6\x97\xA5 %A %H:%M:%S %Z"),
              "%Y\xE5\xB9\xB4 %B %e\xE6\x97\xA5 %A");
    EXPECT_EQ(LongDateFromDateTimePattern("%H:%M"), "");
    EXPECT_EQ(LongDateFromDateTimePattern(""), "");
    EXPECT_EQ(LongDateFromDateTimePattern("%"), "");
}

TEST(DateFormatLocaleTest, DefaultSettingsAreReadOnce) {
    const DateFormatSettings& a = DateFormatSettings::System();
    const DateFormatSettings& b = DateFormatSettings::System();
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", At(2002, 6, 15, 14, 30, 5)),
              "2002-06-15 14:30:05");
}

}  // namespace
}  // namespace quorvel
