#include "bwf/Samples.hpp"

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

}  // namespace

std::optional<SampleFormat> sampleFormat(ByteView fmtChunk, std::int32_t blockAlign) {
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

std::optional<PcmLayout> pcmLayout(ByteView fmtChunk) {
    auto tag = readLE<std::uint16_t>(fmtChunk, kFormatTagOffset);
    const auto channels = readLE<std::uint16_t>(fmtChunk, kChannelsOffset);
    const auto bits = readLE<std::uint16_t>(fmtChunk, kBitsOffset);
    if (tag == kFormatExtensible) tag = readLE<std::uint16_t>(fmtChunk, kSubFormatOffset);
    if (!tag || !channels || !bits || (*tag != kFormatPCM && *tag != kFormatFloat)) return std::nullopt;
    return PcmLayout{*channels, *bits, std::int64_t{*channels} * ((*bits + 7) / 8)};
}

namespace {
std::int32_t integer32(const std::uint8_t* bytes, int width) {
    switch (width) {
        case 1: return samples::integer32<1>(bytes);
        case 2: return samples::integer32<2>(bytes);
        case 3: return samples::integer32<3>(bytes);
        default: return samples::integer32<4>(bytes);
    }
}
double floatValue(const std::uint8_t* bytes, int width) {
    return width == 4 ? samples::floating<4>(bytes) : samples::floating<8>(bytes);
}
}  // namespace

float sampleAsFloat(const std::uint8_t* bytes, const SampleFormat& format) {
    if (format.kind == SampleFormat::Kind::Float) return static_cast<float>(floatValue(bytes, format.bytesPerSample));
    return static_cast<float>(integer32(bytes, format.bytesPerSample) / 2147483648.0);
}

std::int16_t sampleAs16(const std::uint8_t* bytes, const SampleFormat& format) {
    if (format.kind == SampleFormat::Kind::Integer)
        return static_cast<std::int16_t>(integer32(bytes, format.bytesPerSample) >> 16);
    return samples::floatTo16(floatValue(bytes, format.bytesPerSample));
}

}  // namespace keeptime
