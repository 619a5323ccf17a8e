// Waveform peaks: the smallest and largest sample of each channel in each
// bucket of frames, read in large sequential blocks through the recording's open
// descriptor. Only the peaks are kept, never the audio beyond one block.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/PcmReader.hpp"

namespace keeptime {

struct Peaks {
    int channels = 0;
    std::int64_t framesPerBucket = 0;
    std::int64_t firstFrame = 0;    // the frame the first bucket starts at
    std::int64_t frames = 0;        // frames covered (the last bucket may hold fewer)
    std::int64_t exactBuckets = 0;  // buckets [0, exactBuckets) are read in full; the rest are the coarse overview (or empty)
    std::vector<std::int16_t> values;  // for each bucket, for each channel: min, then max (16-bit scale, sampleAs16)
    std::int64_t buckets() const { return framesPerBucket > 0 ? (frames + framesPerBucket - 1) / framesPerBucket : 0; }
};

// Frames per bucket so that buckets * channels stays at or under maxValues/2 (memory bound).
std::int64_t framesPerBucketFor(std::int64_t frames, int channels, std::int64_t maxValues);

// One run over a range of frames; cancel() from any thread.
class PeakReader {
public:
    // frameCount -1: to the end of the audio. The range is clipped to the audio.
    PeakReader(const PcmReader& reader, std::int64_t framesPerBucket, std::int64_t firstFrame = 0,
               std::int64_t frameCount = -1);

    // Reads on the calling thread. progress, when given, is called after the coarse
    // overview of a range over 64 MiB (read as 2048 small, evenly spaced pieces), and
    // then each 5 % or so of the sequential pass, with the peaks so far. Returns the
    // peaks; when cancelled, what it has, with exactBuckets < buckets(). Throws
    // BWFError (Unreadable, naming the file) on a read error or a file cut short.
    Peaks run(const std::function<void(const Peaks&)>& progress = {});
    void cancel() { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }

private:
    const PcmReader& reader_;
    std::int64_t framesPerBucket_, first_, count_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace keeptime
