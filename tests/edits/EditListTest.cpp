// Edit lists written by hand from the published descriptions of CMX 3600 (event
// lines, FCM, AUD, M2 and the comment lines editors add) and of OpenTimelineIO's
// JSON schema (Timeline, Stack, Track, Clip, Gap, Transition, RationalTime).
#include <gtest/gtest.h>

#include "base/BWFError.hpp"
#include "edits/EditList.hpp"

namespace keeptime {
namespace {

std::string reel(std::size_t length) {
    std::string name;
    for (std::size_t i = 0; i < length; ++i) name.push_back(char('A' + i % 26));
    return name;
}

struct EventCase {
    const char* what;
    std::string lines;  // after the title
    std::size_t index;  // of the event checked
    std::string reel, tracks;
    bool audio, video;
    std::vector<int> audioTracks;
    std::string transition;
    std::int64_t transitionFrames;
    std::string in, out;
    bool dropFrame;
    std::string clip, file;
    bool notConformable;
};

TEST(EditList, ReadsEachPartOfACMX3600EventLine) {
    const std::string ndf = "FCM: NON-DROP FRAME\n", df = "FCM: DROP FRAME\n";
    const EventCase cases[] = {
        {"a cut on audio 1 and 2", ndf + "001  T012     AA     C        10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n",
         0, "T012", "AA", true, false, {1, 2}, "C", 0, "10:00:05:00", "10:00:08:00", false, "", "", false},
        {"drop-frame labels with ;", df + "001  T012 A C 10:00:05;02 10:00:08;00 01:00:00;00 01:00:03;00\n",
         0, "T012", "A", true, false, {1}, "C", 0, "10:00:05:02", "10:00:08:00", true, "", "", false},
        {"; without an FCM line is drop-frame", "001  T012 A2 C 10:00:05;02 10:00:08;00 01:00:00;00 01:00:03;00\n",
         0, "T012", "A2", true, false, {2}, "C", 0, "10:00:05:02", "10:00:08:00", true, "", "", false},
        {"FCM changes between events", ndf + "001 R1 A C 01:00:00:00 01:00:01:00 01:00:00:00 01:00:01:00\n" + df +
                                           "002 R2 A C 02:00:00;00 02:00:01;00 01:00:01;00 01:00:02;00\n",
         1, "R2", "A", true, false, {1}, "C", 0, "02:00:00:00", "02:00:01:00", true, "", "", false},
        {"AA/V counts as audio", ndf + "001  TAPE2 AA/V C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\n",
         0, "TAPE2", "AA/V", true, true, {1, 2}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"B is audio 1 and video", ndf + "001  TAPE2 B C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\n",
         0, "TAPE2", "B", true, true, {1}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"video only", ndf + "001  TAPE2 V C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\n",
         0, "TAPE2", "V", false, true, {}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"A5 as some editors write it", ndf + "001  TAPE2 A5 C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\n",
         0, "TAPE2", "A5", true, false, {5}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"AUD 3 4 adds tracks to a video event", ndf + "001  TAPE2 V C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\nAUD  3    4\n",
         0, "TAPE2", "V", true, true, {3, 4}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"a 32-character reel", ndf + "001  " + reel(32) + " A C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\n",
         0, reel(32), "A", true, false, {1}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"a 128-character reel", ndf + "001  " + reel(128) + " A C 09:00:00:00 09:00:01:00 01:00:00:00 01:00:01:00\n",
         0, reel(128), "A", true, false, {1}, "C", 0, "09:00:00:00", "09:00:01:00", false, "", "", false},
        {"a dissolve's incoming line", ndf + "002  R1 AA C 01:00:10:00 01:00:10:00 01:00:05:00 01:00:05:00\n"
                                           "002  R2 AA D    030 02:00:00:00 02:00:05:00 01:00:05:00 01:00:10:00\n"
                                           "* FROM CLIP NAME: OUT.WAV\n* TO CLIP NAME: IN.WAV\n",
         1, "R2", "AA", true, false, {1, 2}, "D", 30, "02:00:00:00", "02:00:05:00", false, "IN.WAV", "", false},
        {"the dissolve's outgoing line runs its length", ndf + "002  R1 AA C 01:00:10:00 01:00:10:00 01:00:05:00 01:00:05:00\n"
                                           "002  R2 AA D    030 02:00:00:00 02:00:05:00 01:00:05:00 01:00:10:00\n"
                                           "* TO CLIP NAME: IN.WAV\n* FROM CLIP NAME: OUT.WAV\n",
         0, "R1", "AA", true, false, {1, 2}, "C", 30, "01:00:10:00", "01:00:10:00", false, "OUT.WAV", "", false},
        {"a wipe", ndf + "003  R2 A W001 025 02:00:00:00 02:00:05:00 01:00:05:00 01:00:10:00\n",
         0, "R2", "A", true, false, {1}, "W001", 25, "02:00:00:00", "02:00:05:00", false, "", "", false},
        {"comments in any order, others ignored", ndf + "001  T012 AA C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n"
                                                      "* SOURCE FILE: /Volumes/CARD/T012.WAV\n* A NOTE FROM THE EDITOR\n"
                                                      "*FROM CLIP NAME:  Scene 12 take 3  \n",
         0, "T012", "AA", true, false, {1, 2}, "C", 0, "10:00:05:00", "10:00:08:00", false, "Scene 12 take 3",
         "/Volumes/CARD/T012.WAV", false},
        {"M2 is a speed change", ndf + "001  T012 A C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n"
                                       "M2   T012       050.0                10:00:05:00\n",
         0, "T012", "A", true, false, {1}, "C", 0, "10:00:05:00", "10:00:08:00", false, "", "", true},
        {"M2 backwards is reverse", ndf + "001  T012 A C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n"
                                          "M2   T012       -025.0               10:00:08:00\n",
         0, "T012", "A", true, false, {1}, "C", 0, "10:00:05:00", "10:00:08:00", false, "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const EditList list = readCMX3600("TITLE: CONFORM TEST\n" + c.lines);
        EXPECT_EQ(list.title, "CONFORM TEST");
        ASSERT_GT(list.events.size(), c.index);
        const EditEvent& e = list.events[c.index];
        EXPECT_EQ(e.reel, c.reel);
        EXPECT_EQ(e.tracks, c.tracks);
        EXPECT_EQ(e.audio, c.audio);
        EXPECT_EQ(e.video, c.video);
        EXPECT_EQ(e.audioTracks, c.audioTracks);
        EXPECT_EQ(e.transition, c.transition);
        EXPECT_EQ(e.transitionFrames, c.transitionFrames);
        EXPECT_EQ(e.sourceIn, c.in);
        EXPECT_EQ(e.sourceOut, c.out);
        EXPECT_EQ(e.dropFrame, c.dropFrame);
        EXPECT_EQ(e.clipName, c.clip);
        EXPECT_EQ(e.sourceFile, c.file);
        EXPECT_EQ(e.notConformable.has_value(), c.notConformable);
    }
}

TEST(EditList, CRLFAndCRLineEndingsReadAsLF) {
    const std::string lines[] = {"TITLE: ENDINGS", "FCM: NON-DROP FRAME", "",
                                 "001  T012 AA C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00",
                                 "* FROM CLIP NAME: T012.WAV", "002  T013 A C 11:00:05:00 11:00:08:00 01:00:03:00 01:00:06:00"};
    for (const std::string ending : {"\n", "\r\n", "\r"}) {
        std::string text = "\xEF\xBB\xBF";
        for (const auto& line : lines) text += line + ending;
        const EditList list = readCMX3600(text);
        ASSERT_EQ(list.events.size(), 2u) << ending.size();
        EXPECT_EQ(list.title, "ENDINGS");
        EXPECT_EQ(list.events[0].clipName, "T012.WAV");
        EXPECT_EQ(list.events[1].sourceOut, "11:00:08:00");
        EXPECT_EQ(list.events[1].line, 6u);
    }
}

TEST(EditList, AMalformedLineIsRefusedWithItsNumber) {
    const std::string ok = "TITLE: BAD\nFCM: NON-DROP FRAME\n001  T012 AA C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n";
    const std::pair<std::string, std::string> cases[] = {
        {"002  T012 AA C 10:00:05:00 10:00:08:00 01:00:00:00\n", "line 4:"},               // a time missing
        {"002  T012 AX C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n", "line 4: \"AX\" is no track"},
        {"002  T012 AA X 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n", "line 4: \"X\" is no transition"},
        {"002  T012 AA D 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n", "line 4: a D transition needs"},
        {"002  T012 AA C 10:00:05:0 10:00:08:00 01:00:00:00 01:00:03:00\n", "line 4: \"10:00:05:0\" is no timecode"},
        {"002  " + reel(129) + " AA C 10:00:05:00 10:00:08:00 01:00:00:00 01:00:03:00\n", "line 4: the reel name"},
        {"\nAUD  5\n", "line 5: AUD names track 3 or 4"},
        {"M2 T012 fast\n", "line 4: an M2 line"},
        {"FCM: SOMETIMES\n", "line 4: FCM is"},
        {"hello editor\n", "line 4: not an event line"},
    };
    for (const auto& [bad, message] : cases) {
        try {
            readCMX3600(ok + bad);
            ADD_FAILURE() << "read: " << bad;
        } catch (const BWFError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(readCMX3600("AUD 3 4\n"), BWFError);  // no event above it
}

// A timeline of two audio tracks and one video track, at 24000/1001, with gaps,
// a transition, a nested stack and both Clip schemas.
const char* kTimeline = R"({
  "OTIO_SCHEMA": "Timeline.1", "name": "Reel 1 locked",
  "global_start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 23.976023976023978, "value": 86400.0},
  "tracks": {"OTIO_SCHEMA": "Stack.1", "name": "tracks", "children": [
    {"OTIO_SCHEMA": "Track.1", "name": "V1", "kind": "Video", "children": [
      {"OTIO_SCHEMA": "Clip.1", "name": "picture", "source_range": {"OTIO_SCHEMA": "TimeRange.1",
        "start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 24.0, "value": 0.0},
        "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 24.0, "value": 48.0}}}]},
    {"OTIO_SCHEMA": "Track.1", "name": "A1", "kind": "Audio", "children": [
      {"OTIO_SCHEMA": "Gap.1", "name": "", "source_range": {"OTIO_SCHEMA": "TimeRange.1",
        "start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 23.976023976023978, "value": 0.0},
        "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 23.976023976023978, "value": 12.0}}},
      {"OTIO_SCHEMA": "Clip.1", "name": "T012", "media_reference": {"OTIO_SCHEMA": "ExternalReference.1",
        "target_url": "file:///Volumes/SOUND%20DAY%201/T012.WAV"},
        "source_range": {"OTIO_SCHEMA": "TimeRange.1",
        "start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 23.976023976023978, "value": 863280.0},
        "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 23.976023976023978, "value": 72.0}}},
      {"OTIO_SCHEMA": "Transition.1", "name": "dissolve", "in_offset": {"OTIO_SCHEMA": "RationalTime.1", "rate": 24.0, "value": 6.0},
        "out_offset": {"OTIO_SCHEMA": "RationalTime.1", "rate": 24.0, "value": 6.0}},
      {"OTIO_SCHEMA": "Clip.2", "name": "T013", "active_media_reference_key": "DEFAULT_MEDIA",
        "media_references": {"DEFAULT_MEDIA": {"OTIO_SCHEMA": "ExternalReference.1", "target_url": "T013.WAV"}},
        "source_range": {"OTIO_SCHEMA": "TimeRange.1",
        "start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 23.976023976023978, "value": 864000.5},
        "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 48000.0, "value": 100100.0}}}]},
    {"OTIO_SCHEMA": "Stack.1", "children": [
      {"OTIO_SCHEMA": "Track.1", "name": "A2", "kind": "Audio", "children": [
        {"OTIO_SCHEMA": "Clip.1", "name": "room tone", "media_reference": {"OTIO_SCHEMA": "MissingReference.1"},
          "source_range": {"OTIO_SCHEMA": "TimeRange.1",
          "start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 25.0, "value": 900000.0},
          "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 25.0, "value": 50.0}}}]}]}]}
})";

TEST(EditList, OTIOAudioClipsWithRationalTimesGapsAndNestedTracks) {
    const EditList list = readOTIO(kTimeline);
    EXPECT_EQ(list.title, "Reel 1 locked");
    ASSERT_EQ(list.events.size(), 3u);  // the video clip, the gap and the transition use no audio source
    const struct { std::string clip, file, track, in, out; TimecodeRate rate; } want[] = {
        // 863280 frames at 24000/1001 label 09:59:30:00; 72 frames on.
        {"T012", "file:///Volumes/SOUND%20DAY%201/T012.WAV", "A1", "09:59:30:00", "09:59:33:00", {24000, 1001, false}},
        // Half a frame in: the whole frame is used; 100100 samples at 48 kHz are 50.05 frames of 24000/1001.
        {"T013", "T013.WAV", "A1", "10:00:00:00", "10:00:02:03", {24000, 1001, false}},
        {"room tone", "", "A2", "10:00:00:00", "10:00:02:00", {25, 1, false}},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(want[i].clip);
        const EditEvent& e = list.events[i];
        EXPECT_EQ(e.clipName, want[i].clip);
        EXPECT_EQ(e.sourceFile, want[i].file);
        EXPECT_EQ(e.tracks, want[i].track);
        EXPECT_TRUE(e.audio);
        EXPECT_EQ(e.sourceIn, want[i].in);
        EXPECT_EQ(e.sourceOut, want[i].out);
        ASSERT_TRUE(e.rate);
        EXPECT_EQ(*e.rate, want[i].rate);
    }
    // A whole rate is counted as it is: samples at 48 kHz are labels of one sample.
    const EditList samples = readOTIO(R"({"OTIO_SCHEMA": "Track.1", "kind": "Audio", "children": [{"OTIO_SCHEMA": "Clip.1",
        "source_range": {"start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 48000, "value": 1728000000},
                         "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 48000, "value": 48000}}}]})");
    ASSERT_EQ(samples.events.size(), 1u);
    EXPECT_EQ(samples.events[0].sourceIn, "10:00:00:00");
    EXPECT_EQ(samples.events[0].sourceOut, "10:00:01:00");
    EXPECT_EQ(*samples.events[0].rate, (TimecodeRate{48000, 1, false}));
    for (const char* bad : {"[1, 2]", "{\"OTIO_SCHEMA\": \"Clip.1\"}", "{\"OTIO_SCHEMA\": \"Timeline.1\"}", "{ not json",
                            R"({"OTIO_SCHEMA": "Track.1", "kind": "Audio", "children": [{"OTIO_SCHEMA": "Clip.1", "name": "x"}]})",
                            R"({"OTIO_SCHEMA": "Track.1", "kind": "Audio", "children": [{"OTIO_SCHEMA": "Clip.1", "source_range":
                               {"start_time": {"OTIO_SCHEMA": "RationalTime.1", "rate": 0, "value": 1},
                                "duration": {"OTIO_SCHEMA": "RationalTime.1", "rate": 24, "value": 1}}}]})"})
        EXPECT_THROW(readOTIO(bad), BWFError) << bad;
}

}  // namespace
}  // namespace keeptime
