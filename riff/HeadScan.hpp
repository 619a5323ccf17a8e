// Finds the landmarks of a Broadcast-WAV file in its head buffer and reads the
// values the rest of the system needs. Pure: no file access of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <string_view>

#include "base/Bytes.hpp"
#include "riff/ChunkWalk.hpp"
#include "riff/FormatChunk.hpp"

namespace keeptime {

struct Landmarks {
    std::size_t data = 0;                 // D: the data chunk ID; the pre-data is [0, D)
    std::optional<std::size_t> fmt;       // F: the format chunk ID, when it stands before the audio
    std::optional<std::size_t> ds64;      // S: RF64 files only
    std::optional<std::size_t> bext;      // the bext chunk ID, when it lies in the pre-data
    bool walked = false;                  // found by walking chunk headers, not by byte search
};

struct HeadInfo {
    bool rf64 = false;
    Landmarks at;
    ChunkWalk walk;  // the chunks before the audio, as far as their sizes add up
    std::int64_t audioDataLength = 0;
    bool audioToEnd = false;  // no size recorded: the audio runs to the end of the file
    std::int32_t bytesPerFrame = 0;
    std::int32_t samplesPerSecond = 0;
    std::optional<SampleFormat> sampleFormat;  // when the audio is one the decoder reads
};

// Block align and sample rate from a format chunk (its bytes from its ID on).
// Throws BWFError (without a path) when they are missing or not more than 0, or
// when the block align of PCM or float audio is not its channels' sample bytes.
std::pair<std::int32_t, std::int32_t> readFormat(ByteView fmtChunk);

// Scans head, the first MAXSEARCH bytes of a file (or all of a shorter one).
// fileLength is asked only when a RIFF data size says "not recorded". When the
// walk reaches the audio without passing a format chunk, bytesPerFrame and
// samplesPerSecond are left 0: the format chunk stands after the audio.
// Throws BWFError (without a path) when the file cannot be used.
HeadInfo scanHead(ByteView head, const std::function<std::int64_t()>& fileLength);

}  // namespace keeptime
