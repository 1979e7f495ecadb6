#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quorvel::platform {

/// Names and formats of dates and times for the current LC_TIME locale. The
/// formats are strftime patterns ("%A, %B %-d, %Y"); in the "C" and "POSIX"
/// locales they are the English defaults.
struct LocaleNames {
    std::array<std::string, 12> monthNames;       ///< January first
    std::array<std::string, 12> shortMonthNames;  ///< January first
    std::array<std::string, 7> dayNames;          ///< Sunday first
    std::array<std::string, 7> shortDayNames;     ///< Sunday first
    std::string amString;                         ///< morning designator, may be empty
    std::string pmString;                         ///< afternoon designator, may be empty
    std::string longDateFormat;                   ///< date only, names spelt out
    std::string longTimeFormat;                   ///< time with seconds
};

/// Reads the names and formats of the locale currently set for LC_TIME.
/// Thread-safe as long as no other thread changes the locale meanwhile.
LocaleNames CurrentLocaleNames();

/// A long date pattern made from a locale's date-and-time pattern (the one
/// date(1) prints, "%a %b %e %H:%M:%S %Z %Y"): the time parts go and day and
/// month names are spelt out ("%A %B %e %Y").
std::string LongDateFromDateTimePattern(std::string_view pattern);

}  // namespace quorvel::platform
