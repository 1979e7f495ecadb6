#include "platform/locale_names.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

std::string Info(LCTYPE type) {
    wchar_t buffer[128];
    const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 128);
    return n > 1 ? win32::Narrow(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)))
                 : std::string();
}

// A Windows date or time picture ("dddd, MMMM d, yyyy", "h:mm:ss tt") as a
// strftime pattern; text in single quotes is literal.
std::string PictureToStrftime(std::string_view picture) {
    std::string out;
    std::size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            const auto end = picture.find('\'', i + 1);
            const auto stop = end == std::string_view::npos ? picture.size() : end;
            if (stop == i + 1) {
                out += '\'';  // '' is a quote
            }
            for (auto k = i + 1; k < stop; ++k) {
                out += picture[k] == '%' ? std::string("%%") : std::string(1, picture[k]);
            }
            i = stop + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) {
            ++run;
        }
        switch (c) {
            case 'd':
                out += run == 1 ? "%-d" : run == 2 ? "%d" : run == 3 ? "%a" : "%A";
                break;
            case 'M':
                out += run == 1 ? "%-m" : run == 2 ? "%m" : run == 3 ? "%b" : "%B";
                break;
            case 'y':
                out += run <= 2 ? "%y" : "%Y";
                break;
            case 'h':
                out += run == 1 ? "%-I" : "%I";
                break;
            case 'H':
                out += run == 1 ? "%-H" : "%H";
                break;
            case 'm':
                out += run == 1 ? "%-M" : "%M";
                break;
            case 's':
                out += run == 1 ? "%-S" : "%S";
                break;
            case 't':
                out += "%p";
                break;
            case 'g':
                break;  // the era: none in the Gregorian calendar
            case '%':
                out.append(run * 2, '%');
                break;
            default:
                out.append(run, c);
                break;
        }
        i += run;
    }
    return out;
}

}  // namespace

LocaleNames CurrentLocaleNames() {
    LocaleNames names;
    for (int i = 0; i < 12; ++i) {
        names.monthNames[i] = Info(LOCALE_SMONTHNAME1 + i);
        names.shortMonthNames[i] = Info(LOCALE_SABBREVMONTHNAME1 + i);
    }
    // Windows counts the days from Monday.
    for (int i = 0; i < 7; ++i) {
        const int windowsDay = (i + 6) % 7;
        names.dayNames[i] = Info(LOCALE_SDAYNAME1 + windowsDay);
        names.shortDayNames[i] = Info(LOCALE_SABBREVDAYNAME1 + windowsDay);
    }
    names.amString = Info(LOCALE_S1159);
    names.pmString = Info(LOCALE_S2359);
    names.longDateFormat = PictureToStrftime(Info(LOCALE_SLONGDATE));
    names.longTimeFormat = PictureToStrftime(Info(LOCALE_STIMEFORMAT));
    if (names.longDateFormat.empty()) {
        names.longDateFormat = "%A, %B %-d, %Y";
    }
    if (names.longTimeFormat.empty()) {
        names.longTimeFormat = "%H:%M:%S";
    }
    return names;
}

}  // namespace quorvel::platform
