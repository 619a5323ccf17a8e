#include <gtest/gtest.h>

#include "recording/BWFParser.hpp"
#include "tests/WavWriter.hpp"
#include "trim/SegmentList.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace keeptime {
void PrintTo(const Segment& s, std::ostream* out) { *out << "{\"" << s.name << "\", " << s.first << ", " << s.end << "}"; }
}  // namespace keeptime

namespace {

// 4 s of 48 kHz from 10:00:00:00 at 25 fps.
std::filesystem::path written(const std::filesystem::path& file) {
    WavWriter().bext(1728000000).fmt().data(audioPattern(6 * 192000))
        .ixml("<BWFXML><SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE></SPEED></BWFXML>").write(file);
    return file;
}

struct SegmentListTest : ::testing::Test {
    TempDir dir;
    const std::filesystem::path recording = written(dir / "take.wav");
    const Clock clock = BWFParser(recording).clock();
};

TEST_F(SegmentListTest, RowsAreAddedEditedAsTextAndDeleted) {
    SegmentList list(clock);
    EXPECT_EQ(list.add(0, 48000), 0u);
    EXPECT_EQ(list.add(96000, 144000, "car"), 1u);
    for (auto [first, end] : {std::pair(5, 5), std::pair(7, 3), std::pair(-1, 10), std::pair(0, 192001)})
        EXPECT_FALSE(list.add(first, end)) << first << " " << end;
    EXPECT_EQ(std::vector<std::string>({list.inText(1), list.outText(1), list.lengthText(1)}),
              std::vector<std::string>({"10:00:02:00", "10:00:03:00", "0:00:01:00"}));
    using Edit = std::optional<std::string> (SegmentList::*)(std::size_t, const std::string&);
    const struct { Edit edit; std::string text; std::int64_t first, end; std::string refusal; } edits[] = {
        {&SegmentList::setIn, "10:00:01:12", 71040, 144000, ""},
        {&SegmentList::setOut, "10:00:04:00", 71040, 192000, ""},
        {&SegmentList::setLength, "00:00:00:05", 71040, 80640, ""},
        {&SegmentList::setIn, "10:00:03", 71040, 80640, "the in point 10:00:03:00 is not before the out point"},
        {&SegmentList::setOut, "10:00:05", 71040, 80640, "\"10:00:05\" lies outside the recording"},
        {&SegmentList::setLength, "3", 71040, 80640, "\"3\" from 10:00:01:12 runs past the recording's end"},
        {&SegmentList::setIn, "soon", 71040, 80640, "\"soon\": not a time"},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.text);
        const auto refusal = (list.*e.edit)(1, e.text);
        EXPECT_EQ(refusal.value_or("").substr(0, e.refusal.size()), e.refusal);
        EXPECT_EQ(refusal.has_value(), !e.refusal.empty());
        EXPECT_EQ(list[1], (Segment{"car", e.first, e.end}));
    }
    const std::vector<Segment> before = list.segments();  // what an undo puts back
    list.setName(0, "wide");
    list.remove(1);
    EXPECT_EQ(list.segments(), (std::vector<Segment>{{"wide", 0, 48000}}));
    EXPECT_EQ(list.replace(before), 0u);
    EXPECT_EQ(list.segments(), before);
    EXPECT_EQ(list.replace({{"a", 0, 10}, {"late", 10, 200000}, {"none", 7, 7}}), 2u) << "rows it cannot hold";
    EXPECT_EQ(list.replace(segmentsEvery(48000 * 3, clock.frames)), 0u);
    EXPECT_EQ(list.size(), 2u);
    // The names a save would write, and a clash refused before anything is written.
    EXPECT_EQ(list.names(recording, dir / "out", "", {}),
              (std::vector<std::filesystem::path>{dir / "out/take_1.wav", dir / "out/take_2.wav"}));
    EXPECT_THROW(list.names(recording, dir / "out", "{file}", {}), BWFError);
}

TEST_F(SegmentListTest, TheSidecarRemembersTheListAndNeverTouchesTheRecording) {
    const Bytes audio = readFile(recording);
    const std::vector<Segment> segments = {{"Scene \"1\"\n\\wide", 0, 48000}, {"caf\xc3\xa9", 100, 192000}};
    EXPECT_EQ(saveSidecar(recording, clock, segments), std::nullopt) << "written beside it";
    EXPECT_TRUE(std::filesystem::exists(dir / "take.keeptime.json"));
    EXPECT_EQ(loadSidecar(recording, clock), segments);
    EXPECT_TRUE(readFile(recording) == audio);

    Clock longer = clock;
    longer.frames += 1;
    EXPECT_EQ(loadSidecar(recording, longer), std::vector<Segment>{}) << "kept for a recording of another length";
    const std::string text = sidecarText(recording, clock, segments);
    for (const std::string& broken : {text.substr(0, text.size() - 3), text + "x", std::string("[]"),
                                     std::string(20, '[') + std::string(20, ']'), std::string("{\"keeptime\": \"\\q\"}"),
                                     std::string(text).replace(text.find("\"version\": 1"), 12, "\"version\": 2")})
        EXPECT_FALSE(readSidecar(broken, clock)) << broken;

    // Where the folder cannot take it the text comes back for the settings, and is read from there.
    std::filesystem::remove(dir / "take.keeptime.json");
    std::filesystem::create_directory(dir / "take.keeptime.json");
    const auto kept = saveSidecar(recording, clock, segments);
    ASSERT_TRUE(kept);
    EXPECT_EQ(loadSidecar(recording, clock, kept), segments);
    // A sidecar name that links to the recording is never written through.
    std::filesystem::remove(dir / "take.keeptime.json");
    std::filesystem::create_symlink(recording, dir / "take.keeptime.json");
    EXPECT_TRUE(saveSidecar(recording, clock, segments));
    EXPECT_TRUE(readFile(recording) == audio);
}

}  // namespace
