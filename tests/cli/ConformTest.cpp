// keeptime-cli conform run as a user would, on an EDL written by hand from the CMX 3600 description whose events
// are drawn from real recordings (../shared/samples) and the bundled demo: every copy is the copy `trim` makes of
// the same times of day, its audio the input's bytes, and readers that share no code with ours accept it. A missing
// recording fails with 3 and writes nothing; a refused list with 2.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/cli/CliRun.hpp"

namespace keeptime::external {
namespace {

void writeText(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
// A report row's fields, empty ones too (no field here holds a comma), without the row's CR.
std::vector<std::string> columns(std::string row) {
    if (!row.empty() && row.back() == '\r') row.pop_back();
    std::vector<std::string> fields(1);
    for (char c : row) {
        if (c == ',') fields.emplace_back();
        else fields.back().push_back(c);
    }
    return fields;
}

const fs::path kSamples = KEEPTIME_SAMPLES_DIR, kExamples = KEEPTIME_EXAMPLES_DIR;

// The events use both recordings the samples hold, the demo three times (two merged with their handles), a
// video-only event and a source file named with a path. Handles of 12 frames.
const char* kEDL =
    "TITLE: KEEPTIME SAMPLES CUT\r\n"
    "FCM: NON-DROP FRAME\r\n"
    "\r\n"
    "001  18Y12M31 AA     C        12:40:00:00 12:40:02:00 01:00:00:00 01:00:02:00\r\n"
    "002  0417     A      C        10:00:02:00 10:00:03:00 01:00:02:00 01:00:03:00\r\n"
    "* FROM CLIP NAME: demo.wav\r\n"
    "003  0417     AA/V   C        10:00:04:00 10:00:05:00 01:00:03:00 01:00:04:00\r\n"
    "004  AX       A2     C        01:00:00:05 01:00:00:20 01:00:04:00 01:00:04:15\r\n"
    "* SOURCE FILE: /media/SOUND/daw-export-ixml-after-data.wav\r\n"
    "005  B001     V      C        01:00:00:00 01:00:01:00 01:00:04:15 01:00:05:15\r\n"
    "006  0417     AA     C        10:00:09:00 10:00:10:00 01:00:05:15 01:00:06:15\r\n";

struct Expected {
    std::string name;       // of the copy
    fs::path input;
    std::string startTC, endTC;  // what `trim --start-tc/--end-tc` takes for the same frames
};

TEST(ExternalConform, CopiesTheUsedRangesWithHandlesOnePerMergedRange) {
    if (!onPath("ffprobe") || !onPath("python3")) GTEST_SKIP() << "ffprobe or python3 is not installed";
    if (!fs::exists(kSamples / "recorder-a-ixml-timestamp.wav"))
        GTEST_SKIP() << "no " << kSamples << " (../shared/samples is not beside the checkout)";
    TempDir work, out, trims;
    writeText(work / "cut.edl", kEDL);
    const Result r = keeptime({"conform", (work / "cut.edl").string(), "-m", kSamples.string(), "-m", kExamples.string(),
                               "-o", out.path().string(), "--handles", "0:00:00:13", "--report",
                               (work / "report.csv").string(), "--json", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("notice: times read at 25 fps"), std::string::npos) << r.err;  // the DAW export names no rate
    const fs::path recorder = kSamples / "recorder-a-ixml-timestamp.wav", daw = kSamples / "daw-export-ixml-after-data.wav",
                   demo = kExamples / "demo.wav";
    const Expected expected[] = {  // by recording as the media folders list them, then by time
        {"daw-export-ixml-after-data_01000000.wav", daw, "01:00:00", "01:00:01"},  // handles past both ends
        {"recorder-a-ixml-timestamp_12395911.wav", recorder, "12:39:59:11", "12:40:02:13"},
        {"demo_10000112.wav", demo, "10:00:01:12", "10:00:05:13"},  // events 2 and 3 overlap with their handles
        {"demo_10000812.wav", demo, "10:00:08:12", "10:00:10:00"},
    };
    const json got = json::parse(r.out);
    ASSERT_EQ(got["copies"].size(), std::size(expected)) << r.out;
    EXPECT_EQ(testing::fileNames(out.path()).size(), std::size(expected));
    const bool wavefile = !nodeModules().empty();
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        const fs::path written = out / e.name;
        const json& copy = got["copies"][i];
        EXPECT_EQ(copy["output"], written.string());
        const Result t = keeptime({"trim", e.input.string(), "-o", (trims / e.name).string(), "--start-tc", e.startTC,
                                   "--end-tc", e.endTC});
        ASSERT_EQ(t.status, 0) << t.err;
        EXPECT_TRUE(text(written) == text(trims / e.name)) << "not the bytes trim writes for these times";
        // The audio, byte for byte, is the input's at the copy's frames.
        const json in = reading("riffcheck", e.input), walked = reading("riffcheck", written);
        EXPECT_EQ(walked["errors"], json::array());
        const std::int64_t frameBytes = in["dataSize"].get<std::int64_t>() / json::parse(keeptime({"info", "--json", e.input})
                                                                                            .out)["frames"].get<std::int64_t>();
        const std::string input = text(e.input), copied = text(written);
        EXPECT_TRUE(copied.substr(walked["dataOffset"].get<std::size_t>() + 8, walked["dataSize"].get<std::size_t>()) ==
                    input.substr(in["dataOffset"].get<std::size_t>() + 8 + copy["startFrame"].get<std::size_t>() * frameBytes,
                                 walked["dataSize"].get<std::size_t>()));
        const json probe = reading("ffprobe", written);
        EXPECT_NEAR(std::stod(probe["format"]["duration"].get<std::string>()), copy["frames"].get<double>() / 48000, 2e-6);
        if (wavefile) { EXPECT_FALSE(reading("wavefile", written).contains("error")); }
    }
    // The report and the JSON name every event.
    const std::vector<std::string> rows = split(text(work / "report.csv"));
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], "event,reel,clip,source_in,source_out,status,recording,copy,note\r");
    const std::string statuses[] = {"copied", "copied", "copied", "copied", "skipped", "copied"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(columns(rows[i + 1])[5], statuses[i]) << rows[i + 1];
        EXPECT_EQ(got["events"][i]["status"], statuses[i]);
    }
    EXPECT_EQ(columns(rows[2])[7], (out / "demo_10000112.wav").string());
    EXPECT_EQ(got["events"][0]["recordings"], json::array({recorder.string()}));
}

TEST(ExternalConform, AMissingRecordingFailsWithThreeAndWritesNothing) {
    TempDir work, out;
    const std::string list = (work / "cut.edl").string();
    writeText(list, "FCM: NON-DROP FRAME\n"
                    "001  0417 A C 10:00:02:00 10:00:03:00 01:00:00:00 01:00:01:00\n"
                    "002  NOPE A C 10:00:02:00 10:00:03:00 01:00:01:00 01:00:02:00\n");
    const std::vector<std::string> base = {"conform", list, "-m", kExamples.string(), "-o", out.path().string(), "-q"};
    Result r = keeptime(base, "--report " + (work / "r.csv").string());
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("event 002 (reel NOPE): missing: no recording matches reel NOPE"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_TRUE(testing::fileNames(out.path()).empty());
    const auto rows = split(text(work / "r.csv"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(columns(rows[1])[5], "matched");
    EXPECT_EQ(columns(rows[2])[5], "missing");
    // The report stands: it is not replaced without --force.
    r = keeptime(base, "--report " + (work / "r.csv").string());
    EXPECT_EQ(r.status, 2) << r.err;
    // --allow-missing copies the rest and still says some are missing.
    r = keeptime(base, "--allow-missing --json");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(testing::fileNames(out.path()), std::vector<std::string>{"demo_10000000.wav"});
    const json got = json::parse(r.out);
    EXPECT_EQ(got["events"][1]["status"], "missing");
    EXPECT_EQ(got["copies"].size(), 1u);
}

TEST(ExternalConform, RefusedListsFoldersAndOptionsWriteNothing) {
    TempDir work, out;
    writeText(work / "bad.edl", "TITLE: X\n001  0417 A C 10:00:02:00 10:00:03:00 01:00:00:00\n");
    writeText(work / "good.edl", "001  0417 A C 10:00:02:00 10:00:03:00 01:00:00:00 01:00:01:00\n");
    const std::string m = kExamples.string(), o = out.path().string();
    const struct { std::vector<std::string> args; const char* says; } cases[] = {
        {{(work / "bad.edl").string(), "-m", m, "-o", o}, "bad.edl: line 2: not an event line"},
        {{(work / "absent.edl").string(), "-m", m, "-o", o}, "cannot be opened"},
        {{(work / "good.edl").string(), "-m", (work / "none").string(), "-o", o}, "is not a folder"},
        {{(work / "good.edl").string(), "-m", m, "-o", (work / "none").string()}, "no such folder"},
        {{(work / "good.edl").string(), "-m", o, "-m", m, "-o", o}, "is a media folder"},
        {{(work / "good.edl").string(), "-m", m, "-o", o, "--handles", "2s"}, "--handles"},
        {{(work / "good.edl").string(), "-m", m, "-o", o, "--fps", "26.5"}, "--fps"},
        {{(work / "good.edl").string(), "-m", m, "-o", o, "--report", (work / "good.edl").string(), "--force"}, "is the edit list"},
        {{(work / "good.edl").string(), "-m", m, "-o", o, "--report", (work / "none" / "r.csv").string()}, "cannot be written"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"conform"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = keeptime(args);
        EXPECT_EQ(r.status, 2) << c.says << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(testing::fileNames(out.path()).empty());
    }
}

// An OpenTimelineIO timeline naming the demo by its file, at 25 fps.
TEST(ExternalConform, AnOTIOTimelineIsConformedToo) {
    TempDir work, out;
    writeText(work / "cut.otio", R"({"OTIO_SCHEMA": "Timeline.1", "name": "demo", "tracks": {"OTIO_SCHEMA": "Stack.1",
      "children": [{"OTIO_SCHEMA": "Track.1", "kind": "Audio", "children": [
        {"OTIO_SCHEMA": "Clip.1", "name": "dialogue", "media_reference": {"OTIO_SCHEMA": "ExternalReference.1",
          "target_url": "file:///elsewhere/demo.wav"}, "source_range": {"OTIO_SCHEMA": "TimeRange.1",
          "start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 25, "value": 900050},
          "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 25, "value": 25}}}]}]}})");
    const Result r = keeptime({"conform", (work / "cut.otio").string(), "-m", kExamples.string(), "-o", out.path().string(),
                               "--handles", "0", "--json", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json got = json::parse(r.out);
    EXPECT_EQ(got["copies"][0]["startFrame"], 2 * 48000);
    EXPECT_EQ(got["copies"][0]["frames"], 48000);
    EXPECT_EQ(testing::fileNames(out.path()), std::vector<std::string>{"demo_10000200.wav"});
}

}  // namespace
}  // namespace keeptime::external
