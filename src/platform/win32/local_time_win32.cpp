#include <time.h>

#include "platform/local_time.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

EpochTime Now() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return win32::FileTimeToEpoch(now);
}

std::int64_t UtcOffsetAt(std::int64_t epochSeconds) {
    // The system's time zone rules for the year of that moment.
    const long long ticks = (epochSeconds + 11644473600LL) * 10000000LL;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utcTime{};
    SYSTEMTIME localTime{};
    if (!::FileTimeToSystemTime(&utc, &utcTime)) {
        return 0;
    }
    // The zone's rules for that year, so that past and future changes of
    // daylight saving dates count.
    TIME_ZONE_INFORMATION zone{};
    const bool haveYear = ::GetTimeZoneInformationForYear(utcTime.wYear, nullptr, &zone) != 0;
    if (!::SystemTimeToTzSpecificLocalTime(haveYear ? &zone : nullptr, &utcTime, &localTime)) {
        return 0;
    }
    FILETIME local{};
    if (!::SystemTimeToFileTime(&localTime, &local)) {
        return 0;
    }
    const long long localTicks = static_cast<long long>(
        (static_cast<unsigned long long>(local.dwHighDateTime) << 32) | local.dwLowDateTime);
    return (localTicks - ticks) / 10000000LL;
}

}  // namespace quorvel::platform
