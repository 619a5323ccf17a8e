// Reads a recording's frames through its one open descriptor and decodes them.
// Safe to use from several threads at once: every read is a pread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "recording/BWFParser.hpp"
#include "io/File.hpp"
#include "audio/Samples.hpp"

namespace keeptime {

class PcmReader {
public:
    // Throws BWFError (Malformed, naming the file) when the audio is not a
    // layout the decoder reads.
    PcmReader(std::shared_ptr<const FileHandle> file, const BWFParser& parser);

    const SampleFormat& format() const { return format_; }
    std::int64_t frames() const { return frames_; }
    std::int32_t sampleRate() const { return sampleRate_; }
    int bytesPerFrame() const { return bytesPerFrame_; }
    const std::filesystem::path& path() const { return file_->path(); }
    // Where frame starts in the file.
    std::int64_t fileOffset(std::int64_t frame) const { return audioOffset_ + frame * bytesPerFrame_; }

    // The raw bytes of frames [first, first + count), clipped to the audio.
    // Throws BWFError (Unreadable) on a read error.
    Bytes readRaw(std::int64_t first, std::int64_t count) const;
    // The same into buffer (at least count * bytesPerFrame() bytes), for a
    // caller that reuses one; returns the whole frames read.
    std::int64_t readInto(std::int64_t first, std::int64_t count, std::uint8_t* buffer) const;
    // Frames [first, first + count), clipped to the audio, decoded to floats and
    // interleaved into out (resized); returns the frames read.
    std::int64_t readFloat(std::int64_t first, std::int64_t count, std::vector<float>& out) const;

private:
    std::shared_ptr<const FileHandle> file_;
    SampleFormat format_;
    std::int64_t audioOffset_ = 0;
    std::int64_t frames_ = 0;
    std::int32_t sampleRate_ = 0;
    int bytesPerFrame_ = 0;
};

}  // namespace keeptime
