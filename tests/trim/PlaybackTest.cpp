#include <gtest/gtest.h>

#include <fcntl.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <thread>

#include "recording/BWFParser.hpp"
#include "tests/WavWriter.hpp"
#include "trim/Playback.hpp"

using namespace keeptime;
using namespace keeptime::testing;
using namespace std::chrono_literals;
using I = std::int64_t;

namespace {

constexpr I takeFrames = 50000;  // more than the ring holds at 48 kHz, so it wraps

struct Take {
    std::filesystem::path path;
    Bytes audio;
    int bits, channels;
    bool isFloat;
    std::size_t audioOffset;
    // Sample c of frame f as the file holds it, decoded independently of the product.
    float sample(I f, int c) const {
        const std::uint8_t* at = audio.data() + (f * channels + c) * (bits / 8);
        std::int32_t value = 0;
        if (isFloat) return std::memcpy(&value, at, 4), std::bit_cast<float>(value);
        std::memcpy(reinterpret_cast<std::uint8_t*>(&value) + 4 - bits / 8, at, bits / 8);  // little-endian host
        return float(value) / 2147483648.0f;
    }
};

Take writeTake(const std::filesystem::path& path, int bits, int channels, bool isFloat = false, I frames = takeFrames) {
    Take take{path, audioPattern(std::size_t(frames * channels * bits / 8), std::uint32_t(bits + channels)), bits,
              channels, isFloat, 0};
    for (std::size_t at = 0; isFloat && at < take.audio.size(); at += 4)  // finite values only
        writeLE(take.audio, at, std::bit_cast<std::int32_t>(*readLE<std::int16_t>(take.audio, at) / 40000.0f));
    WavWriter writer;
    writer.fmt(channels, 48000, bits, isFloat ? 3 : 1).data(take.audio).write(path);
    take.audioOffset = writer.dataOffset() + 8;
    return take;
}

std::shared_ptr<const PcmReader> readerOf(const std::filesystem::path& path, FileHandle file) {
    auto handle = std::make_shared<const FileHandle>(std::move(file));
    return std::make_shared<const PcmReader>(handle, BWFParser(path));
}
std::shared_ptr<const PcmReader> readerOf(const std::filesystem::path& path) {
    return readerOf(path, FileHandle::openForReading(path));
}

// The device: pulls in odd-sized chunks until the playback is finished (or 10 s pass).
std::vector<float> drain(Playback& playback) {
    static constexpr I sizes[] = {7, 331, 1, 1009, 64};
    std::vector<float> heard;
    float chunk[2 * 1009];
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (int i = 0; !playback.finished() && std::chrono::steady_clock::now() < deadline; ++i) {
        const I got = playback.pull(chunk, sizes[i % 5]);
        heard.insert(heard.end(), chunk, chunk + 2 * got);
        if (got == 0) std::this_thread::sleep_for(1ms);
    }
    return heard;
}

// Whether heard holds exactly the take's frames from `from` on, channels mapped as chosen.
void expectFrames(const Take& take, const std::vector<float>& heard, I from, I count, int channel) {
    ASSERT_EQ(std::ssize(heard), 2 * count);
    const int left = channel >= 0 ? channel : 0, right = channel >= 0 ? channel : std::min(1, take.channels - 1);
    for (I f = 0; f < count; ++f)
        if (heard[2 * f] != take.sample(from + f, left) || heard[2 * f + 1] != take.sample(from + f, right))
            return ADD_FAILURE() << "frame " << from + f << " differs";
}

struct PlayCase {
    const char* name;
    int bits, channels;
    bool isFloat;
    int channel;
    I from;
    std::optional<I> until;
    I expected;  // frames handed out
};
void PrintTo(const PlayCase& c, std::ostream* os) { *os << c.name; }

class PlaybackTest : public ::testing::TestWithParam<PlayCase> {
protected:
    TempDir dir;
};

TEST_P(PlaybackTest, HandsOutTheFilesFramesFromThePlayhead) {
    const PlayCase& c = GetParam();
    const Take take = writeTake(dir / "take.wav", c.bits, c.channels, c.isFloat);
    Playback playback(readerOf(take.path), c.from, c.until, c.channel);
    playback.start();
    const std::vector<float> heard = drain(playback);
    EXPECT_TRUE(playback.finished());
    EXPECT_EQ(playback.error(), std::nullopt);
    expectFrames(take, heard, c.from, c.expected, c.channel);
    EXPECT_EQ(playback.framesPulled(), c.expected);
    float more[2];
    EXPECT_EQ(playback.pull(more, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlaybackTest, ::testing::Values(
    PlayCase{"Mono16OnBothSides", 16, 1, false, -1, 1000, {}, takeFrames - 1000},
    PlayCase{"Stereo16UpToTheOutPoint", 16, 2, false, -1, 777, 45001, 45001 - 777},
    PlayCase{"SixChannels24FirstTwo", 24, 6, false, -1, 0, 1'000'000'000, takeFrames},
    PlayCase{"SixChannels24ChosenOne", 24, 6, false, 4, 3, {}, takeFrames - 3},
    PlayCase{"Float32NearTheEnd", 32, 2, true, 1, takeFrames - 10, {}, 10},
    PlayCase{"ReversedRangePlaysNothing", 16, 2, false, -1, 600, 100, 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(PlaybackStop, StopsMidwayAtOnceAndHandsOutNothingMore) {
    TempDir dir;
    WavWriter().fmt(2, 48000, 16).sparseData(I(1) << 30).write(dir / "long.wav");
    Playback playback(readerOf(dir / "long.wav"), 0, {});
    EXPECT_THROW(Playback(readerOf(dir / "long.wav"), 0, {}, 2), std::invalid_argument);
    playback.start();
    float chunk[2 * 512];
    while (playback.pull(chunk, 512) == 0) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);  // the ring fills and the decoder waits
    const auto before = std::chrono::steady_clock::now();
    playback.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(playback.pull(chunk, 512), 0);
    EXPECT_FALSE(playback.finished());
}

// A read error ends the playback with a message naming the file, after the frames read before it.
TEST(PlaybackErrors, EndWithTheReasonAfterTheFramesReadBefore) {
    struct Case { const char* name; I framesLeft; bool directory; };
    for (const Case& c : {Case{"cut short while playing", 1000, false}, Case{"unreadable descriptor", 0, true}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Take take = writeTake(dir / "take.wav", 16, 2);
        auto reader = c.directory ? readerOf(take.path, FileHandle(::open(dir.path().c_str(), O_RDONLY), take.path))
                                  : readerOf(take.path);
        if (!c.directory) std::filesystem::resize_file(take.path, take.audioOffset + c.framesLeft * 4);
        Playback playback(reader, 0, {});
        playback.start();
        const std::vector<float> heard = drain(playback);
        EXPECT_TRUE(playback.finished());
        ASSERT_TRUE(playback.error());
        EXPECT_NE(playback.error()->find(take.path.string()), std::string::npos) << *playback.error();
        expectFrames(take, heard, 0, c.framesLeft, -1);
    }
}

// A looped stretch hands out its frames again and again with nothing between,
// across the seams, and fast play every other frame; the playhead names the
// frame each count of frames heard came from.
TEST(PlaybackLoop, WrapsWithNoGapAcrossTheSeams) {
    TempDir dir;
    const Take take = writeTake(dir / "take.wav", 16, 2);
    struct Case { const char* name; I from, until; bool loop; int stride; I pulls; I start = -1; };
    // Lengths that the 2400-frame block does not divide, so that a seam falls inside a block's worth.
    const Case cases[] = {
        {"looped, two seams and more", 1000, 6001, true, 1, 12'500},
        {"looped at 2x, an odd length", 1000, 4001, true, 2, 7'000},
        {"2x to the end", 49'000, takeFrames, false, 2, 500},
        {"looped from halfway, as Loop turned on while playing", 1000, 6001, true, 1, 12'500, 3500},
        {"from halfway, once", 1000, 6001, false, 1, 2501, 3500},
    };
    for (const Case& c : cases) {
        Playback playback(readerOf(take.path), c.from, c.until, -1, c.loop, c.stride,
                          c.start < 0 ? std::nullopt : std::optional(c.start));
        playback.start();
        std::vector<float> heard;
        float chunk[2 * 331];
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::ssize(heard) < 2 * c.pulls && !playback.finished() && std::chrono::steady_clock::now() < deadline) {
            const I got = playback.pull(chunk, std::min<I>(331, c.pulls - std::ssize(heard) / 2));
            heard.insert(heard.end(), chunk, chunk + 2 * got);
            if (got == 0) std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(std::ssize(heard), 2 * c.pulls) << c.name;
        const I length = c.until - c.from;
        for (I k = 0; k < c.pulls; ++k) {
            const I skip = c.start < 0 ? 0 : c.start - c.from;
            const I frame = c.from + (c.loop ? (k * c.stride + skip) % length : k * c.stride + skip);
            if (heard[2 * k] != take.sample(frame, 0) || heard[2 * k + 1] != take.sample(frame, 1)) {
                ADD_FAILURE() << c.name << ": frame " << k << " handed out is not file frame " << frame;
                break;
            }
            EXPECT_EQ(playback.frameAfter(k), frame) << c.name << " " << k;
        }
        EXPECT_EQ(playback.finished(), !c.loop) << c.name;
    }
}

}  // namespace
