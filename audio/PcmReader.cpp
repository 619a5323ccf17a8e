#include "audio/PcmReader.hpp"

#include <algorithm>

#include "base/BWFError.hpp"

namespace keeptime {

PcmReader::PcmReader(std::shared_ptr<const FileHandle> file, const BWFParser& parser)
    : file_(std::move(file)),
      audioOffset_(parser.audioOffset()),
      frames_(parser.frames()),
      sampleRate_(parser.samplesPerSecond()),
      bytesPerFrame_(parser.bytesPerFrame()) {
    if (!parser.sampleFormat())
        throw BWFError(BWFError::Kind::Malformed, parser.url(),
                       "the audio is not integer PCM or 32/64-bit float, so it cannot be drawn or played");
    format_ = *parser.sampleFormat();
}

std::int64_t PcmReader::readInto(std::int64_t first, std::int64_t count, std::uint8_t* buffer) const {
    first = std::clamp<std::int64_t>(first, 0, frames_);
    count = std::clamp<std::int64_t>(count, 0, frames_ - first);
    const std::size_t got = readFully(file_->fd(), buffer, static_cast<std::size_t>(count * bytesPerFrame_),
                                      fileOffset(first), file_->path());
    return static_cast<std::int64_t>(got) / bytesPerFrame_;
}

Bytes PcmReader::readRaw(std::int64_t first, std::int64_t count) const {
    first = std::clamp<std::int64_t>(first, 0, frames_);
    Bytes bytes(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, frames_ - first) * bytesPerFrame_));
    bytes.resize(static_cast<std::size_t>(readInto(first, count, bytes.data()) * bytesPerFrame_));
    return bytes;
}

std::int64_t PcmReader::readFloat(std::int64_t first, std::int64_t count, std::vector<float>& out) const {
    const Bytes bytes = readRaw(first, count);
    const std::size_t frames = bytes.size() / static_cast<std::size_t>(bytesPerFrame_);
    out.resize(frames * static_cast<std::size_t>(format_.channels));
    const std::uint8_t* at = bytes.data();
    for (float& sample : out) {
        sample = sampleAsFloat(at, format_);
        at += format_.bytesPerSample;
    }
    return static_cast<std::int64_t>(frames);
}

}  // namespace keeptime
