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

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::int64_t parseInt(const std::string& decimal) { return std::stoll(decimal); }

class BWFReconstructorTest : public ::testing::Test {
protected:
    // Writes wav, copies [start, end) and returns the copy's bytes.
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

// 10.2 s of 48 kHz stereo 24-bit audio.
WavWriter tenSeconds(const std::string& xml = ixmlText("1728000000", "1728000000"),
                     std::int64_t bext = 1728000000) {
    return std::move(WavWriter().bext(bext).ixml(xml).fmt().data(audioPattern(489600 * 6)));
}

// What a copy's header must be: the file built with the moved values, with the
// RIFF size of a copy of copyLength bytes.
Bytes headerOf(const WavWriter& expected, std::size_t copyLength) {
    Bytes bytes = expected.build();
    bytes.resize(expected.dataOffset());
    writeLE<std::uint32_t>(bytes, 4, static_cast<std::uint32_t>(copyLength - 8));
    return bytes;
}

TEST_F(BWFReconstructorTest, CopiesTheChosenFramesWithRewrittenSizes) {
    const WavWriter wav = tenSeconds();
    const Bytes in = wav.build();
    const Bytes out = trim(wav, 1.5, 3.25);
    const std::size_t d = wav.dataOffset();

    ASSERT_EQ(out.size(), d + 8 + 504000);
    EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8);
    EXPECT_EQ(text(Bytes(out.begin() + d, out.begin() + d + 4)), "data");
    EXPECT_EQ(*readLE<std::uint32_t>(out, d + 4), 504000u);
    EXPECT_TRUE(std::equal(out.begin() + d + 8, out.end(), in.begin() + d + 8 + 432000));
    // Every other header byte is the input's: the stamp moved by 72000 samples.
    EXPECT_EQ(text(Bytes(out.begin(), out.begin() + d)),
              text(headerOf(tenSeconds(ixmlText("1728072000", "1728072000"), 1728072000), out.size())));
    EXPECT_EQ(log.str(), "Done\n504000 == 504000 == 504000\n");
}

TEST_F(BWFReconstructorTest, OutPointsNearTheEndTakeEveryFrame) {
    struct Case {
        std::size_t frames;
        double end;
        std::int64_t expectedFrames;
    };
    const Case cases[] = {
        {489600, 10.1, 489600},    // trunc(end) is the last whole second
        {489600, 10.2, 489600},    // the length the window computes
        {489600, 500.0, 489600},   // past the end
        {489600, 9.99, 479520},
        {24000, 0.25, 24000},      // under a second: every out point reaches the end
        {24000, 0.0, 24000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        WavWriter().fmt().data(audioPattern(c.frames * 6)).write(dir / "in.wav");
        BWFReconstructor job(dir / "in.wav", dir / "out.wav", 0, c.end, log);
        EXPECT_EQ(job.frames(), c.expectedFrames);
        EXPECT_EQ(job.audioLength, c.expectedFrames * 6);
    }
}

TEST_F(BWFReconstructorTest, MovesTheTimeReferenceExactly) {
    struct Case {
        const char* name;
        std::string xml;
        std::int64_t bext;
        double start;
        bool weirdTC;
        std::int64_t expected;
        std::int64_t bextAfter;  // bext moves only where it held the old value
    };
    const Case cases[] = {
        // The float form trunc(R × (start + old ÷ R)) would give 1728000011 here.
        {"start 0 keeps the stamp", ixmlText("1728000012", {}), 1728000012, 0, false, 1728000012,
         1728000012},
        {"weird TC counts 48048 per second", ixmlText("1729728000", {}), 1729728000, 2.0, true,
         1729824096, 1729824096},
        {"new text contains the old", ixmlText("48000", "48000"), 48000, 9, false, 480000, 480000},
        {"fraction of a sample dropped", ixmlText({}, "100"), 100, 1.00001, false, 48100, 48100},
        {"bext only", ixmlText({}, {}), 3917280000, 1, false, 3917328000, 3917328000},
        {"bext holding another value", ixmlText("-48000", {}), 7, 2, false, 48000, 7},
        // 12:01:14 typed as a time of day: 0.0567291... s, just under 2723 samples as a float.
        {"time of day lands on its sample", ixmlText("2077149277", {}), 2077149277,
         43274 - 2077149277 / 48000.0, false, 43274LL * 48000, 43274LL * 48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes out = trim(WavWriter().bext(c.bext).ixml(c.xml).fmt().data(audioPattern(48000 * 6 * 10)),
                               c.start, 100, c.weirdTC);
        BWFParser copy(dir / "out.wav", log);
        EXPECT_EQ(copy.samplesSinceMidnight(), c.expected);
        EXPECT_EQ(*readLE<std::int64_t>(out, 12 + 8 + 338), c.bextAfter);
    }
}

TEST_F(BWFReconstructorTest, LeavesEveryOtherNumberAlone) {
    // A zero stamp: a plain search would also hit dates, versions and runs of zero bytes.
    const std::string note = "take 0 of 0, 2026-12-06, v1.0";
    const std::string extra = "<TRACK>0</TRACK><BWF_TIME_REFERENCE_HIGH>0</BWF_TIME_REFERENCE_HIGH>";
    auto file = [&](const std::string& stamp) {
        return std::move(WavWriter().bext(parseInt(stamp)).ixml(ixmlText(stamp, stamp, note) + extra)
                             .fmt().data(audioPattern(96000 * 6)));
    };
    const WavWriter wav = file("0");
    const Bytes out = trim(wav, 1, 2);
    const WavWriter expected = file("48000");
    EXPECT_EQ(text(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.dataOffset()))),
              text(headerOf(expected, out.size())));
}

// When the stamp gains or loses digits the iXML chunk changes size: its size field,
// its pad byte, the RIFF and ds64 sizes must all still add up.
TEST_F(BWFReconstructorTest, ChunkSizesAddUpWhenTheTextChangesLength) {
    struct Case {
        const char* name;
        std::string timestamp;
        double start;
        std::string note;  // makes the iXML body odd or even
        bool rf64;
        bool twoChunks;    // the stamp also stands in an earlier chunk
    };
    const Case cases[] = {
        {"grows, even to odd", "48000", 9, "", false, false},
        {"grows, odd to even", "48000", 9, "x", false, false},
        {"grows by two", "480", 9, "", false, false},
        {"shrinks, odd to even", "-48000", 1, "x", false, false},
        {"shrinks, even to odd", "-48000", 1, "", false, false},
        {"rf64", "48000", 9, "x", true, false},
        {"two chunks grow", "48000", 9, "x", false, true},
        {"two chunks shrink", "-48000", 1, "", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavWriter wav;
        if (c.rf64) wav.rf64().ds64();
        if (c.twoChunks) wav.chunk("axml", ixmlText(c.timestamp, {}, "odd"));
        wav.ixml(ixmlText(c.timestamp, c.timestamp, c.note)).chunk("LIST", std::string("INFOISFT\4\0\0\0kt\0\0", 16))
            .fmt().data(audioPattern(48000 * 6 * 12));
        const Bytes in = wav.build();
        const Bytes out = trim(wav, c.start, 11);
        const ChunkWalk walk = walkChunks(out);
        ASSERT_TRUE(walk.data.has_value()) << "the copy's chunk list must lead to its data chunk";
        BWFParser copy(dir / "out.wav", log);
        EXPECT_EQ(copy.samplesSinceMidnight(),
                  std::stoll(c.timestamp) + static_cast<std::int64_t>(c.start * 48000));
        EXPECT_EQ(walk.chunks.back().name(), "fmt ");
        EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8);
        if (c.rf64) {
            EXPECT_EQ(*readLE<std::int64_t>(out, 20), static_cast<std::int64_t>(out.size()) - 8);
        }
        for (const auto& chunk : walk.chunks) {
            if (chunk.size & 1) {
                EXPECT_EQ(out[chunk.bodyEnd()], 0) << "pad byte of " << chunk.name();
            }
        }
        // The audio is still the input's, frame for frame.
        const std::size_t from = wav.dataOffset() + 8 + static_cast<std::size_t>(c.start * 48000) * 6;
        EXPECT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(*walk.data) + 8, out.end(),
                               in.begin() + static_cast<std::ptrdiff_t>(from)));
    }
}

TEST_F(BWFReconstructorTest, RF64CopiesBecomeRIFFWhenTheyFit) {
    const WavWriter wav = std::move(WavWriter().rf64().ds64().bext(1728000000).fmt().data(audioPattern(48000 * 6 * 3)));
    const Bytes out = trim(wav, 1, 2);
    EXPECT_EQ(text(Bytes(out.begin(), out.begin() + 4)), "RIFF");
    EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8);
    EXPECT_EQ(*readLE<std::int64_t>(out, 20), static_cast<std::int64_t>(out.size()) - 8);
    EXPECT_EQ(*readLE<std::int64_t>(out, 28), 288000);
    EXPECT_EQ(*readLE<std::int64_t>(out, 36), 48000);
    BWFParser copy(dir / "out.wav", log);  // now read as plain RIFF, sizes from the data chunk
    EXPECT_FALSE(copy.rf64());
    EXPECT_EQ(copy.audioDataLength(), 288000);
}

TEST_F(BWFReconstructorTest, LargeRF64CopiesStayRF64) {
    // Sparse input: the header is planned without copying 5 GB.
    WavWriter().rf64().ds64().bext(0).fmt().sparseData(5'000'000'004).write(dir / "in.wav");
    BWFReconstructor job(dir / "in.wav", dir / "out.wav", 0, 1e9, log);
    job.prepareHeader();
    EXPECT_EQ(text(Bytes(job.preData.begin(), job.preData.begin() + 4)), "RF64");
    EXPECT_EQ(*readLE<std::uint32_t>(job.preData, 4), 0xFFFFFFFFu) << "kept as the input had it";
    EXPECT_EQ(*readLE<std::int64_t>(job.preData, 20), job.fileLength - 8);
    EXPECT_EQ(*readLE<std::int64_t>(job.preData, 28), 5'000'000'004);
    EXPECT_EQ(*readLE<std::int64_t>(job.preData, 36), 5'000'000'004 / 6);
}

TEST_F(BWFReconstructorTest, OddAudioIsFollowedByAPadByte) {
    const WavWriter wav = std::move(WavWriter().fmt(1, 48000, 24).data(audioPattern(48000 * 3 * 2 + 3)));
    const Bytes out = trim(wav, 0, 100);
    const std::size_t d = wav.dataOffset();
    EXPECT_EQ(*readLE<std::uint32_t>(out, d + 4), 288003u) << "the data size leaves the pad out";
    EXPECT_EQ(out.size(), d + 8 + 288003 + 1);
    EXPECT_EQ(out.back(), 0);
    EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8) << "the RIFF size counts it";
}

TEST_F(BWFReconstructorTest, RefusesRangesAndOutputsItCannotCopy) {
    WavWriter().fmt().data(audioPattern(48000 * 6 * 2)).write(dir / "in.wav");
    std::filesystem::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    std::filesystem::create_symlink(dir / "in.wav", dir / "symlink.wav");
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double start, end;
        std::filesystem::path output;
        const char* reason;
    };
    const Case cases[] = {
        {"in after out", 1.5, 1, dir / "out.wav", "the in point 0:01 lies after the out point 0:01"},
        {"not a number", nan, 1, dir / "out.wav", "the in or out point is not a number"},
        {"infinite", 0, inf, dir / "out.wav", "the in or out point is not a number"},
        {"beyond 64 bits", 0, 1e300, dir / "out.wav", "the in or out point is out of range"},
        {"before the audio", -1, 1, dir / "out.wav", "the in point lies before the start of the audio"},
        {"after the audio", 5, 6, dir / "out.wav", "the in point 0:05 lies after the end of the audio"},
        {"same path", 0, 1, dir / "in.wav", "is the input file; the copy needs another name"},
        {"hard link", 0, 1, dir / "hardlink.wav", "is the input file; the copy needs another name"},
        {"symlink", 0, 1, dir / "symlink.wav", "is the input file; the copy needs another name"},
        {"folder", 0, 1, dir.path(), "is a folder; the copy needs a file name"},
    };
    const Bytes before = readFile(dir / "in.wav");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            BWFReconstructor job(dir / "in.wav", c.output, c.start, c.end, log);
            ADD_FAILURE() << "accepted";
        } catch (const BWFError& error) {
            EXPECT_EQ(error.reason(), c.reason);
        }
    }
    EXPECT_EQ(readFile(dir / "in.wav"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

TEST_F(BWFReconstructorTest, RefusesARIFFCopyOver4GiB) {
    // The header claims 4294967294 audio bytes; only the head is on disk.
    WavWriter().fmt().data(audioPattern(60)).dataSize(0xFFFFFFFEu).write(dir / "in.wav");
    try {
        BWFReconstructor job(dir / "in.wav", dir / "out.wav", 0, 1e6, log);
        ADD_FAILURE() << "accepted";
    } catch (const BWFError& error) {
        EXPECT_EQ(error.kind(), BWFError::Kind::BadRange);
        EXPECT_NE(error.reason().find("more than a RIFF file can hold"), std::string::npos);
    }
}

}  // namespace
