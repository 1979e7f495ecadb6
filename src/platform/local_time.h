#pragma once

#include <cstdint>

namespace quorvel::platform {

/// A moment as seconds and nanoseconds since the Unix epoch (UTC).
struct EpochTime {
    std::int64_t seconds = 0;
    std::int32_t nanoseconds = 0;
};

/// The current wall-clock time.
EpochTime Now();

/// The offset of local time from UTC, in seconds, in effect at the given
/// moment (daylight saving included).
std::int64_t UtcOffsetAt(std::int64_t epochSeconds);

/// Epoch seconds of a local date and time (the inverse of applying
/// UtcOffsetAt); an ambiguous or skipped local time resolves as the C
/// library's mktime does.
std::int64_t LocalToEpoch(int year, int month, int day, int hour, int minute, int second);

}  // namespace quorvel::platform
