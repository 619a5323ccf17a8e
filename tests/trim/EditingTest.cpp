// The window's editing model without a display: undo across gestures, the shuttle,
// and moving between markers.
#include <gtest/gtest.h>

#include <string>

#include "tests/WavWriter.hpp"
#include "trim/History.hpp"
#include "trim/Selection.hpp"
#include "trim/TakeLanes.hpp"
#include "trim/Transport.hpp"

using namespace keeptime;
using I = std::int64_t;

namespace {

// A script of what the user does, one letter a move: a number sets the in point
// as a click does ("c5"), a drag holds a gesture over several moves ("[" "d1"
// "d2" "]"), "r" picks a rate, "t" ticks the take box, "u" undoes, "y" redoes.
// Each case gives the in points that undo then walks back through.
TEST(History, OneStepPerGestureUndoneAndRedone) {
    struct Case {
        const char* name;
        std::vector<std::string> moves;
        std::string shown;  // the state after the moves: in, rate's num (0: none), take box
    };
    const Case cases[] = {
        {"two clicks, one undo", {"c5", "c9", "u"}, "5 0 0"},
        {"undo to the start, and no further", {"c5", "c9", "u", "u", "u"}, "0 0 0"},
        {"a drag is one step", {"[", "d1", "d2", "d3", "]", "u"}, "0 0 0"},
        {"a drag that ends where it began is none", {"c4", "[", "d1", "d4", "]", "u"}, "0 0 0"},
        {"redo after undo", {"c5", "[", "d7", "d8", "]", "u", "u", "y", "y"}, "8 0 0"},
        {"a new step forgets the undone ones", {"c5", "c6", "u", "c7", "y"}, "7 0 0"},
        {"the rate is a step", {"c5", "r", "u"}, "5 0 0"},
        {"the take box is a step", {"t", "c2", "u", "u"}, "0 0 0"},
        {"redo brings the rate back", {"r", "u", "y"}, "0 25 0"},
        {"no undo while a drag is held", {"c5", "[", "d6", "u", "]"}, "6 0 0"},
        {"redoing the same state records nothing", {"c5", "c5", "u"}, "0 0 0"},
    };
    for (const Case& c : cases) {
        History history;
        EditState shown{0, 100, std::nullopt, false};
        history.reset(shown);
        for (const std::string& move : c.moves) {
            const char kind = move[0];
            if (kind == 'c' || kind == 'd') shown.in = std::stoll(move.substr(1));
            if (kind == 'r') shown.rate = TimecodeRate{25, 1, false};
            if (kind == 't') shown.wholeTake = !shown.wholeTake;
            if (kind == 'u' || kind == 'y') {
                if (auto state = kind == 'u' ? history.undo() : history.redo()) shown = *state;
                history.changed(shown);  // the window redraws what it applied
            } else if (kind == '[') {
                history.beginGesture();
            } else if (kind == ']') {
                history.endGesture(shown);
            } else {
                history.changed(shown);
            }
        }
        EXPECT_EQ(std::to_string(shown.in) + " " + std::to_string(shown.rate ? shown.rate->num : 0) + " " +
                      std::to_string(shown.wholeTake),
                  c.shown)
            << c.name;
    }
}

TEST(History, OldStepsAreForgottenBeyondTheLimit) {
    History history;
    history.reset({0, 10, std::nullopt, false});
    for (I i = 1; i <= I(History::kMaxSteps) + 5; ++i) history.changed({i, 10 + i, std::nullopt, false});
    I undone = 0;
    std::optional<EditState> state;
    while (auto back = history.undo()) state = back, ++undone;
    EXPECT_EQ(undone, I(History::kMaxSteps));
    EXPECT_EQ(state->in, 5);
}

// J, K and L as an editor presses them: each press and the speed after it.
TEST(Transport, ShuttleSpeeds) {
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"L", {1}},
        {"LL", {1, 2}},
        {"LLL", {1, 2, 2}},
        {"J", {-1}},
        {"JJJ", {-1, -2, -2}},
        {"LLJ", {1, 2, -1}},
        {"JJL", {-1, -2, 1}},
        {"LKJ", {1, 0, -1}},
        {"JK", {-1, 0}},
    };
    for (const auto& [keys, speeds] : cases) {
        Transport transport;
        std::vector<int> got;
        for (const char* key = keys; *key; ++key)
            got.push_back(*key == 'J' ? transport.back() : *key == 'K' ? transport.halt() : transport.forward());
        EXPECT_EQ(got, speeds) << keys;
    }
    // A reverse playhead stops at the start; a fast one at the end.
    const std::tuple<I, int, I, I> moves[] = {{1000, -1, 300, 700}, {1000, -2, 300, 400}, {100, -2, 300, 0},
                                              {1000, 2, 300, 1600}, {1900, 2, 300, 2000}, {5, 0, 300, 5}};
    for (const auto& [start, speed, elapsed, at] : moves)
        EXPECT_EQ(Transport::advanced(start, speed, elapsed, 2000), at) << start << " at " << speed;
}

// Markers at 100, 500 and a region 800 to 900 in a file of 1000 frames.
TEST(Selection, StretchesAndJumpsBetweenMarkers) {
    const std::vector<Marker> markers = {{1, 500, 0, "b"}, {2, 100, 0, "a"}, {3, 800, 100, "r"}};
    const std::vector<I> bounds = markerBounds(markers);
    EXPECT_EQ(bounds, (std::vector<I>{100, 500, 800, 900}));
    const std::tuple<I, std::pair<I, I>, std::optional<I>, std::optional<I>> cases[] = {
        // frame, double-click selects, "," goes to, "." goes to
        {50, {0, 100}, std::nullopt, 100},
        {100, {100, 500}, std::nullopt, 500},
        {101, {100, 500}, 100, 500},
        {850, {800, 900}, 800, 900},
        {950, {900, 1000}, 900, std::nullopt},
        {1000, {900, 1000}, 900, std::nullopt},
    };
    for (const auto& [frame, stretch, before, after] : cases) {
        EXPECT_EQ(stretchAround(bounds, 1000, frame), stretch) << frame;
        EXPECT_EQ(boundBefore(bounds, frame), before) << frame;
        EXPECT_EQ(boundAfter(bounds, frame), after) << frame;
    }
    EXPECT_EQ(stretchAround({}, 1000, 400), (std::pair<I, I>{0, 1000}));
    // Shift+click moves the nearer point; a tie moves the in point.
    const std::tuple<I, I, I, Point> clicks[] = {
        {100, 500, 50, Point::In}, {100, 500, 299, Point::In}, {100, 500, 300, Point::In},
        {100, 500, 301, Point::Out}, {100, 500, 900, Point::Out}, {100, 100, 100, Point::In}};
    for (const auto& [in, out, frame, point] : clicks) EXPECT_EQ(nearerPoint(in, out, frame), point) << frame;
}

// A file's markers as the window shows them: read through the file's chunks,
// also when they stand after the audio, and none from a cue chunk that does not add up.
TEST(Selection, MarkersOfAFile) {
    using namespace keeptime::testing;
    TempDir dir;
    auto labl = [](std::uint32_t id, const std::string& words) {
        Bytes body = cat({u32(id), Bytes(words.begin(), words.end()), {0}});
        return cat({Bytes{'l', 'a', 'b', 'l'}, u32(body.size()), body, Bytes(body.size() % 2, 0)});
    };
    const Bytes list = cat({Bytes{'a', 'd', 't', 'l'}, labl(1, "slate"), labl(2, "past the end")});
    const std::tuple<const char*, Bytes, std::string> cases[] = {
        {"labelled, inside the audio", cue({point(1, 0, 4000), point(2, 0, 48001)}), "4000 slate"},
        {"a cue chunk that does not add up", cue({point(1, 0, 4000)}, 9), ""},
    };
    for (const auto& [name, cueBody, shown] : cases) {
        const auto path = dir / "m.wav";
        WavWriter().fmt().data(Bytes(48000 * 6)).chunk("cue ", cueBody).chunk("LIST", list).write(path);
        const FileHandle file = FileHandle::openForReading(path);
        std::string got;
        for (const Marker& m : markersOf(file, BWFParser(file))) got += std::to_string(m.frame) + " " + m.label;
        EXPECT_EQ(got, shown) << name;
    }
}

// A take's files start at different samples of the day: each is placed under the opened
// file's frames where its first frame's time lies, before or after, and named by its tracks.
TEST(TakeLanes, MembersAlignedByTimeOfDay) {
    using namespace keeptime::testing;
    TempDir dir;
    const I stamp = 1'728'000'000;
    auto member = [&](const std::string& name, const std::string& index, I delta, int channels, int rate,
                      const std::string& tracks) {
        std::string xml = takeIXML("UID-9", "4", index, stamp + delta);
        xml.insert(xml.find("</BWFXML>"), tracks);
        WavWriter().ixml(xml).fmt(channels, rate).sparseData(rate * 6 * channels / 2).write(dir / name);
        return dir / name;
    };
    const std::string two = "<TRACK_LIST><TRACK><NAME>Boom</NAME></TRACK><TRACK><NAME>Lav 1</NAME></TRACK></TRACK_LIST>";
    const std::vector<std::filesystem::path> members = {
        member("T1.wav", "1", 0, 1, 48000, ""), member("T2.wav", "2", 3, 2, 48000, two),
        member("T3.wav", "3", -2, 1, 48000, ""), member("T4.wav", "4", 0, 1, 44100, "")};
    for (const auto& opened : {members[0], members[1]}) {
        const TakeLayout layout = layTake(members, opened, {});
        std::string placed;
        for (const TakeTrack& track : layout.tracks) {
            placed += track.file.filename().string() + "@" + std::to_string(track.offset);
            for (const auto& name : track.laneNames) placed += " " + name;
            placed += "; ";
        }
        EXPECT_EQ(placed, opened == members[0] ? "T1.wav@0 T1; T2.wav@3 Boom Lav 1; T3.wav@-2 T3; "
                                               : "T2.wav@0 Boom Lav 1; T1.wav@-3 T1; T3.wav@-5 T3; ");
        ASSERT_EQ(layout.problems.size(), 1u);
        EXPECT_EQ(layout.problems[0], "T4.wav plays at 44100 Hz, not at the take's 48000 Hz");
    }
    EXPECT_EQ(trackTitle(BWFParser(members[1]), members[1]), "Boom, Lav 1");
    EXPECT_EQ(trackTitle(BWFParser(members[2]), members[2]), "T3");
}

}  // namespace
