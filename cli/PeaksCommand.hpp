#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace keeptime::cli {

struct PeaksOptions {
    std::filesystem::path file;
    std::optional<std::int64_t> pixelsPerSecond, samplesPerPixel;  // at most one
    int bits = 16;                                                  // 8 or 16
    std::optional<std::filesystem::path> output;                    // none: standard output
};

// Writes the file's waveform as waveform-data JSON (version 2). Returns the exit status.
int runPeaks(const PeaksOptions& options);

}  // namespace keeptime::cli
