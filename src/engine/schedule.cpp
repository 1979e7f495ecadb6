#include "engine/schedule.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr std::size_t kMaxScan = 8192;

}  // namespace

std::string Schedule::MonthDayMask(std::string_view monthDays) {
    std::string mask(31, '0');
    monthDays = monthDays.substr(0, std::min(monthDays.size(), kMaxScan));
    int last = 0;
    int rangeFrom = 0;
    std::size_t i = 0;
    while (i < monthDays.size()) {
        const char c = monthDays[i];
        if (c >= '0' && c <= '9') {
            long long n = 0;
            while (i < monthDays.size() && monthDays[i] >= '0' && monthDays[i] <= '9') {
                if (n < 1000) {
                    n = n * 10 + (monthDays[i] - '0');
                }
                ++i;
            }
            if (n < 1 || n > 31) {
                last = 0;
                continue;
            }
            const int day = static_cast<int>(n);
            mask[static_cast<std::size_t>(day - 1)] = '1';
            if (rangeFrom != 0) {
                const int lo = std::min(rangeFrom, day);
                const int hi = std::max(rangeFrom, day);
                for (int d = lo; d <= hi; ++d) {
                    mask[static_cast<std::size_t>(d - 1)] = '1';
                }
                rangeFrom = 0;
            }
            last = day;
            continue;
        }
        if (c == '-') {
            rangeFrom = last;
        } else if (c != ' ') {
            last = 0;
            rangeFrom = 0;
        }
        ++i;
    }
    return mask;
}

std::vector<DateTime> Schedule::ParseDateList(std::string_view text) {
    std::vector<DateTime> dates;
    text = text.substr(0, std::min(text.size(), kMaxScan));
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(",;", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (auto date = DateTime::ParseDate(text.substr(start, end - start))) {
            dates.push_back(date->DateOnly());
        }
        start = end + 1;
    }
    return dates;
}

std::optional<Schedule::Window> Schedule::ParseWindow(std::string_view line) {
    std::optional<double> start, end;
    if (line.size() >= 8) {
        start = DateTime::ParseTime(line.substr(0, 8));
    }
    if (line.size() >= 12) {
        end = DateTime::ParseTime(line.substr(11, 8));
    }
    if (!start || !end) {
        return std::nullopt;
    }
    return Window{*start, *end};
}

void Schedule::Apply(bool& workHours, std::vector<std::string>& timeIntervals,
                     const std::string& days, std::string_view monthDays,
                     std::string_view excludedDates, std::string_view includedDates) {
    m_windows.clear();
    for (auto it = timeIntervals.begin(); it != timeIntervals.end();) {
        const auto window = ParseWindow(*it);
        if (!window) {
            it = timeIntervals.erase(it);
            continue;
        }
        m_windows.push_back(*window);
        ++it;
    }
    if (m_windows.empty()) {
        workHours = false;
    }
    m_workHours = workHours;
    m_days = days;
    if (m_days.size() < 7) {
        m_days.resize(7, '0');
    }
    m_monthMask = MonthDayMask(monthDays);
    m_excluded = ParseDateList(excludedDates);
    m_included = ParseDateList(includedDates);
}

bool Schedule::Admits(DateTime now) const {
    const auto parts = now.Decode();
    if (!parts) {
        return false;
    }
    const DateTime today = now.DateOnly();
    const bool included =
        std::find(m_included.begin(), m_included.end(), today) != m_included.end();
    if (!included) {
        if (m_days[static_cast<std::size_t>(parts->dayOfWeek - 1)] != '1') {
            return false;
        }
        if (m_monthMask.find('1') != std::string::npos &&
            m_monthMask[static_cast<std::size_t>(parts->day - 1)] != '1') {
            return false;
        }
        if (std::find(m_excluded.begin(), m_excluded.end(), today) != m_excluded.end()) {
            return false;
        }
    }
    if (!m_workHours) {
        return true;
    }
    // Compare whole milliseconds so an inclusive edge is not lost to rounding.
    auto ms = [](double fraction) { return std::llround(fraction * 86400000.0); };
    const long long t = ms(now.TimeOfDay());
    for (const auto& w : m_windows) {
        const long long start = ms(w.start);
        const long long end = ms(w.end);
        if (start < end) {
            if (start <= t && t <= end) {
                return true;
            }
        } else if (t >= start || t <= end) {
            return true;
        }
    }
    return false;
}

DateTime Schedule::NextChange(DateTime now) const {
    const double today = std::floor(now.Days());
    double next = today + 1.0;  // midnight
    if (m_workHours) {
        const double t = now.TimeOfDay();
        // A window admits its end second inclusive, so the answer changes
        // one second after the end.
        constexpr double kSecond = 1.0 / 86400.0;
        for (const auto& w : m_windows) {
            for (double edge : {w.start, w.end + kSecond}) {
                if (edge > t + 1e-9 && edge < 1.0) {
                    next = std::min(next, today + edge);
                }
            }
        }
    }
    return DateTime(next);
}

}  // namespace quorvel
