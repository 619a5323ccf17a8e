#include "trim/Playback.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <vector>

#include "base/BWFError.hpp"

namespace keeptime {

namespace {

int channelCount(const PcmReader& reader) { return reader.format().channels; }

int checkedChannel(const PcmReader& reader, int channel) {
    if (channel < -1 || channel >= channelCount(reader))
        throw std::invalid_argument("channel " + std::to_string(channel + 1) + " is not one of the " +
                                    std::to_string(channelCount(reader)) + " channels of " + reader.path().string());
    return channel;
}

}  // namespace

Playback::Playback(std::shared_ptr<const PcmReader> reader, std::int64_t from, std::optional<std::int64_t> until,
                   int channel, bool loop, int stride, std::optional<std::int64_t> start)
    : reader_(std::move(reader)),
      from_(std::clamp<std::int64_t>(from, 0, reader_->frames())),
      until_(std::clamp<std::int64_t>(until.value_or(reader_->frames()), from_, reader_->frames())),
      left_(checkedChannel(*reader_, channel) >= 0 ? channel : 0),
      right_(channel >= 0 ? channel : std::min(1, channelCount(*reader_) - 1)),
      loop_(loop && until_ > from_),
      stride_(std::max(stride, 1)),
      skip_(std::clamp<std::int64_t>(start.value_or(from_) - from_, 0, until_ - from_)),
      total_(loop_ ? std::numeric_limits<std::int64_t>::max() : (until_ - from_ - skip_ + stride_ - 1) / stride_),
      // 50 ms blocks, 16 of them ahead: small enough to start at once, large
      // enough to ride over a slow disk.
      block_(std::max<std::int64_t>(1024, reader_->sampleRate() / 20)),
      capacity_(block_ * 16),
      ring_(std::make_unique<float[]>(static_cast<std::size_t>(capacity_) * 2)) {}

Playback::~Playback() { stop(); }

void Playback::start() {
    if (!thread_.joinable() && !stopping_) thread_ = std::thread([this] { decode(); });
}

void Playback::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::int64_t Playback::freeFrames() const {
    return capacity_ - (written_.load(std::memory_order_relaxed) - pulled_.load(std::memory_order_acquire));
}

void Playback::decode() {
    std::vector<float> decoded;
    const int channels = channelCount(*reader_);
    const std::int64_t length = until_ - from_;
    try {
        for (std::int64_t done = 0; done < total_;) {
            // A block never crosses the loop's seam: the next one starts at from again.
            const std::int64_t at = loop_ ? (done % length * stride_ + skip_) % length : done * stride_ + skip_;
            // The first block is short, so that the device has its first frames as soon as may be.
            const std::int64_t frames = done == 0 ? std::max<std::int64_t>(block_ / 8, 1) : block_;
            const std::int64_t wantFrames = std::min(frames * stride_, length - at);
            const std::int64_t want = (wantFrames + stride_ - 1) / stride_;
            {
                // The consumer does not signal (it must not touch the lock), so re-check often.
                std::unique_lock lock(mutex_);
                while (!stopping_ && freeFrames() < want) wake_.wait_for(lock, std::chrono::milliseconds(5));
            }
            if (stopping_) return;
            const std::int64_t got = reader_->readFloat(from_ + at, wantFrames, decoded);
            const std::int64_t out = (got + stride_ - 1) / stride_;
            for (std::int64_t i = 0; i < out; ++i) {
                const float* frame = decoded.data() + i * stride_ * channels;
                float* slot = ring_.get() + ((done + i) % capacity_) * 2;
                slot[0] = frame[left_];
                slot[1] = frame[right_];
            }
            done += out;
            written_.store(done, std::memory_order_release);
            if (got < wantFrames)
                throw BWFError(BWFError::Kind::Unreadable, reader_->path(),
                               "the audio ends at frame " + std::to_string(from_ + at + got) + ", before the " +
                                   std::to_string(reader_->frames()) +
                                   " frames its header gives: the file was cut short after it was opened");
        }
    } catch (const std::exception& e) {
        error_ = e.what();
        failed_.store(true, std::memory_order_release);
    }
}

std::int64_t Playback::frameAfter(std::int64_t played) const {
    if (loop_) return from_ + (played % (until_ - from_) * stride_ + skip_) % (until_ - from_);
    return std::min(until_, from_ + skip_ + played * stride_);
}

std::int64_t Playback::pull(float* out, std::int64_t frames) {
    if (stopping_.load(std::memory_order_relaxed)) return 0;
    const std::int64_t pulled = pulled_.load(std::memory_order_relaxed);
    const std::int64_t count = std::clamp<std::int64_t>(written_.load(std::memory_order_acquire) - pulled, 0, frames);
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t at = (pulled + done) % capacity_;
        const std::int64_t run = std::min(count - done, capacity_ - at);
        std::copy_n(ring_.get() + at * 2, run * 2, out + done * 2);
        done += run;
    }
    pulled_.store(pulled + count, std::memory_order_release);
    return count;
}

bool Playback::finished() const {
    const bool failed = failed_.load(std::memory_order_acquire);
    const std::int64_t pulled = framesPulled();
    return pulled == total_ || (failed && pulled == written_.load(std::memory_order_acquire));
}

std::optional<std::string> Playback::error() const {
    if (!failed_.load(std::memory_order_acquire)) return std::nullopt;
    return error_;
}

}  // namespace keeptime
