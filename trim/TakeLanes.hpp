// A take's files drawn together: each member's channels as lanes under the ruler of
// the file that was opened, placed by time of day, and named by their tracks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "io/File.hpp"
#include "recording/BWFParser.hpp"
#include "timecode/Clock.hpp"

namespace keeptime {

struct TakeTrack {
    std::filesystem::path file;
    std::shared_ptr<const FileHandle> input;
    std::shared_ptr<const BWFParser> parser;
    // The frame of the opened file at which this file's first frame lies: negative when it starts earlier.
    std::int64_t offset = 0;
    int channels = 0;
    // One per channel: its TRACK_LIST name, else the file's name (with the channel's number when there are several).
    std::vector<std::string> laneNames{};
};

struct TakeLayout {
    std::vector<TakeTrack> tracks;  // the opened file first, then the others in the take's order
    std::vector<std::string> problems{};  // a member that cannot be drawn, and why
};

// Opens each member of the take and places it by time of day under shown's frames,
// the times read as choice says. A member that cannot be read, or that plays at
// another sample rate, is left out and named in problems.
TakeLayout layTake(const std::vector<std::filesystem::path>& members, const std::filesystem::path& shown,
                   const ClockChoice& choice);

// A file's short name in a take list: its track names joined, else its name without extension.
std::string trackTitle(const BWFParser& parser, const std::filesystem::path& file);

}  // namespace keeptime
