#include "platform/locale_names.h"

#include <langinfo.h>
#include <locale.h>

#include <string_view>
#include <vector>

#include "platform/strftime_pattern.h"

namespace quorvel::platform {

namespace {

std::string Info(nl_item item) {
    const char* text = nl_langinfo(item);
    return text != nullptr ? std::string(text) : std::string();
}

bool IsPlainCLocale() {
    const char* name = setlocale(LC_TIME, nullptr);
    if (name == nullptr) {
        return true;
    }
    std::string_view n(name);
    return n == "C" || n == "POSIX" || n.starts_with("C.");
}

// Replaces the locale's composite conversions (%r, %X, %x, %c) by their
// patterns, one level deep, so that readers only meet plain conversions.
std::string ExpandComposites(std::string_view pattern) {
    std::string out;
    for (const StrftimePiece& p : SplitStrftimePattern(pattern)) {
        switch (p.conversion) {
            case 'r':
                out += Info(T_FMT_AMPM);
                break;
            case 'X':
                out += Info(T_FMT);
                break;
            case 'x':
                out += Info(D_FMT);
                break;
            case 'c':
                out += Info(D_T_FMT);
                break;
            default:
                out += p.text;
                break;
        }
    }
    return out;
}

}  // namespace

LocaleNames CurrentLocaleNames() {
    LocaleNames names;
    static constexpr nl_item kMonths[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                            MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    static constexpr nl_item kShortMonths[12] = {ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                                 ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                                 ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static constexpr nl_item kDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
    static constexpr nl_item kShortDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                              ABDAY_5, ABDAY_6, ABDAY_7};
    for (int i = 0; i < 12; ++i) {
        names.monthNames[i] = Info(kMonths[i]);
        names.shortMonthNames[i] = Info(kShortMonths[i]);
    }
    for (int i = 0; i < 7; ++i) {
        names.dayNames[i] = Info(kDays[i]);
        names.shortDayNames[i] = Info(kShortDays[i]);
    }
    names.amString = Info(AM_STR);
    names.pmString = Info(PM_STR);
    if (IsPlainCLocale()) {
        names.longDateFormat = "%A, %B %-d, %Y";
        names.longTimeFormat = "%H:%M:%S";
    } else {
        std::string dateTime = Info(_DATE_FMT);
        if (dateTime.empty()) {
            dateTime = Info(D_FMT);
        }
        names.longDateFormat = LongDateFromDateTimePattern(dateTime);
        if (names.longDateFormat.empty()) {
            names.longDateFormat = ExpandComposites(Info(D_FMT));
        }
        names.longTimeFormat = ExpandComposites(Info(T_FMT));
        if (names.longTimeFormat.empty()) {
            names.longTimeFormat = "%H:%M:%S";
        }
    }
    return names;
}

}  // namespace quorvel::platform
