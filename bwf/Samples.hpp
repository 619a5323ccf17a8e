// The audio's sample layout, read from the format chunk, and the one decoder of
// its frames: to floats for listening, to 16-bit values for waveform peaks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "bwf/Bytes.hpp"

namespace keeptime {

struct SampleFormat {
    enum class Kind { Integer, Float };
    Kind kind = Kind::Integer;
    int channels = 0;
    int bitsPerSample = 0;   // significant bits as the format chunk gives them
    int bytesPerSample = 0;  // the container: block align / channels
};

// The layout a format chunk (its bytes from its ID on) describes, when it is one
// the decoder reads: integer PCM in 1 to 4 bytes per sample, or 32/64-bit float,
// plain or WAVE_FORMAT_EXTENSIBLE. Nothing for compressed or odd layouts.
std::optional<SampleFormat> sampleFormat(ByteView fmtChunk, std::int16_t blockAlign);

// One sample at bytes (at least format.bytesPerSample long), as a float: integers
// divided by 2^(container bits - 1), so full scale is [-1, 1); 8-bit is unsigned.
float sampleAsFloat(const std::uint8_t* bytes, const SampleFormat& format);
// One sample as a 16-bit peak value: the top 16 bits of an integer (8-bit widened),
// a float times 32767, rounded and clamped.
std::int16_t sampleAs16(const std::uint8_t* bytes, const SampleFormat& format);

}  // namespace keeptime
