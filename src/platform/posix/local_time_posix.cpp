#include <time.h>

#include "platform/local_time.h"

namespace quorvel::platform {

EpochTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec)};
}

std::int64_t UtcOffsetAt(std::int64_t epochSeconds) {
    time_t t = static_cast<time_t>(epochSeconds);
    tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

}  // namespace quorvel::platform
