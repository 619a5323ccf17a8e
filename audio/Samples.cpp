#include "audio/Samples.hpp"

namespace keeptime {

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
