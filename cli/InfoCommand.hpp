#pragma once

#include <filesystem>

namespace keeptime::cli {

struct InfoOptions {
    std::filesystem::path file;
    bool json = false;
    bool weirdTC = false;
};

// Prints what the window would show for a file. Returns the exit status.
int runInfo(const InfoOptions& options);

}  // namespace keeptime::cli
