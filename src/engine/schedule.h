#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/date_time.h"

namespace quorvel {

/// The moments an item may check: working-hour windows, days of the week,
/// days of the month, excluded and included dates.
class Schedule {
public:
    struct Window {
        double start;  ///< fraction of a day
        double end;
    };

    /// Builds the derived data. Lines of timeIntervals that do not read as
    /// two times are removed from the list (so they are gone from the next
    /// save); workHours is switched off when no window is left.
    void Apply(bool& workHours, std::vector<std::string>& timeIntervals, const std::string& days,
               std::string_view monthDays, std::string_view excludedDates,
               std::string_view includedDates);

    bool Admits(DateTime now) const;

    /// The next moment after now at which Admits may change its answer (a
    /// window's edge or the next midnight).
    DateTime NextChange(DateTime now) const;

    /// A "TimeInterval" line: the start time in characters 1 to 8, the end
    /// time in characters 12 to 19; nothing when either does not read.
    static std::optional<Window> ParseWindow(std::string_view line);
    /// 31 characters "0"/"1", position d-1 for day d.
    static std::string MonthDayMask(std::string_view monthDays);
    /// Dates separated by "," or ";" ("dd.mm.yyyy"); unreadable pieces skipped.
    static std::vector<DateTime> ParseDateList(std::string_view text);

    const std::vector<Window>& Windows() const { return m_windows; }
    const std::string& MonthMask() const { return m_monthMask; }

private:
    bool m_workHours = false;
    std::string m_days = "1111111";
    std::string m_monthMask = std::string(31, '0');
    std::vector<Window> m_windows;
    std::vector<DateTime> m_excluded;
    std::vector<DateTime> m_included;
};

}  // namespace quorvel
