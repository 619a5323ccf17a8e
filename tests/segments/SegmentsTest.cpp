#include <gtest/gtest.h>

#include <string_view>

#include "recording/BWFParser.hpp"
#include "segments/Split.hpp"
#include "trim/Selection.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

Bytes text(std::string_view chars) { return {chars.begin(), chars.end()}; }
Bytes sub(std::string_view id, const Bytes& b) { return cat({text(id), u32(b.size()), b, Bytes(b.size() % 2, 0)}); }
Bytes labl(std::uint32_t id, std::string_view words) { return sub("labl", cat({u32(id), text(words), {0}})); }
Bytes ltxt(std::uint32_t id, std::uint32_t length, std::string_view words) {
    return sub("ltxt", cat({u32(id), u32(length), text("rgn "), Bytes(8, 0), text(words)}));
}

// 48 kHz at 25 fps from 10:00:00:00, 2 s, no take notes.
Clock clock25(std::int64_t frames = 96000) {
    Clock clock;
    clock.frames = frames, clock.sampleRate = 48000, clock.stamp = 1728000000, clock.stampRate = {48000, 1};
    clock.rate = TimecodeRate{25, 1, false};
    return clock;
}

TEST(Segments, MarkersCutIntoPiecesNamedByTheMarkerOpeningThem) {
    const std::vector<Marker> markers = {
        {1, 0, 0, "top"}, {2, 100, 0, "a"}, {3, 100, 0, "twice"}, {4, 250, 50, "rgn"}, {5, 400, 0, "end"}};
    EXPECT_EQ(segmentsAtMarkers(markers, 400),
              (std::vector<Segment>{{"top", 0, 100}, {"a", 100, 250}, {"rgn", 250, 400}}));
    EXPECT_EQ(segmentsAtMarkers({{1, 50, 0, "x"}}, 400), (std::vector<Segment>{{"", 0, 50}, {"x", 50, 400}}));
    EXPECT_EQ(segmentsAtMarkers({}, 400), (std::vector<Segment>{{"", 0, 400}}));
    EXPECT_EQ(segmentsFromRegions(markers, 280), (std::vector<Segment>{{"rgn", 250, 280}}));
    EXPECT_EQ(segmentsEvery(150, 400), (std::vector<Segment>{{"", 0, 150}, {"", 150, 300}, {"", 300, 400}}));
    // Handles clamped at both edges, and wide enough to pass both.
    EXPECT_EQ(withHandles({{"a", 10, 20}, {"b", 380, 395}}, 15, 400), (std::vector<Segment>{{"a", 0, 35}, {"b", 365, 400}}));
    EXPECT_EQ(withHandles({{"a", 10, 20}}, INT64_MAX, 400), (std::vector<Segment>{{"a", 0, 400}}));
}

// Through the reader the window and split share: a region that a copy ends inside ends with the copy.
TEST(Segments, ARegionACopyEndsInsideEndsWithIt) {
    TempDir dir;
    const Bytes cueBody = cue({point(1, 0, 4000), point(2, 0, 1000), point(3, 0, 7, "slnt"), point(4, 0, 2000)});
    const Bytes list = cat({text("adtl"), labl(2, "first"), ltxt(4, 500, "rgn text"), labl(4, "rgn"), labl(1, "second")});
    WavWriter().bext(1728000000).fmt().chunk("cue ", cueBody).data(audioPattern(6 * 5000)).chunk("LIST", list).write(dir / "m.wav");
    const auto read = [](const std::filesystem::path& file) {
        const FileHandle handle = FileHandle::openForReading(file);
        std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> markers;
        for (const Marker& m : markersOf(handle, BWFParser(handle))) markers.emplace_back(m.frame, m.length, m.label);
        return markers;
    };
    EXPECT_EQ(segmentsAtMarkers(markersOf(FileHandle::openForReading(dir / "m.wav"), BWFParser(dir / "m.wav")), 5000),
              (std::vector<Segment>{{"", 0, 1000}, {"first", 1000, 2000}, {"rgn", 2000, 4000}, {"second", 4000, 5000}}));
    BWFReconstructor(CopyRequest{dir / "m.wav", dir / "cut.wav", 1500, 2300}).process();
    EXPECT_EQ(read(dir / "cut.wav"), (std::vector<std::tuple<std::int64_t, std::int64_t, std::string>>{{500, 300, "rgn"}}));
    BWFReconstructor(CopyRequest{dir / "m.wav", dir / "whole.wav", 1500, 4500}).process();
    EXPECT_EQ(read(dir / "whole.wav"),
              (std::vector<std::tuple<std::int64_t, std::int64_t, std::string>>{{500, 500, "rgn"}, {2500, 0, "second"}}));
}

TEST(Segments, ListRowsReadInTheTimeLanguageOrRefusedWithTheirLine) {
    const Clock clock = clock25();
    const struct { std::string text; std::vector<Segment> segments; std::string refusal; } cases[] = {
        {"\xEF\xBB\xBFname,start,end\r\nA,10:00:00:05,10:00:01\r\n\"b, \"\"c\"\"\",10:00:01:00,10:00:02:00\r\n\r\n",
         {{"A", 9600, 48000}, {"b, \"c\"", 48000, 96000}}, ""},
        {"NAME , Start,END\nx,10:00:00,10:00:01:24\n", {{"x", 0, 94080}}, ""},
        {"name,start,end\nx,10:00:00,10:00:03\n", {}, "line 2: end \"10:00:03\" lies outside the recording"},
        {"name,start,end\nx,10:00:00:25,10:00:01\n", {}, "line 2: start \"10:00:00:25\": frames run 00–24"},
        {"name,start,end\nx,10:00:01,10:00:01\n", {}, "line 2: the end 10:00:01 is not after the start 10:00:01"},
        {"name,start,end\n\"x,10:00:00,10:00:01\n", {}, "line 2: not a row of name,start,end"},
        {"0.5\t1\tcar\n\\\t20\t200\n1.000001\t2.0000001\n", {{"car", 24000, 48000}, {"", 48001, 96000}}, ""},
        {"0\t2.000021\tx\n", {}, "line 1: \"2.000021\" lies outside the recording"},
        {"1\t0.5\tx\n", {}, "line 1: the end 0.5 is not after the start 1"},
        {"1,5\t2\tx\n", {}, "line 1: \"1,5\" is not a time in seconds"},
        {"one two\n", {}, "line 1: not a label line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            EXPECT_EQ(readSegmentList(c.text, clock, "list"), c.segments);
            EXPECT_EQ(c.refusal, "");
        } catch (const BWFError& e) {
            EXPECT_EQ(e.path(), "list");
            EXPECT_EQ(e.reason().substr(0, c.refusal.size()), c.refusal) << e.reason();
            EXPECT_NE(c.refusal, "");
        }
    }
    // Lengths count labels from a label's first frame; seconds at the rate of the samples.
    Clock seconds = clock25();
    seconds.rate.reset();
    const std::tuple<const Clock*, std::string, std::optional<std::int64_t>> lengths[] = {
        {&clock, "00:00:01:05", 57600}, {&clock, "10", 480000}, {&seconds, "0.5", 24000}, {&seconds, "90", 4320000},
        {&clock, "0", 0}, {&clock, "1.5", std::nullopt}, {&seconds, "-1", std::nullopt}};
    for (const auto& [on, typed, frames] : lengths) EXPECT_EQ(readLength(*on, typed).frame, frames) << typed;
}

TEST(Segments, NamesComeFromThePatternAndAClashIsRefused) {
    const std::tuple<std::string, std::string> safe[] = {
        {"Scene 1/2: \"wide\"", "Scene 1_2_ _wide_"}, {" ..hidden. ", "hidden"}, {"a\nb\x7f", "a_b_"}, {"...", ""}};
    for (const auto& [name, expected] : safe) EXPECT_EQ(safeName(name), expected);
    for (const char* bad : {"", "a/{n}", "{n", "n}", "{reel}", "{N}"}) EXPECT_TRUE(patternFault(bad)) << bad;
    EXPECT_FALSE(patternFault("{file}-{n}-{name}-{scene}-{take}-{tape}-{tc} x.wav"));
    EXPECT_EQ(defaultPattern({{"", 0, 1}, {"...", 1, 2}}), "{file}_{n}");
    EXPECT_EQ(defaultPattern({{"", 0, 1}, {"a", 1, 2}}), "{file}_{name}");

    TempDir dir;
    const auto in = dir / "Take 7.WAV";
    WavWriter().bext(1728000000).fmt().data(audioPattern(6 * 48000))
        .ixml("<BWFXML><SCENE>12/A</SCENE><TAKE>3</TAKE><SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE></SPEED></BWFXML>")
        .write(in);
    std::vector<Segment> segments;
    for (int i = 0; i < 10; ++i) segments.push_back({i == 3 ? "Car" : "", i * 4800, i * 4800 + 4800});
    auto names = [&](const std::string& pattern) {
        std::vector<std::string> got;
        for (const auto& request : planSplit(segments, in, {in}, dir / "out", pattern, {}).requests)
            got.push_back(request.output.filename());
        return std::vector<std::string>{got[0], got[3], got[9]};
    };
    EXPECT_EQ(names(""), (std::vector<std::string>{"Take 7_01.WAV", "Take 7_Car.WAV", "Take 7_10.WAV"}));
    // The extension once, in any case.
    EXPECT_EQ(names("{scene}-{take}-{tc}-{n}.wav"),
              (std::vector<std::string>{"12_A-3-10000000-01.wav", "12_A-3-10000007-04.wav", "12_A-3-10000022-10.wav"}));
    EXPECT_EQ(names("{n}.WAV"), (std::vector<std::string>{"01.WAV", "04.WAV", "10.WAV"}));
    segments[6].name = "05";  // unnamed segment 5 takes its number for {name}
    for (const std::string clash : {"{take}", "{name}_{scene}"}) {
        EXPECT_THROW(planSplit(segments, in, {in}, dir / "out", clash, {}), BWFError) << clash;
    }
    EXPECT_THROW(planSplit(segments, in, {in}, dir / "out", "{tape}", {}), BWFError) << "no TAPE";
    EXPECT_TRUE(fileNames(dir.path()) == std::vector<std::string>{"Take 7.WAV"}) << "nothing is written";
}

}  // namespace
