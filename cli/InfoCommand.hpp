#pragma once

#include <filesystem>

#include "cli/TimeOptions.hpp"

namespace keeptime::cli {

struct InfoOptions {
    std::filesystem::path file;
    bool json = false;
    TimeOptions times;
};

// Prints what the window would show for a file. Returns the exit status.
int runInfo(const InfoOptions& options);

}  // namespace keeptime::cli
