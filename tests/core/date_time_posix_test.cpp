#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/date_time.h"

// The C library's time zone rules, switched through TZ.

namespace quorvel {
namespace {

TEST(DateTimeTest, FileTimesBecomeLocalTimeWithTheirFraction) {
    setenv("TZ", "UTC", 1);
    tzset();
    platform::EpochTime moment{86400 + 3600, 500000000};
    DateTime t = DateTime::FromEpoch(moment);
    EXPECT_NEAR(t.Days(), 25570.0 + (3600.5 / 86400.0), 1e-9);
    setenv("TZ", "CET-1", 1);
    tzset();
    EXPECT_NEAR(DateTime::FromEpoch(moment).Days() - t.Days(), 1.0 / 24.0, 1e-9);
    EXPECT_EQ(DateTime::FromEpoch(moment).ToEpochSeconds(), moment.seconds);
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace quorvel
