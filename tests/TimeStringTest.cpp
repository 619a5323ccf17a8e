#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "timecode/TimeString.hpp"

using keeptime::TimeString;

namespace {

TEST(TimeString, FormatsWholeSecondsDroppingTheFraction) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::tuple<double, const char*, const char*> cases[] = {  // seconds, duration, time code
        {0, "0:00", "00:00:00"}, {5.9, "0:05", "00:00:05"}, {59.999, "0:59", "00:00:59"}, {307, "5:07", "00:05:07"},
        {600, "10:00", "00:10:00"}, {3599.99, "59:59", "00:59:59"}, {3600, "1:00:00", "01:00:00"},
        {3661.5, "1:01:01", "01:01:01"}, {45296.75, "12:34:56", "12:34:56"}, {86400, "24:00:00", "24:00:00"},
        {90061, "25:01:01", "25:01:01"}, {360000, "100:00:00", "100:00:00"}, {-0.5, "0:00", "00:00:00"},
        {-5, "-0:05", "-00:00:05"}, {-3661, "-1:01:01", "-01:01:01"}, {std::nan(""), "--:--", "--:--:--"},
        {inf, "--:--", "--:--:--"}, {-inf, "--:--", "--:--:--"}, {9.3e18, "--:--", "--:--:--"},
        {9223372036854774784.0, "2562047788015215:13:04", "2562047788015215:13:04"},
    };
    for (const auto& [seconds, duration, timecode] : cases) {
        EXPECT_EQ(TimeString::durationString(seconds), duration) << seconds;
        EXPECT_EQ(TimeString::timecodeString(seconds), timecode) << seconds;
    }
}

}  // namespace
