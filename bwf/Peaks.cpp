#include "bwf/Peaks.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "bwf/BWFError.hpp"

namespace keeptime {

namespace {

constexpr std::int64_t kBlockBytes = std::int64_t{4} << 20;
// Ranges over this get the coarse overview first: reading them takes long enough to be seen.
constexpr std::int64_t kOverviewOver = std::int64_t{64} << 20;
constexpr std::int64_t kOverviewPieces = 2048;
constexpr std::int64_t kPieceBytes = 4096;
constexpr std::int64_t kProgressSteps = 20;  // one call each 5 %
constexpr std::int16_t kLowest = std::numeric_limits<std::int16_t>::min();
constexpr std::int16_t kHighest = std::numeric_limits<std::int16_t>::max();
// Up to this many lanes are kept in locals, which the compiler knows no audio byte aliases,
// so that the loop over them vectorizes.
constexpr int kMaxLanes = 64;

template <int Width, bool Float>
std::int16_t value16(const std::uint8_t* bytes) {
    if constexpr (Float) return samples::floatTo16(samples::floating<Width>(bytes));
    else return samples::integer16<Width>(bytes);
}

// Folds count interleaved samples into the lanes' minima and maxima: sample i goes to
// lane i % lanes. lanes is a multiple of the channel count and the samples start on a
// frame, so every lane holds one channel.
template <int Width, bool Float>
void fold(const std::uint8_t* at, std::int64_t count, int lanes, std::int16_t* lo, std::int16_t* hi) {
    if (lanes > kMaxLanes) {
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int16_t v = value16<Width, Float>(at + i * Width);
            lo[i % lanes] = std::min(lo[i % lanes], v), hi[i % lanes] = std::max(hi[i % lanes], v);
        }
        return;
    }
    std::array<std::int16_t, kMaxLanes> l, h;
    std::copy_n(lo, lanes, l.begin()), std::copy_n(hi, lanes, h.begin());
    std::int64_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        const std::uint8_t* p = at + i * Width;
        for (int j = 0; j < lanes; ++j) {
            const std::int16_t v = value16<Width, Float>(p + j * Width);
            l[j] = std::min(l[j], v), h[j] = std::max(h[j], v);
        }
    }
    for (int j = 0; i < count; ++i, ++j) {
        const std::int16_t v = value16<Width, Float>(at + i * Width);
        l[j] = std::min(l[j], v), h[j] = std::max(h[j], v);
    }
    std::copy_n(l.begin(), lanes, lo), std::copy_n(h.begin(), lanes, hi);
}

using Fold = void (*)(const std::uint8_t*, std::int64_t, int, std::int16_t*, std::int16_t*);

Fold foldFor(const SampleFormat& format) {
    if (format.kind == SampleFormat::Kind::Float) return format.bytesPerSample == 4 ? fold<4, true> : fold<8, true>;
    switch (format.bytesPerSample) {
        case 1: return fold<1, false>;
        case 2: return fold<2, false>;
        case 3: return fold<3, false>;
        default: return fold<4, false>;
    }
}

// The running minimum and maximum of each channel over the frames added since the last take().
class Scan {
public:
    explicit Scan(const SampleFormat& format)
        : fold_(foldFor(format)),
          channels_(format.channels),
          lanes_(channels_ * ((31 + channels_) / channels_)),
          lo_(static_cast<std::size_t>(lanes_), kHighest),
          hi_(static_cast<std::size_t>(lanes_), kLowest) {}

    void add(const std::uint8_t* frames, std::int64_t count) {
        fold_(frames, count * channels_, lanes_, lo_.data(), hi_.data());
    }
    // Min, then max, of each channel into out; starts over.
    void take(std::int16_t* out) {
        for (int c = 0; c < channels_; ++c) out[2 * c] = kHighest, out[2 * c + 1] = kLowest;
        for (int j = 0; j < lanes_; ++j) {
            std::int16_t* pair = out + 2 * (j % channels_);
            pair[0] = std::min(pair[0], lo_[j]), pair[1] = std::max(pair[1], hi_[j]);
        }
        std::fill(lo_.begin(), lo_.end(), kHighest), std::fill(hi_.begin(), hi_.end(), kLowest);
    }

private:
    Fold fold_;
    int channels_, lanes_;
    std::vector<std::int16_t> lo_, hi_;
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
    peaks.values.assign(static_cast<std::size_t>(peaks.buckets()) * pair, 0);
    if (count_ == 0) return peaks;

    const std::int64_t frameBytes = reader_.bytesPerFrame();
    const std::int64_t blockFrames = std::max<std::int64_t>(1, kBlockBytes / frameBytes);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(blockFrames * frameBytes));
    auto read = [&](std::int64_t at, std::int64_t count) {
        if (reader_.readInto(at, count, buffer.data()) != count)
            throw BWFError(BWFError::Kind::Unreadable, reader_.path(), "the file ends before its audio does");
    };
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
            read(first_ + start, std::min(pieceFrames, end - start));
            scan.add(buffer.data(), std::min(pieceFrames, end - start));
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

    std::int64_t nextStep = 1;
    for (std::int64_t done = 0; done < count_ && !cancelled_;) {
        const std::int64_t n = std::min(blockFrames, count_ - done);
        read(first_ + done, n);
        for (std::int64_t at = 0; at < n;) {  // one stretch per bucket
            const std::int64_t bucket = (done + at) / framesPerBucket_;
            const std::int64_t bucketEnd = std::min((bucket + 1) * framesPerBucket_, count_);
            const std::int64_t end = std::min(n, bucketEnd - done);
            scan.add(buffer.data() + at * frameBytes, end - at);
            at = end;
            if (done + at == bucketEnd) scan.take(bucketAt(bucket)), peaks.exactBuckets = bucket + 1;
        }
        done += n;
        if (progress && done < count_ && done * kProgressSteps >= nextStep * count_) {
            progress(peaks);
            nextStep = done * kProgressSteps / count_ + 1;
        }
    }
    return peaks;
}

}  // namespace keeptime
