#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "timecode/TimeString.hpp"

using keeptime::TimeString;

namespace {

struct Formatted {
    double seconds;
    const char* text;
};

TEST(TimeString, DurationForm) {
    const Formatted cases[] = {
        {0, "0:00"},          {5.9, "0:05"},         {59.999, "0:59"},     {61, "1:01"},
        {599, "9:59"},        {600, "10:00"},        {3599.99, "59:59"},   {3600, "1:00:00"},
        {3661.5, "1:01:01"},  {35999, "9:59:59"},    {86400, "24:00:00"},  {90061, "25:01:01"},
        {360000, "100:00:00"}, {-0.5, "0:00"},       {-5, "-0:05"},        {-3661, "-1:01:01"},
    };
    for (const auto& c : cases) EXPECT_EQ(TimeString::durationString(c.seconds), c.text) << c.seconds;
}

TEST(TimeString, TimecodeForm) {
    const Formatted cases[] = {
        {0, "00:00:00"},        {307, "00:05:07"},     {3661.5, "01:01:01"},  {35999, "09:59:59"},
        {36000, "10:00:00"},    {45296.75, "12:34:56"}, {86399, "23:59:59"}, {86400, "24:00:00"},
        {90061, "25:01:01"},    {360000, "100:00:00"}, {-0.5, "00:00:00"},   {-5, "-00:00:05"},
    };
    for (const auto& c : cases) EXPECT_EQ(TimeString::timecodeString(c.seconds), c.text) << c.seconds;
}

TEST(TimeString, UnrepresentableInputStillGivesText) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {std::nan(""), inf, -inf, 9.3e18, -9.3e18, 9223372036854775808.0}) {
        EXPECT_EQ(TimeString::durationString(bad), "--:--") << bad;
        EXPECT_EQ(TimeString::timecodeString(bad), "--:--:--") << bad;
    }
    // The largest whole value below 2^63 is still written out.
    EXPECT_EQ(TimeString::durationString(9223372036854774784.0), "2562047788015215:13:04");
}

TEST(TimeString, ParsesTypedText) {
    struct Parsed {
        const char* text;
        double seconds;
    };
    const Parsed cases[] = {
        {"", 0},        {":", 0},          {"::", 0},          {"5", 5},
        {"1:02", 62},   {"01:02:03", 3723}, {"12:34:56", 45296}, {"24:00:00", 86400},
        {"99:99:99", 362439}, {"1::2", 62}, {":30", 30},         {"30:", 30},
        {"0:75", 75},   {"1:2:3:4", 7384}, {"x:1:2:3", 3723},   {"10:00:00:12", 12},
        {"+5", 5},      {"-1:30", -30},    {"1:-30", 30},
        {"9223372036854775807", 9223372036854775807.0},
    };
    for (const auto& c : cases) {
        auto seconds = TimeString::parseSeconds(c.text);
        ASSERT_TRUE(seconds.has_value()) << '"' << c.text << '"';
        EXPECT_EQ(*seconds, c.seconds) << '"' << c.text << '"';
    }
}

TEST(TimeString, RefusesUnreadableText) {
    for (const char* text : {" 5", "1.5", "a", "1:b", "+", "5:-", "5 ", "9223372036854775808",
                             // each fits 64 bits, but the total does not
                             "2562047788015216:0:0", "1:9223372036854775807",
                             "9223372036854775807:0", "-9223372036854775807:-1:-1"}) {
        EXPECT_FALSE(TimeString::parseSeconds(text).has_value()) << '"' << text << '"';
    }
}

TEST(TimeString, ReadsBackWhatItWrites) {
    for (double x : {0.0, 0.4, 59.9, 3599.0, 3600.7, 86399.0, 123456.5, 1e12}) {
        EXPECT_EQ(TimeString::parseSeconds(TimeString::timecodeString(x)), std::trunc(x)) << x;
        EXPECT_EQ(TimeString::parseSeconds(TimeString::durationString(x)), std::trunc(x)) << x;
    }
}

}  // namespace
