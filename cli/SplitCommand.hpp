#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/TimeOptions.hpp"

namespace keeptime::cli {

struct SplitOptions {
    std::filesystem::path input;
    std::filesystem::path folder;  // -o: where the pieces go
    // Exactly one source of segments.
    bool atMarkers = false;
    bool regions = false;
    std::optional<std::string> every;          // a length in the time language
    std::optional<std::filesystem::path> list;  // CSV name,start,end or label-track text
    std::optional<std::string> handles;        // a length added before and after each segment
    std::string name;                          // the name pattern; "" for the default
    TimeOptions times;
    bool take = false;  // every file of the input's take, at the same times of day
    unsigned jobs = 0;
    bool force = false;
    bool json = false;
    bool quiet = false;
    bool noShare = false;
};

// Writes one copy per segment (per member of the take), kept all or none.
// Returns the exit status.
int runSplit(const SplitOptions& options);

}  // namespace keeptime::cli
