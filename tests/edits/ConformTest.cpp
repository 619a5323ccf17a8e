// Matching an edit list's events to the recordings of media folders, and the
// copies planned from them: names, reels, spans (midnight, first and last
// frame, just outside), takes, handles and merging.
#include <gtest/gtest.h>

#include "edits/Conform.hpp"
#include "tests/WavWriter.hpp"

namespace keeptime {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WavWriter;

constexpr std::int64_t kRate = 48000;
std::int64_t at(std::int64_t h, std::int64_t m, std::int64_t s) { return (h * 3600 + m * 60 + s) * kRate; }

struct Recording {
    std::string name;
    std::int64_t stamp;
    std::int64_t seconds;
    std::string tape{}, uid{}, index{}, rate = "25/1";
};

void write(const fs::path& folder, const Recording& r) {
    std::string xml = "<BWFXML><TAPE>" + r.tape + "</TAPE>";
    if (!r.rate.empty()) xml += "<SPEED><TIMECODE_RATE>" + r.rate + "</TIMECODE_RATE></SPEED>";
    if (!r.uid.empty())
        xml += "<FILE_SET><TOTAL_FILES>2</TOTAL_FILES><FAMILY_UID>" + r.uid + "</FAMILY_UID><FILE_SET_INDEX>" + r.index +
               "</FILE_SET_INDEX></FILE_SET>";
    WavWriter()
        .bext(r.stamp)
        .ixml(xml + "</BWFXML>")
        .fmt(1, kRate, 16)
        .data(testing::audioPattern(std::size_t(r.seconds * kRate * 2), std::uint32_t(r.stamp)))
        .write(folder / r.name);
}

const Recording kRecordings[] = {
    {"T012.wav", at(10, 0, 0), 20, "DAY1"},
    {"T013.wav", at(10, 1, 0), 20, "DAY1"},
    {"ALT.wav", at(10, 0, 10), 20, "DAY1"},
    {"T020_1.wav", at(11, 0, 0), 10, "DAY2", "UID20", "1"},
    {"T020_2.wav", at(11, 0, 0), 10, "DAY2", "UID20", "2"},
    {"T021_1.wav", at(11, 0, 20), 10, "DAY2", "UID21", "1"},
    {"MIDNIGHT.wav", at(23, 59, 50), 20, "NIGHT"},
    {"SCENE12_T3.wav", at(12, 0, 0), 10, ""},
    {"NORATE.wav", at(13, 0, 0), 10, "", "", "", ""},
};

class Conform : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& r : kRecordings) write(folder_.path(), r);
        testing::writeFile(folder_ / "notes.txt", Bytes(100, 'x'));
        media_ = readMedia({folder_.path()});
    }
    std::string nameOf(std::size_t file) const { return media_.files[file].path.filename().string(); }
    std::vector<std::string> names(const std::vector<std::size_t>& files) const {
        std::vector<std::string> out;
        for (std::size_t f : files) out.push_back(nameOf(f));
        return out;
    }
    TempDir folder_;
    Media media_;
};

std::string event(const std::string& reel, const std::string& tracks, const std::string& in, const std::string& out,
                  const std::string& comments = "") {
    return "001  " + reel + " " + tracks + " C " + in + " " + out + " 01:00:00:00 01:00:01:00\n" + comments;
}

TEST_F(Conform, EventsMatchByNameReelAndSpan) {
    ASSERT_EQ(media_.files.size(), std::size(kRecordings));  // notes.txt is no recording, and says nothing
    EXPECT_TRUE(media_.notices.empty());
    using S = Match::Status;
    const struct {
        const char* what;
        std::string edl;
        std::optional<TimecodeRate> fps;
        S status;
        std::vector<std::string> files;
        std::int64_t first, last;
        const char* says;  // in why or the notice
    } cases[] = {
        {"by clip name, any case", event("XYZ", "AA", "10:00:05:00", "10:00:08:00", "* FROM CLIP NAME: t012.WAV\n"), {},
         S::Matched, {"T012.wav"}, 5 * kRate, 8 * kRate, "by name"},
        {"by source file, a path", event("XYZ", "A", "10:01:02:00", "10:01:03:00", "* SOURCE FILE: C:\\SOUND\\T013.WAV\n"), {},
         S::Matched, {"T013.wav"}, 2 * kRate, 3 * kRate, "by name"},
        {"by reel = TAPE, the one whose span holds it", event("DAY1", "A", "10:01:02:00", "10:01:03:00"), {},
         S::Matched, {"T013.wav"}, 2 * kRate, 3 * kRate, "by reel"},
        {"a name that matches nothing falls back to the reel", event("DAY1", "A", "10:00:01:00", "10:00:02:00",
                                                                    "* FROM CLIP NAME: PICTURE\n"), {},
         S::Matched, {"T012.wav"}, 1 * kRate, 2 * kRate, "by reel"},
        {"two takes on one tape: the take whose span holds it, every file of it", event("DAY2", "A", "11:00:02:00", "11:00:04:00"),
         {}, S::Matched, {"T020_1.wav", "T020_2.wav"}, 2 * kRate, 4 * kRate, ""},
        {"two takes on one tape: the other", event("DAY2", "A", "11:00:25:00", "11:00:26:00"), {},
         S::Matched, {"T021_1.wav"}, 5 * kRate, 6 * kRate, ""},
        {"two recordings hold it", event("DAY1", "A", "10:00:15:00", "10:00:16:00"), {},
         S::Ambiguous, {"ALT.wav", "T012.wav"}, 0, 0, "2 recordings hold"},
        {"across midnight", event("NIGHT", "A", "23:59:55:00", "00:00:05:00"), {},
         S::Matched, {"MIDNIGHT.wav"}, 5 * kRate, 15 * kRate, ""},
        {"just past midnight", event("NIGHT", "A", "00:00:01:00", "00:00:03:00"), {},
         S::Matched, {"MIDNIGHT.wav"}, 11 * kRate, 13 * kRate, ""},
        {"the first and the last frame", event("T012", "A", "10:00:00:00", "10:00:20:00"), {},
         S::Matched, {"T012.wav"}, 0, 20 * kRate, ""},
        {"one frame past the end", event("T012", "A", "10:00:19:00", "10:00:20:01"), {},
         S::Missing, {}, 0, 0, "no span holds"},
        {"one frame before the start", event("T012", "A", "09:59:59:24", "10:00:01:00"), {},
         S::Missing, {}, 0, 0, "lies outside"},
        {"an 8-character reel, cut from the file's name", event("SCENE12_", "A", "12:00:01:00", "12:00:02:00"), {},
         S::Matched, {"SCENE12_T3.wav"}, 1 * kRate, 2 * kRate, ""},
        {"no name or reel matches", event("NOPE", "A", "12:00:01:00", "12:00:02:00"), {},
         S::Missing, {}, 0, 0, "no recording matches reel NOPE"},
        {"a recording naming no rate is read at 25", event("NORATE", "A", "13:00:01:05", "13:00:02:00"), {},
         S::Matched, {"NORATE.wav"}, 1 * kRate + 5 * kRate / 25, 2 * kRate, "25 fps"},
        {"--fps rules the labels", event("T012", "A", "10:00:01:12", "10:00:02:00"), TimecodeRate{24, 1, false},
         S::Matched, {"T012.wav"}, kRate + kRate / 2, 2 * kRate, ""},
        {"frames past the rate", event("T012", "A", "10:00:01:24", "10:00:02:00"), TimecodeRate{24, 1, false},
         S::Missing, {}, 0, 0, "frames run 00–23"},
        {"video only", event("T012", "V", "10:00:01:00", "10:00:02:00"), {}, S::Skipped, {}, 0, 0, "video only"},
        {"a speed change", event("T012", "A", "10:00:01:00", "10:00:02:00", "M2 T012 050.0 10:00:01:00\n"), {},
         S::Skipped, {}, 0, 0, "not conformable: a speed change"},
        {"black", event("BL", "AA", "00:00:00:00", "00:00:01:00"), {}, S::Skipped, {}, 0, 0, "black"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto matches = matchEvents(readCMX3600("FCM: NON-DROP FRAME\n" + c.edl), media_, c.fps);
        ASSERT_EQ(matches.size(), 1u);
        const Match& m = matches[0];
        EXPECT_EQ(m.status, c.status) << m.why;
        EXPECT_EQ(names(m.status == S::Ambiguous ? m.candidates : m.files), c.files);
        if (c.status == S::Matched) {
            EXPECT_EQ(std::pair(m.first, m.last), std::pair(c.first, c.last));
        }
        EXPECT_NE((m.why + m.notice.value_or("")).find(c.says), std::string::npos) << m.why;
        EXPECT_EQ(m.notConformable, c.status == S::Skipped && std::string(c.says).starts_with("not"));
    }
}

TEST_F(Conform, DropFrameComesFromTheListAtTheRecordingsRate) {
    TempDir other;
    write(other.path(), {"DF.wav", at(10, 0, 30), 70, "DF", "", "", "30000/1001"});  // 10:01:00 as either
    const Media media = readMedia({other.path()});
    // 10:01:00;02 is the first label of minute 1 in drop-frame: 1800 labels after 10:00:00;00.
    const Clock clock = [&] { Clock c = media.files[0].clock; c.rate = TimecodeRate{30000, 1001, true}; return c; }();
    const std::int64_t frame = *clock.read(Notation::TimeOfDay, "10:01:00;02", false).frame;
    for (const char* fcm : {"FCM: DROP FRAME\n", "FCM: NON-DROP FRAME\n"}) {
        const auto m = matchEvents(readCMX3600(fcm + event("DF", "A", "10:01:00:02", "10:01:01:00")), media);
        ASSERT_EQ(m[0].status, Match::Status::Matched) << m[0].why;
        EXPECT_EQ(m[0].rate.dropFrame, fcm[5] == 'D');
        EXPECT_EQ(m[0].first == frame, fcm[5] == 'D');
    }
}

TEST_F(Conform, UsedRangesWithHandlesMergeWhereTheyOverlapOrTouch) {
    auto edl = [](std::vector<std::pair<std::string, std::string>> ranges) {
        std::string text = "FCM: NON-DROP FRAME\n";
        for (const auto& [in, out] : ranges) text += event("T012", "A", in, out);
        return readCMX3600(text);
    };
    using Spans = std::vector<std::pair<double, double>>;  // seconds into T012.wav
    const struct {
        const char* what;
        EditList list;
        std::string handles;
        Spans copies;
        std::vector<std::string> names;
    } cases[] = {
        {"overlapping with handles", edl({{"10:00:02:00", "10:00:03:00"}, {"10:00:04:00", "10:00:05:00"}}), "0:00:01:00",
         {{1, 6}}, {"T012_10000100.wav"}},
        {"touching with handles", edl({{"10:00:02:00", "10:00:03:00"}, {"10:00:05:00", "10:00:06:00"}}), "0:00:01:00",
         {{1, 7}}, {"T012_10000100.wav"}},
        {"touching without handles", edl({{"10:00:02:00", "10:00:03:00"}, {"10:00:03:00", "10:00:04:00"}}), "0",
         {{2, 4}}, {"T012_10000200.wav"}},
        {"apart", edl({{"10:00:08:00", "10:00:09:00"}, {"10:00:02:00", "10:00:03:00"}}), "0:00:01:00",
         {{1, 4}, {7, 10}}, {"T012_10000100.wav", "T012_10000700.wav"}},
        {"handles clamped at both edges", edl({{"10:00:00:12", "10:00:01:00"}, {"10:00:19:00", "10:00:20:00"}}), "2",
         {{0, 3}, {17, 20}}, {"T012_10000000.wav", "T012_10001700.wav"}},
        {"handles in frames", edl({{"10:00:05:00", "10:00:06:00"}}), "0:00:00:05", {{4.8, 6.2}}, {"T012_10000420.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto handles = parseHandles(c.handles);
        ASSERT_TRUE(handles);
        const auto copies = planCopies(matchEvents(c.list, media_), media_, *handles, false);
        Spans spans;
        std::vector<std::string> names;
        for (const auto& copy : copies) {
            spans.emplace_back(double(copy.first) / kRate, double(copy.last) / kRate);
            names.push_back(copy.name);
        }
        EXPECT_EQ(spans, c.copies);
        EXPECT_EQ(names, c.names);
    }
    for (const char* bad : {"", "a", "1:60", "0:00:02:00:00", "-1", "1.5"}) EXPECT_FALSE(parseHandles(bad)) << bad;
}

TEST_F(Conform, TakeAddsEveryMemberAtTheSameTimesOfDay) {
    // The second file of the take started a second later: its copy starts a second earlier into it.
    TempDir other;
    write(other.path(), {"A_1.wav", at(11, 0, 0), 10, "A", "UIDA", "1"});
    write(other.path(), {"A_2.wav", at(11, 0, 1), 10, "A", "UIDA", "2"});
    const Media media = readMedia({other.path()});
    const EditList list = readCMX3600(event("X", "A", "11:00:03:00", "11:00:04:00", "* FROM CLIP NAME: A_1\n"));
    const auto matches = matchEvents(list, media);
    ASSERT_EQ(matches[0].files.size(), 1u);  // the name names one file
    for (bool take : {false, true}) {
        const auto copies = planCopies(matches, media, Handles{1, 0}, take);
        ASSERT_EQ(copies.size(), take ? 2u : 1u);
        EXPECT_EQ(copies[0].name, "A_1_11000200.wav");
        EXPECT_EQ(std::pair(copies[0].first, copies[0].last), std::pair(2 * kRate, 5 * kRate));
        if (!take) continue;
        EXPECT_EQ(copies[1].name, "A_2_11000200.wav");
        EXPECT_EQ(std::pair(copies[1].first, copies[1].last), std::pair(1 * kRate, 4 * kRate));
        const auto requests = conformRequests(copies, media, "/out", false);
        EXPECT_EQ(requests[1].input, other / "A_2.wav");
        EXPECT_EQ(requests[1].output, fs::path("/out/A_2_11000200.wav"));
    }
}

TEST_F(Conform, AFolderThatCannotBeReadIsRefusedAndABrokenRecordingNamed) {
    EXPECT_THROW(readMedia({folder_ / "absent"}), BWFError);
    TempDir other;
    testing::writeFile(other / "broken.wav", Bytes(40, 'x'));
    const Media media = readMedia({other.path(), other.path()});
    EXPECT_TRUE(media.files.empty());
    ASSERT_EQ(media.notices.size(), 1u);  // the folder named twice is read once
    EXPECT_NE(media.notices[0].find("broken.wav"), std::string::npos);
}

}  // namespace
}  // namespace keeptime
