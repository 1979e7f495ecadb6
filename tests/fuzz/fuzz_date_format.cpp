// Feeds arbitrary formats and values to the date-time formatter, with the
// English settings and with settings whose formats name other formats.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "actions/date_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(double)) {
        return 0;
    }
    double days = 0;
    std::memcpy(&days, data, sizeof(double));
    std::string_view format(reinterpret_cast<const char*>(data + sizeof(double)),
                            size - sizeof(double));
    static const quorvel::DateFormatSettings english = quorvel::DateFormatSettings::English();
    static const quorvel::DateFormatSettings looping = [] {
        quorvel::DateFormatSettings s;
        s.shortDateFormat = "ddddd c tt";
        s.longDateFormat = "dddddd 'x";
        s.shortTimeFormat = "t h am/pm";
        s.longTimeFormat = "tt c \"";
        s.timeAmString.clear();
        return s;
    }();
    const quorvel::DateTime value(days);
    const std::string a = quorvel::FormatDateTime(format, value, english);
    const std::string b = quorvel::FormatDateTime(format, value, looping);
    if (a.size() > format.size() * 64 + 64) {
        __builtin_trap();
    }
    // Translating a pattern and formatting the result must be safe as well.
    const std::string translated = quorvel::DateFormatFromStrftime(format);
    const std::string c = quorvel::FormatDateTime(translated, value, english);
    (void)b;
    (void)c;
    return 0;
}
