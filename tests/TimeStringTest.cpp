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

TEST(TimeString, ParsesTypedText) {
    const std::pair<const char*, double> read[] = {
        {"", 0}, {":", 0}, {"::", 0}, {"5", 5}, {"1:02", 62}, {"01:02:03", 3723}, {"99:99:99", 362439}, {"1::2", 62},
        {":30", 30}, {"30:", 30}, {"0:75", 75}, {"1:2:3:4", 7384}, {"x:1:2:3", 3723}, {"10:00:00:12", 12}, {"+5", 5},
        {"-1:30", -30}, {"1:-30", 30}, {"9223372036854775807", 9223372036854775807.0},
    };
    for (const auto& [text, seconds] : read) EXPECT_EQ(TimeString::parseSeconds(text), seconds) << text;
    // The last three fit 64 bits piece by piece, but not in total.
    for (const char* text : {" 5", "1.5", "a", "1:b", "+", "5:-", "5 ", "9223372036854775808",
                             "2562047788015216:0:0", "1:9223372036854775807", "-9223372036854775807:-1:-1"})
        EXPECT_FALSE(TimeString::parseSeconds(text).has_value()) << text;
}

}  // namespace
