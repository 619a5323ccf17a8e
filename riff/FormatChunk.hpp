// The audio's layout as its format chunk describes it.
#pragma once

#include <cstdint>
#include <optional>

#include "base/Bytes.hpp"

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
std::optional<SampleFormat> sampleFormat(ByteView fmtChunk, std::int32_t blockAlign);

// What a frame of PCM or float audio takes, from its format chunk's channels and
// bits per sample; nothing for other formats (compressed, or fields missing).
struct PcmLayout {
    int channels = 0;
    int bits = 0;
    std::int64_t frameBytes = 0;  // channels × whole bytes per sample
};
std::optional<PcmLayout> pcmLayout(ByteView fmtChunk);

}  // namespace keeptime
