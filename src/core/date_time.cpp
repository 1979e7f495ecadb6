#include "core/date_time.h"

#include <cmath>
#include <string>

#include "core/text_util.h"

namespace quorvel {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads up to maxDigits decimal digits; nothing when there are none.
std::optional<int> ReadNumber(std::string_view& text, std::size_t maxDigits) {
    std::size_t i = 0;
    int value = 0;
    while (i < text.size() && i < maxDigits && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (i == 0) {
        return std::nullopt;
    }
    text.remove_prefix(i);
    return value;
}

}  // namespace

DateTime DateTime::Now() {
    return FromEpoch(platform::Now());
}

DateTime DateTime::FromEpoch(platform::EpochTime moment) {
    const std::int64_t local = moment.seconds + platform::UtcOffsetAt(moment.seconds);
    std::int64_t days = local / 86400;
    std::int64_t seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    return DateTime(kUnixEpochDays + static_cast<double>(days) +
                    (static_cast<double>(seconds) + moment.nanoseconds * 1e-9) / kSecondsPerDay);
}

std::optional<DateTime> DateTime::FromParts(int year, int month, int day, int hour, int minute,
                                            int second, int millisecond) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || millisecond < 0 || millisecond > 999) {
        return std::nullopt;
    }
    const double days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                          static_cast<unsigned>(day))) +
                        kUnixEpochDays;
    const double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) /
                        (kSecondsPerDay * 1000.0);
    return DateTime(days + time);
}

std::optional<DateTime::Parts> DateTime::Decode() const {
    if (!std::isfinite(m_days) || m_days < -693593.0 || m_days > 2958466.0) {
        return std::nullopt;
    }
    double whole = std::floor(m_days);
    auto ms = static_cast<std::int64_t>(std::llround((m_days - whole) * kSecondsPerDay * 1000.0));
    if (ms >= 86400000) {
        ms -= 86400000;
        whole += 1.0;
    }
    const auto dayNumber = static_cast<std::int64_t>(whole);
    Parts p;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(dayNumber - static_cast<std::int64_t>(kUnixEpochDays), y, m, d);
    p.year = static_cast<int>(y);
    p.month = static_cast<int>(m);
    p.day = static_cast<int>(d);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    // Day 0 (30 Dec 1899) was a Saturday.
    std::int64_t wd = (dayNumber + 6) % 7;
    if (wd < 0) {
        wd += 7;
    }
    p.dayOfWeek = static_cast<int>(wd) + 1;
    return p;
}

DateTime DateTime::DateOnly() const {
    return DateTime(std::floor(m_days));
}

double DateTime::TimeOfDay() const {
    return m_days - std::floor(m_days);
}

std::optional<DateTime> DateTime::ParseDate(std::string_view text) {
    text = TrimBlanks(text);
    auto day = ReadNumber(text, 2);
    if (!day || text.empty() || text[0] != '.') {
        return std::nullopt;
    }
    text.remove_prefix(1);
    auto month = ReadNumber(text, 2);
    if (!month) {
        return std::nullopt;
    }
    int year = 0;
    auto now = Now().Decode();
    const int thisYear = now ? now->year : 2000;
    if (text.empty()) {
        year = thisYear;
    } else {
        if (text[0] != '.') {
            return std::nullopt;
        }
        text.remove_prefix(1);
        std::size_t before = text.size();
        auto y = ReadNumber(text, 4);
        if (!y || !text.empty()) {
            return std::nullopt;
        }
        year = *y;
        if (before - text.size() <= 2) {
            // Two-digit years fall within 50 years of today.
            year += thisYear / 100 * 100;
            if (year > thisYear + 50) {
                year -= 100;
            } else if (year < thisYear - 50) {
                year += 100;
            }
        }
    }
    return FromParts(year, *month, *day);
}

std::optional<double> DateTime::ParseTime(std::string_view text) {
    text = TrimBlanks(text);
    auto hour = ReadNumber(text, 2);
    if (!hour || text.empty() || text[0] != ':') {
        return std::nullopt;
    }
    text.remove_prefix(1);
    auto minute = ReadNumber(text, 2);
    if (!minute) {
        return std::nullopt;
    }
    int second = 0, ms = 0;
    if (!text.empty() && text[0] == ':') {
        text.remove_prefix(1);
        auto s = ReadNumber(text, 2);
        if (!s) {
            return std::nullopt;
        }
        second = *s;
        if (!text.empty() && text[0] == '.') {
            text.remove_prefix(1);
            auto z = ReadNumber(text, 3);
            if (!z) {
                return std::nullopt;
            }
            ms = *z;
        }
    }
    int h = *hour;
    text = TrimBlanks(text);
    if (!text.empty()) {
        bool pm = EqualsIgnoreCase(text, "PM");
        if (!pm && !EqualsIgnoreCase(text, "AM")) {
            return std::nullopt;
        }
        if (h < 1 || h > 12) {
            return std::nullopt;
        }
        h = h % 12 + (pm ? 12 : 0);
    }
    if (h > 23 || *minute > 59 || second > 59) {
        return std::nullopt;
    }
    return (h * 3600000.0 + *minute * 60000.0 + second * 1000.0 + ms) / (kSecondsPerDay * 1000.0);
}

std::int64_t DateTime::ToEpochSeconds() const {
    auto p = Decode();
    if (!p) {
        return 0;
    }
    return platform::LocalToEpoch(p->year, p->month, p->day, p->hour, p->minute, p->second);
}

}  // namespace quorvel
