#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/TimeOptions.hpp"

namespace keeptime::cli {

struct TrimOptions {
    std::vector<std::filesystem::path> inputs;  // one: OUTPUT is the copy; several, or take: OUTPUT is a folder
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
    bool take = false;     // each input stands for every file of its take
    unsigned jobs = 0;     // copies at once; 0: the default
};

// Writes the trimmed copy, or the copies of several files or takes into a
// folder, kept whole or not at all. Returns the exit status.
int runTrim(const TrimOptions& options);

}  // namespace keeptime::cli
