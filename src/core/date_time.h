#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/local_time.h"

namespace quorvel {

/// A local date and time as days since 30 Dec 1899 00:00; the fraction is the
/// time of day. Texts use "dd.mm.yyyy" and "HH:nn:ss" whatever the locale.
class DateTime {
public:
    static constexpr double kUnixEpochDays = 25569.0;  // 1 Jan 1970
    static constexpr double kSecondsPerDay = 86400.0;

    constexpr DateTime() = default;
    constexpr explicit DateTime(double days) : m_days(days) {}

    constexpr double Days() const { return m_days; }
    auto operator<=>(const DateTime&) const = default;

    /// The current local date and time.
    static DateTime Now();
    /// A moment (for example a file's last-write time) as local time; the
    /// nanoseconds go into the fraction.
    static DateTime FromEpoch(platform::EpochTime moment);
    /// Nothing when the parts do not form a valid date or time.
    static std::optional<DateTime> FromParts(int year, int month, int day, int hour = 0,
                                             int minute = 0, int second = 0, int millisecond = 0);

    struct Parts {
        int year = 0, month = 0, day = 0;
        int hour = 0, minute = 0, second = 0, millisecond = 0;
        int dayOfWeek = 0;  ///< 1 = Sunday ... 7 = Saturday
    };
    /// Nothing for values that do not name a representable date (NaN, huge).
    std::optional<Parts> Decode() const;

    /// The whole day (time of day 0).
    DateTime DateOnly() const;
    /// The fraction of the day, 0 <= t < 1.
    double TimeOfDay() const;

    /// Reads a date "d.m.yyyy" (day first, "." separated; a two-digit year
    /// lands within 50 years of today; a missing year is the current one).
    static std::optional<DateTime> ParseDate(std::string_view text);
    /// Reads a time "h:n[:s[.zzz]]" with an optional "AM"/"PM"; answers the
    /// fraction of a day.
    static std::optional<double> ParseTime(std::string_view text);

    /// Epoch seconds of this local date and time.
    std::int64_t ToEpochSeconds() const;

private:
    double m_days = 0.0;
};

}  // namespace quorvel
