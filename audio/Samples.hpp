// The one decoder of the audio's frames: to floats for listening, to 16-bit values
// for waveform peaks.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

#include "riff/FormatChunk.hpp"

namespace keeptime {

// The decoder's steps for a width known when compiling, so that the peak reader's
// loops over a block inline them; the functions below are built on them.
namespace samples {
// A little-endian integer sample of Width bytes, shifted to fill 32 bits; 8-bit is unsigned.
template <int Width>
std::int32_t integer32(const std::uint8_t* bytes) {
    if constexpr (Width == 1) return static_cast<std::int32_t>((static_cast<std::uint32_t>(bytes[0]) ^ 0x80u) << 24);
    std::uint32_t value = 0;
    for (int i = 0; i < Width; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * (4 - Width + i));
    return static_cast<std::int32_t>(value);
}
// The top 16 bits of an integer sample.
template <int Width>
std::int16_t integer16(const std::uint8_t* bytes) {
    if constexpr (Width == 1) return static_cast<std::int16_t>(integer32<1>(bytes) >> 16);
    else return static_cast<std::int16_t>(bytes[Width - 2] | bytes[Width - 1] << 8);  // two bytes: simple to vectorize
}
// A little-endian IEEE float of Width (4 or 8) bytes.
template <int Width>
double floating(const std::uint8_t* bytes) {
    using Bits = std::conditional_t<Width == 4, std::uint32_t, std::uint64_t>;
    Bits bits = 0;
    for (int i = 0; i < Width; ++i) bits |= static_cast<Bits>(bytes[i]) << (8 * i);
    if constexpr (Width == 4) return std::bit_cast<float>(bits);
    else return std::bit_cast<double>(bits);
}
// A float as a 16-bit peak value: times 32767, rounded, clamped; NaN is 0.
inline std::int16_t floatTo16(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<std::int16_t>(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0)));
}
}  // namespace samples

// One sample at bytes (at least format.bytesPerSample long), as a float: integers
// divided by 2^(container bits - 1), so full scale is [-1, 1); 8-bit is unsigned.
float sampleAsFloat(const std::uint8_t* bytes, const SampleFormat& format);
// One sample as a 16-bit peak value: the top 16 bits of an integer (8-bit widened),
// a float times 32767, rounded and clamped.
std::int16_t sampleAs16(const std::uint8_t* bytes, const SampleFormat& format);

}  // namespace keeptime
