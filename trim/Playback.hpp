// One stretch of a recording played as stereo floats. A decoder thread reads
// ahead in blocks into a bounded ring; the audio device's thread takes frames
// out with pull(), which never waits for the disk or for a lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio/PcmReader.hpp"

namespace keeptime {

class Playback {
public:
    // Plays [from, until) of the reader's audio: both clipped to the audio, none
    // plays to its end. channel -1 plays the first two channels as left and right
    // (a mono file on both sides); channel c >= 0 plays channel c on both sides.
    // Throws std::invalid_argument for a channel the audio does not have.
    // loop: after until comes from again, with no gap, until stopped. stride: every
    // stride-th frame is played (2: twice as fast). start: where in [from, until) it
    // begins (from when none), as when Loop is turned on halfway through.
    Playback(std::shared_ptr<const PcmReader> reader, std::int64_t from, std::optional<std::int64_t> until,
             int channel = -1, bool loop = false, int stride = 1, std::optional<std::int64_t> start = std::nullopt);
    ~Playback();  // stops
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Starts the decoder thread (once).
    void start();
    // Stops decoding and joins the decoder thread; pull() then hands out nothing.
    void stop();

    // Copies up to frames decoded stereo frames (interleaved left, right) into
    // out and returns how many: fewer, even none, when the decoder is behind.
    // Never blocks. One caller at a time.
    std::int64_t pull(float* out, std::int64_t frames);

    std::int64_t from() const { return from_; }
    std::int64_t until() const { return until_; }
    bool loops() const { return loop_; }
    std::int64_t framesPulled() const { return pulled_.load(std::memory_order_acquire); }
    // The file's frame that the played-th frame handed out came from (until after the
    // last, unless looping): what a playhead shows once that many have been heard.
    std::int64_t frameAfter(std::int64_t played) const;
    // Every frame of [from, until) was pulled, or a read error ended the
    // decoding and every frame decoded before it was pulled.
    bool finished() const;
    // Why decoding ended early: a BWFError text naming the file.
    std::optional<std::string> error() const;

private:
    void decode();
    std::int64_t freeFrames() const;

    const std::shared_ptr<const PcmReader> reader_;
    const std::int64_t from_;
    const std::int64_t until_;
    const int left_;
    const int right_;
    const bool loop_;
    const std::int64_t stride_;
    const std::int64_t skip_;      // frames of [from, until) before the start
    const std::int64_t total_;     // frames handed out in all; looping: no end
    const std::int64_t block_;     // frames read from the file at a time
    const std::int64_t capacity_;  // frames the ring holds
    const std::unique_ptr<float[]> ring_;

    // Frames counted from from_: written_ only by the decoder, pulled_ only by pull().
    std::atomic<std::int64_t> written_{0};
    std::atomic<std::int64_t> pulled_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};
    std::string error_;  // set before failed_

    std::mutex mutex_;  // for the decoder's waits only; pull() never takes it
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace keeptime
