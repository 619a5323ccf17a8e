#include <gtest/gtest.h>

#include <cstdio>

#include "timecode/Timecode.hpp"

namespace keeptime {
namespace {

TimecodeRate rate(std::string_view name) {  // a misspelt name gives a rate that labels nothing
    for (const auto& [n, r] : standardRates()) if (n == name) return r;
    return {};
}
std::optional<TimecodeRate> named(const char* n) { return *n ? std::optional(rate(n)) : std::nullopt; }

std::int64_t framesInDay(const TimecodeRate& r) {  // 54 minutes an hour skip labels in drop-frame
    return 86400LL * r.nominal() - (r.dropFrame ? r.nominal() / 15 * 24 * 54 : 0);
}

TEST(Timecode, LabelsFrameCounts) {
    const struct { const char* rate; std::int64_t frames; const char *timeOfDay, *length; } cases[] = {
        {"29.97 DF", 1800, "00:01:00;02", "0:01:00;02"}, {"29.97 DF", 107892, "01:00:00;00", "1:00:00;00"},
        {"29.97 DF", -1, "23:59:59;29", "-0:00:00;01"}, {"29.97 DF", 2589408, "00:00:00;00", "24:00:00;00"},
        {"59.94 DF", 3600, "00:01:00;04", "0:01:00;04"}, {"29.97 ND", 1800, "00:01:00:00", "0:01:00:00"},
        {"23.976", 2073600, "00:00:00:00", "24:00:00:00"}, {"25", 1139975, "12:39:59:00", "12:39:59:00"},
        {"30", 7776388, "00:00:12:28", "72:00:12:28"},
    };
    for (const auto& c : cases) {
        const TimecodeRate r = rate(c.rate);
        const std::int64_t day = framesInDay(r);
        EXPECT_EQ(timeOfDayLabel(c.frames, r), c.timeOfDay) << c.rate << " " << c.frames;
        EXPECT_EQ(lengthLabel(c.frames, r), c.length) << c.rate << " " << c.frames;
        EXPECT_EQ(labelFrames(c.timeOfDay, r), (c.frames % day + day) % day) << c.rate << " " << c.frames;
    }
}

// A clock {frame, hours, minutes, frames field, steps} ticking a frame at a time, skipping dropped labels,
// agrees from midnight past the tenth minute and from 23:59:00 across midnight; elsewhere labels read back.
TEST(Timecode, AgreesWithAFrameByFrameClock) {
    for (const auto& [name, r] : standardRates()) {
        const int nominal = r.nominal(), drop = r.dropFrame ? nominal / 15 : 0, day = int(framesInDay(r));
        int walks[][5] = {{0, 0, 0, 0, 660 * nominal}, {day - 60 * nominal + drop, 23, 59, drop, 7200}};
        for (auto [frame, h, m, ff, steps] : walks) {
            for (int i = 0, s = 0; i < steps; ++i, ++frame) {
                char text[48];
                std::snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", h, m, s, drop ? ';' : ':', ff);
                ASSERT_EQ(timeOfDayLabel(frame, r), text) << name << " " << frame;
                ASSERT_EQ(labelFrames(text, r), frame % day) << name;
                if (++ff == nominal) ff = 0, ++s;
                if (s == 60) s = 0, ++m;
                if (m == 60) m = 0, h = (h + 1) % 24;
                if (m % 10 != 0 && s == 0 && ff == 0) ff = drop;
            }
        }
        for (std::int64_t f = 0; f < day; f += 7919) EXPECT_EQ(labelFrames(timeOfDayLabel(f, r), r), f);
        for (std::int64_t f : {day - 1LL, day * 400LL + 1234, 1LL << 62})
            EXPECT_EQ(labelFrames(lengthLabel(f, r), r), f) << name;
    }
}

TEST(Timecode, RefusesWhatIsNotALabel) {
    const std::pair<const char*, const char*> refused[] = {
        {"25", "0:00:00:25"}, {"23.976", "0:00:00:24"}, {"29.97 DF", "0:00:00;30"},
        {"29.97 DF", "0:01:00;00"}, {"29.97 DF", "0:01:00:01"}, {"29.97 DF", "0:59:00;01"},
        {"59.94 DF", "0:01:00;03"}, {"25", "0:60:00:00"}, {"25", "0:00:60:00"}, {"25", "0:00:00"},
        {"25", "0:00:00:00:00"}, {"25", "-0:00:01:00"}, {"25", "+0:00:01:00"}, {"25", "0:00:-1:00"},
        {"25", ""}, {"25", "0;00:00:00"}, {"25", " 0:00:00:00"}, {"25", "0:00:00:0x"},
        {"30", "85401592933841:00:00:00"},  // the last an hour past 64 bits
    };
    for (const auto& [r, text] : refused) EXPECT_EQ(labelFrames(text, rate(r)), std::nullopt) << r << text;
    EXPECT_EQ(labelFrames("0:01:00:02", rate("29.97 DF")), 1800);  // either separator
    EXPECT_EQ(labelFrames("00:01:00;00", rate("29.97 ND")), 1800);
}

TEST(Timecode, ReadsRates) {
    const std::tuple<const char*, const char*, const char*> iXml[] = {  // rate, flag, read as
        {"24000/1001", "NDF", "23.976"}, {"25/1", "", "25"}, {"30000/1001", "DF", "29.97 DF"},
        {"50/2", "", "25"}, {"29.97", "DF", "29.97 DF"}, {"25", "NDF", "25"}, {"59.94", "df", "59.94 DF"},
        {"23.98", "", "23.976"}, {"25", "DF", ""}, {"30/1", "DF", ""}, {"25/1", "X", ""}, {"48", "", ""},
        {"25/0", "", ""}, {"-25", "", ""}, {"", "", ""}, {"junk", "", ""},
    };
    for (const auto& [text, flag, name] : iXml) EXPECT_EQ(parseTimecodeRate(text, flag), named(name)) << text;
    const std::pair<const char*, const char*> option[] = {
        {"25", "25"}, {"23.976", "23.976"}, {"29.97df", "29.97 DF"}, {"29.97nd", "29.97 ND"}, {"25df", ""},
        {"29.97", "29.97 ND"}, {"59.94DF", "59.94 DF"}, {"30000/1001", "29.97 ND"}, {"df", ""}, {"", ""},
        {"30000/1001df", "29.97 DF"}, {"29.97xx", ""}, {"fast", ""},
    };
    for (const auto& [text, name] : option) EXPECT_EQ(parseRateOption(text), named(name)) << text;
    for (const auto& [name, r] : standardRates()) EXPECT_EQ(parseRateOption(name), r) << name;
    EXPECT_EQ(rateText(rate("23.976")), "24000/1001");
}

}  // namespace
}  // namespace keeptime
