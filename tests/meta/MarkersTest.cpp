#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string_view>

#include "meta/Markers.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;

namespace {

const KeptFrames kept{100, 200};

using namespace keeptime::testing;

Bytes text(std::string_view chars) { return {chars.begin(), chars.end()}; }
Bytes sub(std::string_view id, const Bytes& b) { return cat({text(id), u32(b.size()), b, Bytes(b.size() % 2, 0)}); }
Bytes label(std::uint32_t id, std::string_view words, std::string_view kind = "labl") {
    return sub(kind, cat({u32(id), text(words), {0}}));
}
Bytes adtl(const std::vector<Bytes>& subs) { return cat({text("adtl"), cat(subs)}); }
// Loop type 0, fraction 0, play count 1; three bytes of sampler data follow the loops.
Bytes loop(std::uint32_t id, std::uint32_t start, std::uint32_t last) {
    return cat({u32(id), u32(0), u32(start), u32(last), u32(0), u32(1)});
}
Bytes smpl(const std::vector<Bytes>& loops, std::optional<std::uint32_t> count = {}) {
    return cat({Bytes(28, 0x5A), u32(count.value_or(loops.size())), u32(3), cat(loops), {0xAB, 0xCD, 0xEF}});
}

// Each edit: the body before and after; `changed` says whether they differ.
template <class Edit> void check(const char* name, const Edit& edit, const Bytes& in, const Bytes& out) {
    ASSERT_TRUE(edit) << name;
    EXPECT_EQ(edit->body, out) << name;
    EXPECT_EQ(edit->changed, in != out) << name;
}

TEST(MarkersTest, CuePointsMoveOrGo) {
    const std::tuple<const char*, Bytes, Bytes, std::vector<std::uint32_t>> cases[] = {
        {"inside: both positions move", cue({point(1, 150, 150)}), cue({point(1, 50, 50)}), {}},
        {"play position 0 stays 0", cue({point(1, 0, 150)}), cue({point(1, 0, 50)}), {}},
        {"other play position stays", cue({point(1, 7, 150)}), cue({point(1, 7, 50)}), {}},
        {"at first: kept", cue({point(1, 100, 100)}), cue({point(1, 0, 0)}), {}},
        {"last kept frame", cue({point(1, 199, 199)}), cue({point(1, 99, 99)}), {}},
        {"before first", cue({point(1, 99, 99), point(2, 150, 150)}), cue({point(2, 50, 50)}), {1}},
        {"at end", cue({point(1, 200, 200), point(2, 0, 300)}), cue({}), {1, 2}},
        {"not in data: unchanged", cue({point(1, 5, 5, "slnt")}), cue({point(1, 5, 5, "slnt")}), {}},
        {"trailing bytes kept", cat({cue({point(1, 300, 300), point(2, 150, 150)}), text("xyz")}),
         cat({cue({point(2, 50, 50)}), text("xyz")}), {1}},
        {"ID a kept point still has", cue({point(4, 5, 5), point(4, 150, 150)}), cue({point(4, 50, 50)}), {}},
    };
    for (const auto& [name, in, out, removed] : cases) {
        const auto edit = moveCuePoints(in, kept);
        check(name, edit, in, out);
        EXPECT_EQ(edit ? edit->removed : removed, removed) << name;
    }
}

TEST(MarkersTest, SubChunksOfRemovedPointsGo) {
    const std::uint32_t removed[] = {1, 3};
    const Bytes ltxt = sub("ltxt", cat({u32(3), u32(10), text("rgn "), Bytes(8, 0), text("x"), {0}}));
    Bytes unpadded = label(2, "ab");
    unpadded.pop_back();
    const Bytes info = cat({text("INFO"), label(1, "ab", "INAM")});
    const std::tuple<const char*, Bytes, Bytes> cases[] = {
        {"odd label goes with its pad byte", adtl({label(1, "ab"), label(2, "cd")}), adtl({label(2, "cd")})},
        {"kept odd label keeps its pad byte", adtl({label(2, "ab"), label(1, "c")}), adtl({label(2, "ab")})},
        {"every kind goes", adtl({label(3, "n", "note"), ltxt, label(1, "f", "file"), label(2, "")}),
         adtl({label(2, "")})},
        {"last without its pad byte", cat({adtl({label(1, "a")}), unpadded}), cat({adtl({}), unpadded})},
        {"no room for an ID: kept", adtl({sub("labl", {1}), label(1, "a")}), adtl({sub("labl", {1})})},
        {"nothing removed: unchanged", adtl({label(2, "ab")}), adtl({label(2, "ab")})},
        {"other form: untouched", info, info},
    };
    for (const auto& [name, in, out] : cases) check(name, dropLabels(in, removed), in, out);
}

TEST(MarkersTest, RegionsEndWithTheCopy) {
    const auto region = [](std::uint32_t id, std::uint32_t length) {
        return sub("ltxt", cat({u32(id), u32(length), text("rgn "), Bytes(8, 0), text("x"), {0}}));
    };
    const std::map<std::uint32_t, std::uint32_t> room = {{1, 50}, {2, 80}};
    const std::tuple<const char*, Bytes, Bytes> cases[] = {
        {"past the end: cut", adtl({label(1, "a"), region(1, 60)}), adtl({label(1, "a"), region(1, 50)})},
        {"inside: kept", adtl({region(2, 80), region(1, 50)}), adtl({region(2, 80), region(1, 50)})},
        {"no room known: kept", adtl({region(3, 900)}), adtl({region(3, 900)})},
    };
    for (const auto& [name, in, out] : cases) check(name, cutRegions(in, room), in, out);
    EXPECT_FALSE(cutRegions(adtl({cat({text("ltxt"), u32(40), u32(1)})}), room));
}

TEST(MarkersTest, LoopsWhollyInsideMoveOthersGo) {
    const std::tuple<const char*, Bytes, Bytes> cases[] = {
        {"inside, both edges", smpl({loop(1, 100, 199)}), smpl({loop(1, 0, 99)})},
        {"straddling first", smpl({loop(1, 99, 150), loop(2, 120, 130)}), smpl({loop(2, 20, 30)})},
        {"last frame at end", smpl({loop(1, 150, 200)}), smpl({})},
        {"outside", smpl({loop(1, 10, 20), loop(2, 300, 400)}), smpl({})},
        {"no loops", smpl({}), smpl({})},
    };
    for (const auto& [name, in, out] : cases) check(name, moveLoops(in, kept), in, out);
}

TEST(MarkersTest, BodiesThatDoNotAddUpAreRefused) {
    const std::uint32_t removed[] = {1};
    for (const Bytes& body : {Bytes{1, 0, 0}, cue({point(1, 150, 150)}, 2), cue({}, 0xFFFFFFFF)})
        EXPECT_FALSE(moveCuePoints(body, kept));
    const Bytes pastTheBody = cat({text("labl"), u32(20), u32(1), text("ab")});
    for (const Bytes& body : {text("adt"), adtl({pastTheBody}), adtl({label(2, "a"), text("lab")})})
        EXPECT_FALSE(dropLabels(body, removed));
    for (const Bytes& body : {Bytes(35, 0), smpl({loop(1, 150, 160)}, 2)}) EXPECT_FALSE(moveLoops(body, kept));
}

}  // namespace

namespace {

// Markers read from cue and adtl bodies: labels and region lengths joined by ID, by frame.
TEST(MarkersTest, MarkersReadWithTheirLabelsAndLengths) {
    auto ltxt = [](std::uint32_t id, std::uint32_t length) {
        return sub("ltxt", cat({u32(id), u32(length), text("rgn "), Bytes(8, 0)}));
    };
    struct Case {
        const char* name;
        Bytes cueBody;
        std::vector<Bytes> lists;
        std::string read;  // frame:length:label, space-separated
    };
    const Case cases[] = {
        {"by frame, labelled", cue({point(1, 0, 900), point(2, 0, 300)}),
         {adtl({label(1, "Take 2"), label(2, "clap")})}, "300:0:clap 900:0:Take 2"},
        {"a region", cue({point(7, 0, 50)}), {adtl({ltxt(7, 480), label(7, "line")})}, "50:480:line"},
        {"labels in a second list", cue({point(1, 0, 5)}), {adtl({}), adtl({label(1, "b")})}, "5:0:b"},
        {"no list: no labels", cue({point(1, 0, 5)}), {}, "5:0:"},
        {"not in data: no marker", cue({point(1, 0, 5, "slnt")}), {}, ""},
        {"an INFO list is no label", cue({point(1, 0, 5)}), {cat({text("INFO"), label(1, "x")})}, "5:0:"},
        {"a label that does not fit stops the list", cue({point(1, 0, 5)}),
         {adtl({cat({text("labl"), u32(99), u32(1)})})}, "5:0:"},
        {"a cue that does not add up: none", cue({point(1, 0, 5)}, 3), {}, ""},
    };
    for (const Case& c : cases) {
        std::vector<ByteView> lists(c.lists.begin(), c.lists.end());
        std::string read;
        for (const Marker& m : readMarkers(c.cueBody, lists))
            read += (read.empty() ? "" : " ") + std::to_string(m.frame) + ":" + std::to_string(m.length) + ":" + m.label;
        EXPECT_EQ(read, c.read) << c.name;
    }
}

}  // namespace
