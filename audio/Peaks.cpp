#include "audio/Peaks.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "base/BWFError.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KEEPTIME_AVX2_SHUFFLE 1
#endif

namespace keeptime {

namespace {

constexpr std::int64_t kBlockBytes = std::int64_t{512} << 10;
// Ranges over this get the coarse overview first: reading them takes long enough to be seen.
constexpr std::int64_t kOverviewOver = std::int64_t{64} << 20;
constexpr std::int64_t kOverviewPieces = 2048;
constexpr std::int64_t kPieceBytes = 4096;
constexpr std::int64_t kProgressSteps = 20;  // one call each 5 %
// Ranges over this are read by several threads; below it starting them costs more than they save.
constexpr std::int64_t kThreadsOver = std::int64_t{8} << 20;
constexpr unsigned kMostThreads = 4;
// A block ends after this many peak values at most, so that tiny buckets need no large array.
constexpr std::int64_t kBlockValues = std::int64_t{1} << 16;
constexpr std::int16_t kLowest = std::numeric_limits<std::int16_t>::min();
constexpr std::int16_t kHighest = std::numeric_limits<std::int16_t>::max();
// The lanes for channel counts that divide 64 (1, 2, 4, 8, ...) and 48 (3, 6, 12, ...);
// any other count folds one lane per channel.
constexpr int kLanesOf2 = 64;
constexpr int kLanesOf3 = 48;
constexpr std::int64_t kTile = 64 * 48;
template <int Width>
constexpr int kStep = Width == 0 ? 2 : Width;  // bytes per sample

// On x86-64 the folds are also built for AVX2 and chosen when the processor has it; the
// baseline (SSE2) has half the width. Not under ASan or TSan: the choice is made while the program
// is loaded, before their run-time is ready, and crashes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#define KEEPTIME_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KEEPTIME_VECTOR_CLONES
#endif

#ifdef KEEPTIME_AVX2_SHUFFLE
__attribute__((target("avx2"))) inline __m256i loadHalves(const std::uint8_t* low, const std::uint8_t* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}
// The top two bytes of n 24-bit samples (integer16<3>) as 16-bit values, 16 at a time by a
// byte shuffle; returns how many it did, a multiple of 16. Every load stays inside the samples.
__attribute__((target("avx2"))) std::int64_t top16Of24(const std::uint8_t* at, std::int64_t n, std::int16_t* out) {
    // Each 128-bit half: samples 0-3 from the 16 bytes at sample 0, samples 4-7 from the 16 at byte 8.
    const __m256i low = _mm256_setr_epi8(1, 2, 4, 5, 7, 8, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         1, 2, 4, 5, 7, 8, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i high = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 5, 6, 8, 9, 11, 12, 14, 15,  //
                                          -1, -1, -1, -1, -1, -1, -1, -1, 5, 6, 8, 9, 11, 12, 14, 15);
    std::int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const std::uint8_t* p = at + i * 3;
        const __m256i v = _mm256_or_si256(_mm256_shuffle_epi8(loadHalves(p, p + 24), low),
                                          _mm256_shuffle_epi8(loadHalves(p + 8, p + 32), high));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
    }
    return i;
}
const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

// Width 0: a 16-bit value already decoded, in the machine's byte order.
template <int Width, bool Float>
std::int16_t value16(const std::uint8_t* bytes) {
    if constexpr (Width == 0) {
        std::int16_t value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    } else if constexpr (Float) return samples::floatTo16(samples::floating<Width>(bytes));
    else return samples::integer16<Width>(bytes);
}

// Folds count interleaved samples into the lanes' minima and maxima: sample i goes to
// lane i % lanes. lanes is a multiple of the channel count and the samples start on a
// frame, so every lane holds one channel. Lanes is fixed when compiling for the common
// channel counts, so that the loop over them is unrolled into vector instructions.
template <int Width, bool Float, int Lanes>
[[gnu::always_inline]] inline void foldInto(const std::uint8_t* at, std::int64_t count, std::array<std::int16_t, Lanes>& l,
                                            std::array<std::int16_t, Lanes>& h) {
    std::int64_t i = 0;
    for (; i + Lanes <= count; i += Lanes) {
        const std::uint8_t* p = at + i * kStep<Width>;
        for (int j = 0; j < Lanes; ++j) {
            const std::int16_t v = value16<Width, Float>(p + j * kStep<Width>);
            l[j] = std::min(l[j], v), h[j] = std::max(h[j], v);
        }
    }
    for (int j = 0; i < count; ++i, ++j) {
        const std::int16_t v = value16<Width, Float>(at + i * kStep<Width>);
        l[j] = std::min(l[j], v), h[j] = std::max(h[j], v);
    }
}

template <int Width, bool Float, int Lanes>
KEEPTIME_VECTOR_CLONES void foldLanes(const std::uint8_t* at, std::int64_t count, std::int16_t* lo, std::int16_t* hi) {
    std::array<std::int16_t, Lanes> l, h;  // locals: the compiler knows no audio byte aliases them
    std::copy_n(lo, Lanes, l.begin()), std::copy_n(hi, Lanes, h.begin());
    foldInto<Width, Float, Lanes>(at, count, l, h);
    std::copy_n(l.begin(), Lanes, lo), std::copy_n(h.begin(), Lanes, hi);
}

// The lanes' minima and maxima reduced to each channel's, min then max, into out. The lanes
// are folded in halves while each keeps its channel, at sizes fixed when compiling, and so is
// the channel count for the common ones (Channels 0: channels, at run time).
template <int Lanes, int Channels>
[[gnu::always_inline]] inline void reduceLanes(const std::array<std::int16_t, Lanes>& l, const std::array<std::int16_t, Lanes>& h,
                                               int channels, std::int16_t* out) {
    const int count = Channels ? Channels : channels;
#ifdef __GNUC__
    if constexpr (Lanes == 16 && Channels != 0 && 8 % Channels == 0) {
        // The last halvings as vector shuffles, which the compiler does not find by itself.
        using Eight = std::int16_t __attribute__((vector_size(16)));
        Eight low[2], high[2];
        std::memcpy(low, l.data(), sizeof low), std::memcpy(high, h.data(), sizeof high);
        Eight lo = low[0] < low[1] ? low[0] : low[1], hi = high[0] > high[1] ? high[0] : high[1];
        if constexpr (Channels <= 4) {
            const Eight a = __builtin_shufflevector(lo, lo, 4, 5, 6, 7, 0, 1, 2, 3), b = __builtin_shufflevector(hi, hi, 4, 5, 6, 7, 0, 1, 2, 3);
            lo = lo < a ? lo : a, hi = hi > b ? hi : b;
        }
        if constexpr (Channels <= 2) {
            const Eight a = __builtin_shufflevector(lo, lo, 2, 3, 0, 1, 6, 7, 4, 5), b = __builtin_shufflevector(hi, hi, 2, 3, 0, 1, 6, 7, 4, 5);
            lo = lo < a ? lo : a, hi = hi > b ? hi : b;
        }
        if constexpr (Channels == 1) {
            const Eight a = __builtin_shufflevector(lo, lo, 1, 0, 3, 2, 5, 4, 7, 6), b = __builtin_shufflevector(hi, hi, 1, 0, 3, 2, 5, 4, 7, 6);
            lo = lo < a ? lo : a, hi = hi > b ? hi : b;
        }
        for (int c = 0; c < Channels; ++c) out[2 * c] = lo[c], out[2 * c + 1] = hi[c];
        return;
    }
#endif
    if constexpr (Lanes % 2 == 0)
        if (Lanes / 2 % count == 0) {
            std::array<std::int16_t, Lanes / 2> halfL, halfH;  // new arrays: no lane is read after it is written
            for (int j = 0; j < Lanes / 2; ++j) halfL[j] = std::min(l[j], l[j + Lanes / 2]), halfH[j] = std::max(h[j], h[j + Lanes / 2]);
            return reduceLanes<Lanes / 2, Channels>(halfL, halfH, channels, out);
        }
    for (int c = 0; c < count; ++c) {
        std::int16_t low = kHighest, high = kLowest;
        for (int j = c; j < Lanes; j += count) low = std::min(low, l[j]), high = std::max(high, h[j]);
        out[2 * c] = low, out[2 * c + 1] = high;
    }
}

// Whole buckets of perBucket samples each, every one reduced to its channels' min and max
// into out: small buckets are many, and this keeps the lanes out of memory between them.
template <int Width, bool Float, int Lanes, int Channels>
KEEPTIME_VECTOR_CLONES void foldBuckets(const std::uint8_t* at, std::int64_t buckets, std::int64_t perBucket, int channels,
                                        std::int16_t* out) {
    for (std::int64_t b = 0; b < buckets; ++b, at += perBucket * kStep<Width>, out += 2 * channels) {
        std::array<std::int16_t, Lanes> l, h;
        l.fill(kHighest), h.fill(kLowest);
        foldInto<Width, Float, Lanes>(at, perBucket, l, h);
        reduceLanes<Lanes, Channels>(l, h, channels, out);
    }
}

// Formats other than 16-bit integers are decoded a tile at a time first: a plain conversion
// loop, and then the fold of 16-bit values, are each faster than the two in one loop.
template <int Width, bool Float>
constexpr bool kDecodedFirst = Width != 0 && (Width != 2 || Float);

template <int Width, bool Float>
[[gnu::always_inline]] inline void decode(const std::uint8_t* at, std::int64_t n, std::int16_t* tile) {
    std::int64_t i = 0;
#ifdef KEEPTIME_AVX2_SHUFFLE
    if constexpr (Width == 3 && !Float)
        if (kHasAvx2) i = top16Of24(at, n, tile);
#endif
    if constexpr (Width == 3 && !Float && std::endian::native == std::endian::little)
        for (; i + 4 <= n; i += 4) {  // four samples from two loads, faster than byte by byte
            const std::uint8_t* p = at + i * 3;
            std::uint64_t a;
            std::uint32_t b;
            std::memcpy(&a, p, 8), std::memcpy(&b, p + 8, 4);
            tile[i] = std::int16_t(a >> 8), tile[i + 1] = std::int16_t(a >> 32);
            tile[i + 2] = std::int16_t(a >> 56 | b << 8), tile[i + 3] = std::int16_t(b >> 16);
        }
    for (; i < n; ++i) tile[i] = value16<Width, Float>(at + i * Width);
}

template <int Width, bool Float>
KEEPTIME_VECTOR_CLONES void fold(const std::uint8_t* at, std::int64_t count, int lanes, std::int16_t* lo, std::int16_t* hi) {
    if constexpr (kDecodedFirst<Width, Float>) {
        // A tile holds whole rounds of lanes, so every lane keeps its channel.
        if (lanes == kLanesOf2 || lanes == kLanesOf3) {
            std::array<std::int16_t, kTile> tile;
            for (std::int64_t done = 0; done < count; done += kTile) {
                const std::int64_t n = std::min<std::int64_t>(kTile, count - done);
                decode<Width, Float>(at + done * Width, n, tile.data());
                fold<0, false>(reinterpret_cast<const std::uint8_t*>(tile.data()), n, lanes, lo, hi);
            }
            return;
        }
    }
    if (lanes == kLanesOf2) return foldLanes<Width, Float, kLanesOf2>(at, count, lo, hi);
    if (lanes == kLanesOf3) return foldLanes<Width, Float, kLanesOf3>(at, count, lo, hi);
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int16_t v = value16<Width, Float>(at + i * kStep<Width>);
        lo[i % lanes] = std::min(lo[i % lanes], v), hi[i % lanes] = std::max(hi[i % lanes], v);
    }
}

// Whole buckets for lanes kLanesOf2 or kLanesOf3; a decoded format's buckets fit a tile.
template <int Width, bool Float>
KEEPTIME_VECTOR_CLONES void wholeBuckets(const std::uint8_t* at, std::int64_t buckets, std::int64_t perBucket, int lanes,
                                         int channels, std::int16_t* out) {
    if constexpr (kDecodedFirst<Width, Float>) {
        std::array<std::int16_t, kTile> tile;
        const std::int64_t perTile = kTile / perBucket;
        for (std::int64_t b = 0; b < buckets; b += perTile) {
            const std::int64_t k = std::min(perTile, buckets - b);
            decode<Width, Float>(at + b * perBucket * Width, k * perBucket, tile.data());
            wholeBuckets<0, false>(reinterpret_cast<const std::uint8_t*>(tile.data()), k, perBucket, lanes, channels,
                                   out + b * 2 * channels);
        }
    } else if (lanes == kLanesOf3) foldBuckets<Width, Float, kLanesOf3, 0>(at, buckets, perBucket, channels, out);
    else if (channels == 1) foldBuckets<Width, Float, kLanesOf2, 1>(at, buckets, perBucket, channels, out);
    else if (channels == 2) foldBuckets<Width, Float, kLanesOf2, 2>(at, buckets, perBucket, channels, out);
    else if (channels == 4) foldBuckets<Width, Float, kLanesOf2, 4>(at, buckets, perBucket, channels, out);
    else if (channels == 8) foldBuckets<Width, Float, kLanesOf2, 8>(at, buckets, perBucket, channels, out);
    else foldBuckets<Width, Float, kLanesOf2, 0>(at, buckets, perBucket, channels, out);
}

using Fold = void (*)(const std::uint8_t*, std::int64_t, int, std::int16_t*, std::int16_t*);
using Whole = void (*)(const std::uint8_t*, std::int64_t, std::int64_t, int, int, std::int16_t*);
struct Folds {
    Fold fold;
    Whole whole;
    bool decodedFirst;
};
template <int Width, bool Float>
constexpr Folds kFolds{fold<Width, Float>, wholeBuckets<Width, Float>, kDecodedFirst<Width, Float>};

Folds foldsFor(const SampleFormat& format) {
    if (format.kind == SampleFormat::Kind::Float) return format.bytesPerSample == 4 ? kFolds<4, true> : kFolds<8, true>;
    switch (format.bytesPerSample) {
        case 1: return kFolds<1, false>;
        case 2: return kFolds<2, false>;
        case 3: return kFolds<3, false>;
        default: return kFolds<4, false>;
    }
}

// The running minimum and maximum of each channel over the frames added since the last take().
class Scan {
public:
    explicit Scan(const SampleFormat& format)
        : folds_(foldsFor(format)),
          channels_(format.channels),
          lanes_(kLanesOf2 % channels_ == 0 ? kLanesOf2 : kLanesOf3 % channels_ == 0 ? kLanesOf3 : channels_),
          lo_(static_cast<std::size_t>(lanes_), kHighest),
          hi_(static_cast<std::size_t>(lanes_), kLowest) {}

    void add(const std::uint8_t* frames, std::int64_t count) {
        folds_.fold(frames, count * channels_, lanes_, lo_.data(), hi_.data());
    }
    // With nothing added since the last take(): as many whole buckets of perBucket frames as
    // it can of the count frames, each channel's min then max into out; returns how many.
    std::int64_t takeWhole(const std::uint8_t* frames, std::int64_t count, std::int64_t perBucket, std::int16_t* out) {
        const std::int64_t samples = perBucket * channels_;
        if ((lanes_ != kLanesOf2 && lanes_ != kLanesOf3) || (folds_.decodedFirst && samples > kTile)) return 0;
        const std::int64_t buckets = count / perBucket;
        folds_.whole(frames, buckets, samples, lanes_, channels_, out);
        return buckets;
    }
    // Min, then max, of each channel into out; starts over.
    void take(std::int16_t* out) {
        int lanes = lanes_;
        while (lanes % (2 * channels_) == 0) {  // folded in halves while each lane keeps its channel: small buckets are many
            lanes /= 2;
            for (int j = 0; j < lanes; ++j) lo_[j] = std::min(lo_[j], lo_[j + lanes]), hi_[j] = std::max(hi_[j], hi_[j + lanes]);
        }
        for (int c = 0; c < channels_; ++c) {
            out[2 * c] = kHighest, out[2 * c + 1] = kLowest;
            for (int j = c; j < lanes; j += channels_)
                out[2 * c] = std::min(out[2 * c], lo_[j]), out[2 * c + 1] = std::max(out[2 * c + 1], hi_[j]);
        }
        std::fill(lo_.begin(), lo_.end(), kHighest), std::fill(hi_.begin(), hi_.end(), kLowest);
    }

private:
    Folds folds_;
    int channels_, lanes_;
    std::vector<std::int16_t> lo_, hi_;
};

// The number of threads for a sequential pass: one per core, up to four, and no more than buckets.
int partsFor(std::int64_t bytes, std::int64_t buckets) {
    if (bytes <= kThreadsOver) return 1;
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
    return static_cast<int>(std::clamp<std::int64_t>(buckets, 1, cores));
}

// Reads count frames from frame first into buffer; returns where they are.
const std::uint8_t* readBlock(PageBuffer& buffer, const PcmReader& reader, std::int64_t first, std::int64_t count) {
    std::uint8_t* into = buffer.place(static_cast<std::size_t>(count * reader.bytesPerFrame()), reader.fileOffset(first));
    if (reader.readInto(first, count, into) != count)
        throw BWFError(BWFError::Kind::Unreadable, reader.path(), "the file ends before its audio does");
    return into;
}

// Joins the threads however the scope is left: a thread left joinable would end the program.
struct JoinAll {
    std::vector<std::thread>& threads;
    ~JoinAll() {
        for (std::thread& thread : threads) thread.join();
    }
};

}  // namespace

std::int64_t framesPerBucketFor(std::int64_t frames, int channels, std::int64_t maxValues) {
    const std::int64_t buckets = std::max<std::int64_t>(1, maxValues / (2 * std::max(1, channels)));
    return std::max<std::int64_t>(1, (frames + buckets - 1) / buckets);
}

PeakReader::PeakReader(const PcmReader& reader, std::int64_t framesPerBucket, std::int64_t firstFrame,
                       std::int64_t frameCount)
    : reader_(reader), framesPerBucket_(std::max<std::int64_t>(1, framesPerBucket)) {
    first_ = std::clamp<std::int64_t>(firstFrame, 0, reader.frames());
    count_ = frameCount < 0 ? reader.frames() - first_ : std::min(frameCount, reader.frames() - first_);
}

Peaks PeakReader::run(const std::function<void(const Peaks&)>& progress) {
    Peaks peaks;
    peaks.channels = reader_.format().channels;
    peaks.framesPerBucket = framesPerBucket_;
    peaks.firstFrame = first_;
    peaks.frames = count_;
    const std::size_t pair = 2 * static_cast<std::size_t>(peaks.channels);
    const auto pairs = static_cast<std::int64_t>(pair);
    peaks.values.assign(static_cast<std::size_t>(peaks.buckets()) * pair, 0);
    if (count_ == 0) return peaks;

    const std::int64_t frameBytes = reader_.bytesPerFrame();
    const std::int64_t blockFrames = std::max<std::int64_t>(1, kBlockBytes / frameBytes);
    PageBuffer callerBlock;
    auto bucketAt = [&](std::int64_t bucket) { return peaks.values.data() + static_cast<std::size_t>(bucket) * pair; };
    Scan scan(reader_.format());

    if (progress && count_ * frameBytes > kOverviewOver) {
        // Each piece stands for its stretch of the range: the buckets that stretch covers
        // show the piece's peaks until the sequential pass reaches them.
        const std::int64_t pieceFrames = std::max<std::int64_t>(1, kPieceBytes / frameBytes);
        auto stretchStart = [&](std::int64_t i) {  // count_ * i / pieces without overflow
            return count_ / kOverviewPieces * i + count_ % kOverviewPieces * i / kOverviewPieces;
        };
        for (std::size_t i = 0; i < peaks.values.size(); i += 2) peaks.values[i] = kHighest, peaks.values[i + 1] = kLowest;
        std::vector<std::int16_t> piece(pair);
        for (std::int64_t i = 0; i < kOverviewPieces && !cancelled_; ++i) {
            const std::int64_t start = stretchStart(i), end = stretchStart(i + 1);
            if (start == end) continue;
            const std::int64_t n = std::min(pieceFrames, end - start);
            scan.add(readBlock(callerBlock, reader_, first_ + start, n), n);
            scan.take(piece.data());
            for (std::int64_t b = start / framesPerBucket_; b <= (end - 1) / framesPerBucket_; ++b)
                for (std::size_t k = 0; k < pair; k += 2) {
                    std::int16_t* at = bucketAt(b) + k;
                    at[0] = std::min(at[0], piece[k]), at[1] = std::max(at[1], piece[k + 1]);
                }
        }
        if (cancelled_) return peaks;
        progress(peaks);
    }

    // The sequential pass: the buckets split into contiguous parts, one thread each. Every
    // part folds a block into its own small array and then copies the finished buckets into
    // the peaks under the lock, so that the progress callback never sees half a write.
    const int parts = partsFor(count_ * frameBytes, peaks.buckets());
    auto partStart = [&](int part) { return peaks.buckets() * part / parts; };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int64_t> partDone(static_cast<std::size_t>(parts));  // finished buckets of each part
    std::int64_t framesDone = 0, nextStep = 1;
    int running = parts;
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    // Called with the lock held: the callback each 5 % of the frames.
    auto due = [&] {
        return progress && !cancelled_ && framesDone < count_ && framesDone * kProgressSteps >= nextStep * count_;
    };
    auto report = [&] {
        if (due()) {
            progress(peaks);
            nextStep = framesDone * kProgressSteps / count_ + 1;
        }
    };
    auto publish = [&](int part, std::int64_t bucket, std::int64_t finished, const std::int16_t* values,
                       std::int64_t frames) {
        const std::lock_guard lock(mutex);
        std::copy(values, values + (finished - bucket) * pairs, bucketAt(bucket));
        partDone[static_cast<std::size_t>(part)] = finished - partStart(part), framesDone += frames;
        for (int k = 0; k < parts; ++k) {  // the exact buckets from the start on
            peaks.exactBuckets = partStart(k) + partDone[static_cast<std::size_t>(k)];
            if (peaks.exactBuckets < partStart(k + 1)) break;
        }
        if (!due()) return;  // waking the calling thread for nothing would take a core from the reading
        if (parts == 1) report();  // on the calling thread
        else changed.notify_one();
    };
    const std::int64_t blockBuckets = std::max<std::int64_t>(1, kBlockValues / pairs);
    auto readPart = [&](int part) {
        PageBuffer own;
        PageBuffer& block = part == 0 ? callerBlock : own;
        std::vector<std::int16_t> values(static_cast<std::size_t>(blockBuckets + 1) * pair);
        Scan partScan(reader_.format());
        const std::int64_t end = std::min(partStart(part + 1) * framesPerBucket_, count_);
        for (std::int64_t done = partStart(part) * framesPerBucket_; done < end && !cancelled_ && !failed;) {
            const std::int64_t first = done / framesPerBucket_;  // the bucket the block starts in
            const std::int64_t n = std::min({blockFrames, end - done, (first + blockBuckets) * framesPerBucket_ - done});
            const std::uint8_t* data = readBlock(block, reader_, first_ + done, n);
            std::int64_t finished = first, bucketEnd = std::min((first + 1) * framesPerBucket_, count_);
            for (std::int64_t at = 0; at < n;) {  // one stretch per bucket
                if (done + at + framesPerBucket_ == bucketEnd) {  // at a bucket's start: whole buckets at once
                    const std::int64_t whole = partScan.takeWhole(data + at * frameBytes, n - at, framesPerBucket_,
                                                                  values.data() + (finished - first) * pairs);
                    at += whole * framesPerBucket_, finished += whole, bucketEnd += whole * framesPerBucket_;
                    if (at == n) break;
                    bucketEnd = std::min(bucketEnd, count_);
                }
                const std::int64_t stretchEnd = std::min(n, bucketEnd - done);
                partScan.add(data + at * frameBytes, stretchEnd - at);
                at = stretchEnd;
                if (done + at == bucketEnd) {
                    partScan.take(values.data() + (finished - first) * pairs);
                    ++finished, bucketEnd = std::min(bucketEnd + framesPerBucket_, count_);
                }
            }
            done += n;
            publish(part, first, finished, values.data(), n);
        }
    };
    if (parts == 1) {
        readPart(0);
        return peaks;
    }
    {
        std::vector<std::thread> threads;
        const JoinAll joinAll{threads};
        for (int part = 0; part < parts; ++part) try {
            threads.emplace_back([&, part] {
                try {
                    readPart(part);
                } catch (...) {
                    const std::lock_guard lock(mutex);
                    if (!failure) failure = std::current_exception();
                    failed = true;
                }
                const std::lock_guard lock(mutex);
                --running;
                changed.notify_one();
            });
        } catch (...) {  // no thread for this part: those started stop at their next block
            failed = true;
            throw;
        }
        std::unique_lock lock(mutex);
        while (running > 0) {
            changed.wait(lock);
            if (running > 0) report();
        }
    }
    if (failure) std::rethrow_exception(failure);
    return peaks;
}

}  // namespace keeptime
