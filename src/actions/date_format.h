#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/date_time.h"

namespace quorvel {

/// Names, formats and separators that the date-time formatting language uses.
/// Formats are written in the formatting language itself ("dd.mm.yyyy").
struct DateFormatSettings {
    std::string shortDateFormat = "dd.mm.yyyy";
    std::string longDateFormat = "dddd, mmmm d, yyyy";
    std::string shortTimeFormat = "HH:nn:ss";
    std::string longTimeFormat = "hh:nn:ss";
    std::string dateSeparator = ".";
    std::string timeSeparator = ":";
    std::array<std::string, 12> shortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> longMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    /// Sunday first.
    std::array<std::string, 7> shortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> longDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    std::string timeAmString = "AM";
    std::string timePmString = "PM";

    /// The fixed short formats and separators with English names.
    static DateFormatSettings English() { return DateFormatSettings(); }
    /// The fixed short formats and separators with the names, the long date
    /// format and the long time format of the current LC_TIME locale.
    static DateFormatSettings FromLocale();
    /// FromLocale as read at the first call; later locale changes are not seen.
    static const DateFormatSettings& System();
};

/// Appends value formatted by format (empty means "c") to out. A value that
/// cannot be formatted (NaN, outside the years 1 to 9999) appends "[time]".
/// At most about limit bytes are appended; formatting stops there.
void AppendDateTime(std::string& out, std::string_view format, DateTime value,
                    const DateFormatSettings& settings = DateFormatSettings::System(),
                    std::size_t limit = std::string::npos);

/// The formatted text of value; see AppendDateTime.
std::string FormatDateTime(std::string_view format, DateTime value,
                           const DateFormatSettings& settings = DateFormatSettings::System());

/// Translates a strftime pattern ("%d.%m.%Y %H:%M") into the formatting
/// language ("dd.mm.yyyy hh:nn"); literal text comes out quoted. Conversions
/// without an equivalent are dropped.
std::string DateFormatFromStrftime(std::string_view pattern);

}  // namespace quorvel
