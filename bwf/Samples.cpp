#include "bwf/Samples.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "bwf/BWFFormat.hpp"

namespace keeptime {

namespace {

constexpr std::uint16_t kFormatPCM = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// Offsets from the chunk ID.
constexpr std::size_t kFormatTagOffset = 8;
constexpr std::size_t kChannelsOffset = 10;
constexpr std::size_t kBitsOffset = 22;
constexpr std::size_t kSubFormatOffset = 32;  // the GUID's first two bytes are the tag

// A sign-extended integer sample of width bytes, shifted to fill 32 bits.
std::int32_t integer32(const std::uint8_t* bytes, int width) {
    if (width == 1) return static_cast<std::int32_t>((static_cast<std::uint32_t>(bytes[0]) ^ 0x80u) << 24);
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * (4 - width + i));
    return static_cast<std::int32_t>(value);
}

double floatValue(const std::uint8_t* bytes, int width) {
    if (width == 4) {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
        return std::bit_cast<float>(bits);
    }
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return std::bit_cast<double>(bits);
}

}  // namespace

std::optional<SampleFormat> sampleFormat(ByteView fmtChunk, std::int16_t blockAlign) {
    auto tag = readLE<std::uint16_t>(fmtChunk, kFormatTagOffset);
    const auto channels = readLE<std::uint16_t>(fmtChunk, kChannelsOffset);
    const auto bits = readLE<std::uint16_t>(fmtChunk, kBitsOffset);
    if (!tag || !channels || !bits || *channels == 0 || blockAlign <= 0 || blockAlign % *channels != 0)
        return std::nullopt;
    if (*tag == kFormatExtensible) tag = readLE<std::uint16_t>(fmtChunk, kSubFormatOffset);
    SampleFormat format;
    format.channels = *channels;
    format.bitsPerSample = *bits;
    format.bytesPerSample = blockAlign / *channels;
    if (tag == kFormatPCM && format.bytesPerSample >= 1 && format.bytesPerSample <= 4) {
        format.kind = SampleFormat::Kind::Integer;
        return format;
    }
    if (tag == kFormatFloat && (format.bytesPerSample == 4 || format.bytesPerSample == 8)) {
        format.kind = SampleFormat::Kind::Float;
        return format;
    }
    return std::nullopt;
}

float sampleAsFloat(const std::uint8_t* bytes, const SampleFormat& format) {
    if (format.kind == SampleFormat::Kind::Float) return static_cast<float>(floatValue(bytes, format.bytesPerSample));
    return static_cast<float>(integer32(bytes, format.bytesPerSample) / 2147483648.0);
}

std::int16_t sampleAs16(const std::uint8_t* bytes, const SampleFormat& format) {
    if (format.kind == SampleFormat::Kind::Integer)
        return static_cast<std::int16_t>(integer32(bytes, format.bytesPerSample) >> 16);
    const double value = floatValue(bytes, format.bytesPerSample);
    if (std::isnan(value)) return 0;
    return static_cast<std::int16_t>(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0)));
}

}  // namespace keeptime
