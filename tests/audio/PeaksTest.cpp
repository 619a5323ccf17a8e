// The peak reader against a plain decode of every sample, per format, channel count, length and range;
// its coarse overview, cancelling, and a file cut short while open.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "recording/BWFParser.hpp"
#include "audio/Peaks.hpp"
#include "tests/WavWriter.hpp"

namespace keeptime {
namespace {

using testing::TempDir;
using testing::WavWriter;

struct Opened {
    explicit Opened(const std::filesystem::path& path)
        : file(std::make_shared<const FileHandle>(FileHandle::openForReading(path))), parser(*file), reader(file, parser) {}
    std::shared_ptr<const FileHandle> file;
    BWFParser parser;
    PcmReader reader;
};

// Every sample decoded on its own, min and max per bucket and channel.
std::vector<std::int16_t> reference(const PcmReader& reader, std::int64_t perBucket, std::int64_t first, std::int64_t count) {
    const Bytes bytes = reader.readRaw(first, count);
    const SampleFormat& f = reader.format();
    std::vector<std::int16_t> values;
    for (std::size_t frame = 0; frame * reader.bytesPerFrame() < bytes.size(); ++frame) {
        if (frame % perBucket == 0)
            for (int c = 0; c < f.channels; ++c) values.insert(values.end(), {INT16_MAX, INT16_MIN});
        std::int16_t* bucket = &values[values.size() - 2 * f.channels];
        for (int c = 0; c < f.channels; ++c) {
            const std::int16_t v = sampleAs16(&bytes[frame * reader.bytesPerFrame() + c * f.bytesPerSample], f);
            bucket[2 * c] = std::min(bucket[2 * c], v), bucket[2 * c + 1] = std::max(bucket[2 * c + 1], v);
        }
    }
    return values;
}

// Integer audio: random bytes. Float audio: values up to ±1.25 (some clamped), a NaN and infinities among them.
Bytes audio(std::size_t samples, int bits, bool isFloat) {
    Bytes bytes = testing::audioPattern(samples * (bits / 8));
    if (!isFloat) return bytes;
    for (std::size_t i = 0; i < samples; ++i) {
        double v = std::int32_t(readLE<std::uint32_t>(bytes, i * (bits / 8)).value_or(0)) / 2147483648.0 * 1.25;
        if (i % 97 == 5) v = i % 3 ? NAN : i % 2 ? INFINITY : -INFINITY;
        if (bits == 32) writeLE(bytes, i * 4, std::bit_cast<std::uint32_t>(float(v)));
        else writeLE(bytes, i * 8, std::bit_cast<std::uint64_t>(v));
    }
    return bytes;
}

struct Case {
    const char* name;
    int bits, channels;
    bool isFloat, extensible;
    std::int64_t frames, perBucket, first = 0, count = -1;
};

class PeaksMatchTheSamples : public ::testing::TestWithParam<Case> {};

TEST_P(PeaksMatchTheSamples, BucketByBucket) {
    const Case& c = GetParam();
    TempDir dir;
    WavWriter()
        .fmt(c.channels, 48000, c.bits, c.isFloat ? 3 : 1, c.extensible)
        .data(audio(std::size_t(c.frames * c.channels), c.bits, c.isFloat))
        .write(dir / "in.wav");
    const Opened in(dir / "in.wav");
    int calls = 0;
    const Peaks peaks = PeakReader(in.reader, c.perBucket, c.first, c.count).run([&](const Peaks&) { ++calls; });
    const std::int64_t first = std::min(c.first, c.frames);
    const std::int64_t count = c.count < 0 ? c.frames - first : std::min(c.count, c.frames - first);
    EXPECT_EQ(std::tuple(peaks.channels, peaks.firstFrame, peaks.frames, peaks.exactBuckets),
              std::tuple(c.channels, first, count, (count + c.perBucket - 1) / c.perBucket));
    EXPECT_EQ(peaks.values, reference(in.reader, c.perBucket, first, count));
    EXPECT_LE(calls, 20);
}

const std::int64_t kTwoBlocks = (5 << 20) / 6 + 7;  // 24-bit stereo over several blocks, buckets across their ends
const std::int64_t kThreaded = (9 << 20) / 4 + 3;    // 16-bit stereo over 8 MiB: read in parts, one per core
INSTANTIATE_TEST_SUITE_P(Formats, PeaksMatchTheSamples, ::testing::Values(
    Case{"int8_mono", 8, 1, false, false, 10007, 64},
    Case{"int16_stereo", 16, 2, false, false, 10007, 100},
    Case{"int24_six", 24, 6, false, false, 10007, 33},
    Case{"int24_extensible_stereo", 24, 2, false, true, kTwoBlocks, 400000},
    Case{"int32_stereo", 32, 2, false, false, 4099, 1},
    Case{"int16_four", 16, 4, false, false, 10007, 300},
    Case{"int24_eight", 24, 8, false, false, 10007, 129},
    Case{"int24_five", 24, 5, false, false, 3001, 10},  // a channel count that fills no round of lanes
    Case{"float32_six", 32, 6, true, false, 10007, 256},
    Case{"float32_extensible_mono", 32, 1, true, true, 5003, 7},
    Case{"float64_stereo", 64, 2, true, false, 10007, 50},
    Case{"range_int16_six", 16, 6, false, false, 10007, 100, 1234, 5555},
    Case{"range_to_the_end", 24, 2, false, false, 10007, 100, 9990},
    Case{"range_past_the_end", 24, 2, false, false, 100, 10, 150, 10},
    Case{"empty_audio", 16, 2, false, false, 0, 256},
    Case{"parts_meet_inside_a_block", 16, 2, false, false, kThreaded, 1001},
    Case{"parts_of_tiny_buckets", 16, 2, false, false, kThreaded, 3, 5},
    Case{"one_bucket_for_all_parts", 16, 2, false, false, kThreaded, kThreaded}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Peaks, FramesPerBucketKeepsTheValuesWithinTheBound) {
    for (auto [frames, channels, max] : {std::tuple<std::int64_t, int, std::int64_t>{1000, 2, 400}, {1001, 2, 400},
                                        {7, 6, 1 << 20}, {std::int64_t{1} << 40, 64, 1 << 22}, {5, 2, 1}}) {
        const std::int64_t per = framesPerBucketFor(frames, channels, max);
        const std::int64_t buckets = (frames + per - 1) / per;
        EXPECT_TRUE(per >= 1 && (buckets * channels * 2 <= max || buckets == 1)) << frames << " " << per;
        EXPECT_TRUE(per == 1 || (frames + per - 2) / (per - 1) * channels * 2 > max) << "not the fewest frames";
    }
}

// A large file: silent first half, loud second half. The overview shows that before any exact bucket,
// and cancelling returns what was read.
TEST(Peaks, OverviewFirstThenExactAndCancelStopsEarly) {
    TempDir dir;
    const std::int64_t frames = 40 << 20;  // 80 MiB of 16-bit mono
    Bytes bytes(std::size_t(frames * 2), 0);
    for (std::size_t i = bytes.size() / 2; i < bytes.size(); i += 2) writeLE<std::int16_t>(bytes, i, 20000);
    WavWriter().fmt(1, 48000, 16).data(std::move(bytes)).write(dir / "in.wav");
    const Opened in(dir / "in.wav");
    const std::int64_t perBucket = frames / 1000;
    const auto exact = reference(in.reader, perBucket, 0, frames);
    for (int cancelAt : {0, 1, 99}) {
        PeakReader reader(in.reader, perBucket);
        std::vector<Peaks> seen;
        const Peaks peaks = reader.run([&](const Peaks& p) {
            seen.push_back(p);
            if (int(seen.size()) > cancelAt) reader.cancel();
        });
        ASSERT_FALSE(seen.empty());
        const Peaks& overview = seen[0];
        EXPECT_EQ(overview.exactBuckets, 0);
        for (std::int64_t b : {std::int64_t{0}, std::int64_t{499}, std::int64_t{501}, std::int64_t{999}})
            EXPECT_EQ(overview.values[b * 2], b < 500 ? 0 : 20000) << b;
        EXPECT_EQ(reader.cancelled(), cancelAt < 99);
        // How many buckets a part finished before it saw the cancel depends on the machine's load: only
        // that a cancelled read stops short, and that what it calls exact is, holds everywhere.
        EXPECT_EQ(peaks.exactBuckets < peaks.buckets(), cancelAt < 99);
        EXPECT_TRUE(std::equal(exact.begin(), exact.begin() + peaks.exactBuckets * 2, peaks.values.begin()));
        if (cancelAt == 99) { EXPECT_LE(seen.size(), 21u); }
    }
}

TEST(Peaks, AFileCutShortWhileOpenIsAnErrorNamingIt) {
    TempDir dir;
    WavWriter().fmt().data(testing::audioPattern(6000)).write(dir / "in.wav");
    const Opened in(dir / "in.wav");
    std::filesystem::resize_file(dir / "in.wav", 3000);
    try {
        PeakReader(in.reader, 10).run();
        FAIL() << "no error";
    } catch (const BWFError& error) {
        EXPECT_EQ(error.path(), dir / "in.wav");
        EXPECT_EQ(error.kind(), BWFError::Kind::Unreadable);
    }
}

}  // namespace
}  // namespace keeptime
