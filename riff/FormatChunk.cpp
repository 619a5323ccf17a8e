#include "riff/FormatChunk.hpp"

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

}  // namespace keeptime
