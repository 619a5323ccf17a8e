#include <gtest/gtest.h>

#include "timecode/Clock.hpp"

namespace keeptime {
namespace {

using I = std::int64_t;

// A 48 kHz recording that starts on the first frame of `label` at `rate` and lasts `labels` labels
// (plus `extra` frames), stamped as recorders stamp from their timecode: the label's time, rounded up.
Clock recording(const char* rate, const char* label, I labels, I extra = 0) {
    const TimecodeRate tc = *parseRateOption(rate);
    const auto stampAt = [&](I count) { return (count * tc.den * 48000 + tc.num - 1) / tc.num; };
    const I count = *labelFrames(label, tc);
    return Clock{stampAt(count + labels) - stampAt(count) + extra, 48000, stampAt(count), {48000, 1}, tc};
}

// With a rate, every typed time is a label: HH:MM:SS is HH:MM:SS:00, offsets count labels, and a refusal
// names its own rule. A point lands on the first frame of its label and reads back as typed.
TEST(Clock, TypedTimesAreLabels) {
    const Clock sd = recording("23.976", "12:40:04:00", 240);  // as a Sound Devices take: 12:40:04:00 to 12:40:14:00
    const Clock df = recording("29.97df", "10:00:50;00", 600);
    const Clock pal = recording("25", "22:40:10:00", 250);
    const struct { const Clock& clock; Notation notation; const char* text; bool out; std::string shown; } cases[] = {
        {sd, Notation::TimeOfDay, "12:40:08", false, "12:40:08:00"},
        {sd, Notation::TimeOfDay, "12:40:08:00", false, "12:40:08:00"},
        {sd, Notation::FromStart, "4", false, "0:00:04:00"},
        {sd, Notation::FromStart, "0:04", false, "0:00:04:00"},
        {sd, Notation::FromEnd, "0:00:06:00", false, "0:00:06:00"},
        {sd, Notation::TimeOfDay, "12:40:14:00", true, "12:40:14:00"},
        {df, Notation::TimeOfDay, "10:01:00", false, "10:01:00;02"},  // the first label of a second that skips ;00
        {df, Notation::FromStart, "0:00:10;00", false, "0:00:10;00"},
        {pal, Notation::TimeOfDay, "22:40:16:24", false, "22:40:16:24"},
    };
    for (const auto& c : cases) {
        const Reading read = c.clock.read(c.notation, c.text, c.out);
        ASSERT_TRUE(read.frame) << c.text << ": " << read.refusal;
        EXPECT_EQ(c.clock.text(c.notation, *read.frame), c.shown) << c.text;
        EXPECT_TRUE(c.clock.onLabel(*read.frame) || *read.frame == c.clock.frames) << c.text;
    }
    EXPECT_EQ(sd.read(Notation::TimeOfDay, "12:40:08", false).frame, sd.read(Notation::FromStart, "4", false).frame);

    const struct { const Clock& clock; Notation notation; const char* text; const char* refusal; } refused[] = {
        {sd, Notation::TimeOfDay, "12:40:08.5", "\"12:40:08.5\": a fraction of a second is not a time at 23.976 fps: give frames (HH:MM:SS:FF), or choose seconds"},
        {sd, Notation::TimeOfDay, "12:40:08:24", "\"12:40:08:24\": frames run 00–23 at 23.976 fps"},
        {pal, Notation::TimeOfDay, "22:40:16:25", "\"22:40:16:25\": frames run 00–24 at 25 fps"},
        {df, Notation::TimeOfDay, "10:01:00;00", "\"10:01:00;00\": 10:01:00;00 does not exist in drop-frame: that minute starts at ;02"},
        {sd, Notation::TimeOfDay, "12:40:18", "\"12:40:18\" lies outside the recording (12:40:04:00–12:40:14:00)"},
        {sd, Notation::TimeOfDay, "23:00:00:00", "\"23:00:00:00\" lies outside the recording (12:40:04:00–12:40:14:00)"},
        {sd, Notation::FromStart, "0:20", "\"0:20\" lies outside the recording (0:00:00:00–0:00:10:00)"},
        {sd, Notation::TimeOfDay, "25:00:00", "\"25:00:00\": a time of day runs 00:00:00 to 23:59:59"},
        {sd, Notation::TimeOfDay, "", "empty: type a time"},
        {sd, Notation::FromStart, "1:75", "\"1:75\": minutes and seconds run 00–59"},
        {pal, Notation::TimeOfDay, "22:40:16;12", "\"22:40:16;12\": \";\" marks a drop-frame label, and 25 fps is not drop-frame: write 22:40:16:12"},
        {sd, Notation::TimeOfDay, "24:00:00:00", "\"24:00:00:00\": a time of day runs 00:00:00 to 23:59:59"},
        {sd, Notation::FromStart, "-1", "\"-1\": not a time (HH:MM:SS:FF or HH:MM:SS at 23.976 fps)"},
    };
    for (const auto& c : refused) {
        const Reading read = c.clock.read(c.notation, c.text, false);
        EXPECT_EQ(std::pair(read.frame, read.refusal), std::pair(std::optional<I>(), std::string(c.refusal)));
    }
}

// In + length = out and out + before-the-end = the end, label for label, for points anywhere, in files that
// start between labels; no field is ever negative; and the out point at or past the last label is the end.
TEST(Clock, FieldsAgreeAndTheEndTakesEveryFrame) {
    for (const char* rate : {"23.976", "25", "29.97df", "59.94df"}) {
        const TimecodeRate tc = *parseRateOption(rate);
        const auto labels = [&](const std::string& text) { return *labelFrames(text, tc); };
        Clock clock{144139, 48000, 2190940753, {48000, 1}, tc};  // 3.0029 s from between two labels
        for (I in : {I{0}, I{1}, I{1601}, I{2002}, I{70001}})
            for (I out : {in, in + 1, I{100000}, clock.frames}) {
                if (out < in) continue;
                const std::string from = clock.text(Notation::FromStart, in), to = clock.text(Notation::FromStart, out);
                const std::string length = clock.lengthText(in, out), left = clock.text(Notation::FromEnd, out);
                EXPECT_EQ(labels(from) + labels(length), labels(to)) << rate << " " << in << " " << out;
                EXPECT_EQ(labels(to) + labels(left), labels(clock.lengthText(0, clock.frames))) << rate << " " << out;
                for (const std::string& text : {from, to, length, left}) EXPECT_NE(text.front(), '-') << text;
            }
        // 3 s of labels and 140 frames more, as a recorder stops: 3 is its last label.
        const Clock take = recording(rate, "10:00:00:00", 3 * tc.nominal(), 140);
        for (const auto& [notation, text] : {std::pair(Notation::FromStart, "3"), std::pair(Notation::FromStart, "0:00:03:00"),
                                             std::pair(Notation::FromEnd, "0"), std::pair(Notation::TimeOfDay, "10:00:03:00")})
            EXPECT_EQ(take.read(notation, text, true).frame, take.frames) << rate << " " << text;
    }
    Clock seconds{144139, 48000, 2190940753, {48000, 1}, {}};
    EXPECT_EQ(seconds.read(Notation::FromStart, "3", true).frame, 144139);  // the last whole second
    EXPECT_EQ(seconds.read(Notation::FromStart, "2.5", true).frame, 120000);
}

// A copy that starts after midnight is stamped from its own midnight: the label day's, so that the copy
// reads as the label typed, at every rate (at 23.976 the label day is 86486.4 s of stamp time).
TEST(Clock, ACopyPastMidnightReadsAsTheLabelTyped) {
    const struct { const char* rate; const char* start; const char* typed; } cases[] = {
        {"23.976", "23:59:50:00", "00:00:05:00"},
        {"29.97df", "23:59:50;00", "00:00:10;02"},
        {"59.94df", "23:59:50;00", "00:01:00;04"},
        {"25", "23:59:50:00", "00:00:05:12"},
    };
    for (const auto& c : cases) {
        const Clock clock = recording(c.rate, c.start, 9000);
        const Reading read = clock.read(Notation::TimeOfDay, c.typed, false);
        ASSERT_TRUE(read.frame) << read.refusal;
        Clock copy = clock;
        copy.stamp = *clock.stampMove(*read.frame).apply(clock.stamp);
        EXPECT_EQ(copy.text(Notation::TimeOfDay, 0), c.typed) << c.rate;
        EXPECT_LT(copy.stamp, 48000 * 120) << c.rate;
    }
    // Without a rate, and for a stamp counting 0.1 % fast, the clock's day in the stamp's own samples.
    Clock plain{96000, 48000, 86399LL * 48000, {48000, 1}, {}};
    EXPECT_EQ(plain.stampMove(96000).apply(plain.stamp), 48000);
    Clock weird{96000, 44100, 3814006096, {441441, 10}, {}};  // 44144.1 stamp samples a second: a day is 3814050240
    EXPECT_EQ(weird.stampMove(44100).apply(weird.stamp), 3814006096 + 44145 - 3814050240);
}

}  // namespace
}  // namespace keeptime
