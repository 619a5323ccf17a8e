#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/TimeOptions.hpp"

namespace keeptime::cli {

struct TrimOptions {
    std::filesystem::path input;
    std::filesystem::path output;
    // At most one of each three; none means the file's edge.
    std::optional<std::string> start, startTC, startFromEnd;
    std::optional<std::string> end, endTC, endFromEnd;
    std::optional<std::int64_t> startFrame, endFrame;  // exact frames of the audio
    TimeOptions times;
    bool force = false;
    bool quiet = false;
    bool json = false;
    bool noShare = false;  // write every audio byte anew, even where blocks could be shared
};

// Writes the trimmed copy. Returns the exit status.
int runTrim(const TrimOptions& options);

}  // namespace keeptime::cli
