#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "timecode/TimeString.hpp"

using keeptime::TimeString;

namespace {

TEST(TimeString, FormatsWholeSecondsDroppingTheFraction) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> cases[] = {
        {0, "0:00"}, {59.999, "0:59"}, {3599.99, "59:59"}, {3600, "1:00:00"}, {90061, "25:01:01"}, {-0.5, "0:00"},
        {-3661, "-1:01:01"}, {std::nan(""), "--:--"}, {-inf, "--:--"}, {9.3e18, "--:--"},
        {9223372036854774784.0, "2562047788015215:13:04"}};
    for (const auto& [seconds, duration] : cases) EXPECT_EQ(TimeString::durationString(seconds), duration) << seconds;
}

}  // namespace
