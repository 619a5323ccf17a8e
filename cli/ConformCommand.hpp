#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace keeptime::cli {

struct ConformOptions {
    std::filesystem::path list;                // a CMX 3600 EDL or an OpenTimelineIO .otio
    std::vector<std::filesystem::path> media;  // -m: folders of original recordings
    std::filesystem::path folder;              // -o: where the copies go
    std::string handles = "0:00:02:00";
    std::optional<std::string> fps;
    std::optional<std::filesystem::path> report;  // CSV, one row per event
    bool take = false;
    bool force = false;
    bool json = false;
    bool quiet = false;
    bool allowMissing = false;
    unsigned jobs = 0;
};

// Exit status when some audio events have no recording, or more than one.
inline constexpr int kEventsMissing = 3;

// Copies the used parts of the recordings an edit list names, with handles,
// kept all or none. Returns the exit status.
int runConform(const ConformOptions& options);

}  // namespace keeptime::cli
