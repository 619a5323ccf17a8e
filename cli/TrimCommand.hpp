#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace keeptime::cli {

struct TrimOptions {
    std::filesystem::path input;
    std::filesystem::path output;
    // At most one of each three; none means the file's edge.
    std::optional<std::string> start, startTC, startFromEnd;
    std::optional<std::string> end, endTC, endFromEnd;
    bool weirdTC = false;
    bool force = false;
    bool quiet = false;
    bool json = false;
};

// Writes the trimmed copy. Returns the exit status.
int runTrim(const TrimOptions& options);

}  // namespace keeptime::cli
