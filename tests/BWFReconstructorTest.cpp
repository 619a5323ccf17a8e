#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "bwf/BWFError.hpp"
#include "bwf/BWFReconstructor.hpp"
#include "bwf/ChunkWalk.hpp"
#include "tests/TempDir.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

std::string text(const Bytes& bytes, std::size_t length) { return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)); }

class BWFReconstructorTest : public ::testing::Test {
protected:
    Bytes trim(const WavWriter& wav, double start, double end, bool weirdTC = false) {
        wav.write(dir / "in.wav");
        BWFReconstructor job(dir / "in.wav", dir / "out.wav", start, end, log);
        job.weirdTC = weirdTC;
        auto outcome = job.process();
        EXPECT_TRUE(outcome.completed()) << outcome.message;
        return readFile(dir / "out.wav");
    }
    TempDir dir;
    std::ostringstream log;
};

// 10.2 s of 48 kHz stereo 24-bit audio stamped `stamp` in bext and both tags.
WavWriter take(const std::string& stamp = "1728000000", const std::string& note = "") {
    return std::move(WavWriter().bext(std::stoll(stamp)).ixml(ixmlText(stamp, stamp, note)).fmt().data(audioPattern(489600 * 6)));
}

// A copy's header must be the file built with the moved stamp, with the copy's RIFF size.
Bytes headerOf(const WavWriter& moved, std::size_t copyLength) {
    Bytes bytes = moved.build();
    bytes.resize(moved.dataOffset());
    writeLE<std::uint32_t>(bytes, 4, static_cast<std::uint32_t>(copyLength - 8));
    return bytes;
}

TEST_F(BWFReconstructorTest, CopiesTheChosenFramesWithRewrittenSizes) {
    const WavWriter wav = take();
    const Bytes in = wav.build(), out = trim(wav, 1.5, 3.25);
    const std::size_t d = wav.dataOffset();
    ASSERT_EQ(out.size(), d + 8 + 504000);
    EXPECT_EQ(text(headerOf(take("1728072000"), out.size()), d), text(out, d));
    EXPECT_EQ(std::string(out.begin() + d, out.begin() + d + 4), "data");
    EXPECT_EQ(*readLE<std::uint32_t>(out, d + 4), 504000u);
    EXPECT_TRUE(std::equal(out.begin() + d + 8, out.end(), in.begin() + d + 8 + 432000));
    EXPECT_EQ(log.str(), "Done\n504000 == 504000 == 504000\n");
}

TEST_F(BWFReconstructorTest, OutPointsInTheLastSecondTakeEveryFrame) {
    const std::tuple<std::size_t, double, std::int64_t> cases[] = {
        {489600, 10.1, 489600}, {489600, 10.2, 489600}, {489600, 500.0, 489600},
        {489600, 9.99, 479520}, {24000, 0.25, 24000},   {24000, 0.0, 24000},  // under a second
    };
    for (const auto& [frames, end, expected] : cases) {
        WavWriter().fmt().sparseData(static_cast<std::int64_t>(frames * 6)).write(dir / "in.wav");
        EXPECT_EQ(BWFReconstructor(dir / "in.wav", dir / "out.wav", 0, end, log).frames(), expected) << end;
    }
}

TEST_F(BWFReconstructorTest, MovesTheTimeReferenceExactly) {
    // name, tags, bext, start, weird TC, stamp after, bext after (it moves only where it held the stamp)
    const std::tuple<const char*, std::string, std::int64_t, double, bool, std::int64_t, std::int64_t> cases[] = {
        // As floats, trunc(R × (start + old ÷ R)) gives 1728000011.
        {"start 0 keeps it", ixmlText("1728000012", {}), 1728000012, 0, false, 1728000012, 1728000012},
        {"weird TC", ixmlText("1729728000", {}), 1729728000, 2.0, true, 1729824096, 1729824096},
        {"new text contains the old", ixmlText("48000", "48000"), 48000, 9, false, 480000, 480000},
        {"bext only", ixmlText({}, {}), 3917280000, 1, false, 3917328000, 3917328000},
        {"bext holding another value", ixmlText("-48000", {}), 7, 2, false, 48000, 7},
        // 12:01:14 typed as a time of day: just under 2723 samples as a float.
        {"a typed second lands on its sample", ixmlText("2077149277", {}), 2077149277,
         43274 - 2077149277 / 48000.0, false, 43274LL * 48000, 43274LL * 48000},
    };
    for (const auto& [name, xml, bext, start, weirdTC, after, bextAfter] : cases) {
        const Bytes out = trim(WavWriter().bext(bext).ixml(xml).fmt().data(audioPattern(48000 * 6 * 10)), start, 100, weirdTC);
        EXPECT_EQ(BWFParser(dir / "out.wav", log).samplesSinceMidnight(), after) << name;
        EXPECT_EQ(*readLE<std::int64_t>(out, 12 + 8 + 338), bextAfter) << name;
    }
}

TEST_F(BWFReconstructorTest, LeavesEveryOtherNumberAlone) {
    // A zero stamp: a plain search would also hit the date, version and runs of zero bytes.
    const std::string note = "take 0 of 0, 2026-12-06, v1.0</NOTE><BWF_TIME_REFERENCE_HIGH>0</BWF_TIME_REFERENCE_HIGH><NOTE>";
    const Bytes out = trim(take("0", note), 1, 2);
    const WavWriter moved = take("48000", note);
    EXPECT_EQ(text(out, moved.dataOffset()), text(headerOf(moved, out.size()), moved.dataOffset()));
}

// When the stamp gains or loses digits, chunk sizes, pad bytes and the RIFF and ds64
// sizes must still add up, and the audio must still be the input's.
TEST_F(BWFReconstructorTest, ChunkSizesAddUpWhenTheTextChangesLength) {
    const std::tuple<const char*, std::string, double, std::string, bool, bool> cases[] = {
        // name, stamp, start, note (odd or even iXML body), rf64, stamp also in an earlier chunk
        {"grows, even to odd", "48000", 9, "", false, false},  {"grows, odd to even", "48000", 9, "x", false, false},
        {"grows by two", "480", 9, "", false, false},           {"shrinks", "-48000", 1, "x", false, false},
        {"rf64", "48000", 9, "x", true, false},                 {"two chunks grow", "48000", 9, "x", false, true},
        {"two chunks shrink", "-48000", 1, "", true, true},
    };
    for (const auto& [name, stamp, start, note, rf64, twoChunks] : cases) {
        SCOPED_TRACE(name);
        WavWriter wav;
        if (rf64) wav.rf64().ds64();
        if (twoChunks) wav.chunk("axml", ixmlText(stamp, {}, "odd"));
        wav.ixml(ixmlText(stamp, stamp, note)).chunk("LIST", std::string("INFOISFT\3\0\0\0kt\0\0", 16)).fmt().data(audioPattern(48000 * 6 * 12));
        const Bytes in = wav.build(), out = trim(wav, start, 11);
        const ChunkWalk walk = walkChunks(out);
        ASSERT_TRUE(walk.data.has_value());
        EXPECT_EQ(walk.chunks.back().name(), "fmt ");
        for (const auto& chunk : walk.chunks)
            EXPECT_TRUE(!(chunk.size & 1) || out[chunk.bodyEnd()] == 0) << "pad byte of " << chunk.name();
        EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8);
        EXPECT_TRUE(!rf64 || *readLE<std::int64_t>(out, 20) == static_cast<std::int64_t>(out.size()) - 8);
        EXPECT_EQ(BWFParser(dir / "out.wav", log).samplesSinceMidnight(), std::stoll(stamp) + static_cast<std::int64_t>(start * 48000));
        const std::size_t from = wav.dataOffset() + 8 + static_cast<std::size_t>(start * 48000) * 6;
        EXPECT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(*walk.data) + 8, out.end(), in.begin() + static_cast<std::ptrdiff_t>(from)));
    }
}

TEST_F(BWFReconstructorTest, RF64CopiesBecomeRIFFOnlyWhenTheyFit) {
    const Bytes out = trim(WavWriter().rf64().ds64().bext(0).fmt().data(audioPattern(48000 * 6 * 3)), 1, 2);
    EXPECT_EQ(text(out, 4), "RIFF");
    EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8);
    EXPECT_EQ(*readLE<std::int64_t>(out, 20), static_cast<std::int64_t>(out.size()) - 8);  // ds64 RIFF size
    EXPECT_EQ(*readLE<std::int64_t>(out, 28), 288000);                                      // data size
    EXPECT_EQ(*readLE<std::int64_t>(out, 36), 48000);                                       // frames
    EXPECT_FALSE(BWFParser(dir / "out.wav", log).rf64());

    // Sparse input: the header of a 5 GB copy is planned without copying.
    WavWriter().rf64().ds64().bext(0).fmt().sparseData(5'000'000'004).write(dir / "big.wav");
    BWFReconstructor job(dir / "big.wav", dir / "out.wav", 0, 1e9, log);
    job.prepareHeader();
    EXPECT_EQ(text(job.preData, 4), "RF64");
    EXPECT_EQ(*readLE<std::uint32_t>(job.preData, 4), 0xFFFFFFFFu) << "kept as the input had it";
    EXPECT_EQ(*readLE<std::int64_t>(job.preData, 20), job.fileLength - 8);
    EXPECT_EQ(*readLE<std::int64_t>(job.preData, 28), 5'000'000'004);
}

TEST_F(BWFReconstructorTest, OddAudioIsFollowedByAPadByteThatOnlyTheRIFFSizeCounts) {
    const WavWriter wav = std::move(WavWriter().fmt(1, 48000, 24).data(audioPattern(288003)));
    const Bytes out = trim(wav, 0, 100);
    EXPECT_EQ(*readLE<std::uint32_t>(out, wav.dataOffset() + 4), 288003u);
    EXPECT_EQ(out.size(), wav.dataOffset() + 8 + 288003 + 1);
    EXPECT_EQ(std::pair(out.back(), *readLE<std::uint32_t>(out, 4)), std::pair(std::uint8_t{0}, std::uint32_t(out.size() - 8)));
}

TEST_F(BWFReconstructorTest, RefusesWhatItCannotCopy) {
    WavWriter().fmt().data(audioPattern(48000 * 6 * 2)).write(dir / "in.wav");
    WavWriter().fmt().data(audioPattern(60)).dataSize(0xFFFFFFFEu).write(dir / "huge.wav");  // claims 4 GiB
    std::filesystem::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    std::filesystem::create_symlink(dir / "in.wav", dir / "symlink.wav");
    const double inf = std::numeric_limits<double>::infinity();
    const std::tuple<std::string, double, double, std::filesystem::path, const char*> cases[] = {
        {"in.wav", 1.5, 1, "out.wav", "the in point 0:01 lies after the out point 0:01"},
        {"in.wav", std::nan(""), 1, "out.wav", "the in or out point is not a number"},
        {"in.wav", 0, inf, "out.wav", "the in or out point is not a number"},
        {"in.wav", 0, 1e300, "out.wav", "the in or out point is out of range"},
        {"in.wav", -1, 1, "out.wav", "the in point lies before the start of the audio"},
        {"in.wav", 5, 6, "out.wav", "the in point 0:05 lies after the end of the audio"},
        {"in.wav", 0, 1, "in.wav", "is the input file; the copy needs another name"},
        {"in.wav", 0, 1, "hardlink.wav", "is the input file; the copy needs another name"},
        {"in.wav", 0, 1, "symlink.wav", "is the input file; the copy needs another name"},
        {"in.wav", 0, 1, ".", "is a folder; the copy needs a file name"},
        {"huge.wav", 0, 1e6, "out.wav",
         "the copy would be 4294967336 bytes, more than a RIFF file can hold (4294967295); choose a shorter range"},
    };
    const Bytes before = readFile(dir / "in.wav");
    for (const auto& [input, start, end, output, reason] : cases) {
        try {
            BWFReconstructor job(dir / input, dir / output, start, end, log);
            ADD_FAILURE() << "accepted; expected: " << reason;
        } catch (const BWFError& error) {
            EXPECT_EQ(error.reason(), reason);
        }
    }
    EXPECT_EQ(readFile(dir / "in.wav"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

}  // namespace
