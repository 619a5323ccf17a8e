// A split's copies: every segment of a recording (or of each member of its
// take), each under a name made from a pattern, all named and checked before
// anything is written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "copy/BWFReconstructor.hpp"
#include "segments/Segments.hpp"

namespace keeptime {

// The fields a name pattern may hold.
inline constexpr std::string_view kNameFields[] = {"file", "n", "name", "scene", "take", "tape", "tc"};

// Why a name pattern cannot be used (an unknown or unclosed field, a '/'), or nothing.
std::optional<std::string> patternFault(std::string_view pattern);
// The pattern used when none is given: by name where any segment has one, else by number.
std::string defaultPattern(const std::vector<Segment>& segments);
// A segment's name as part of a file name: no '/', control characters or
// characters other systems refuse (\ : * ? " < > |), no blanks or dots at its ends.
std::string safeName(std::string_view name);

struct SplitPlan {
    std::vector<CopyRequest> requests;
    std::vector<std::size_t> segmentOf;              // per request: its segment's index in the list
    std::vector<std::optional<std::string>> notice;  // per request: why it holds less than its segment
    // Members that hold none of a segment, and which: no copy of it is made from them.
    std::vector<std::pair<std::filesystem::path, std::string>> skipped;
};

// The copies of every segment (frames of lead) from every member (the lead alone,
// or each file of its take, lined up by time of day as a take's trim is), named
// by pattern ("" for the default) in folder, in segment order. {file} is the
// member's name without extension, {n} the segment's number (1-based, padded
// to the count's width), {name} its safe name (its number when it has none),
// {scene} {take} {tape} the member's iXML, {tc} the copy's first label
// (HHMMSSFF, or HHMMSS in seconds). Each name gets the member's extension.
// Throws BWFError for a pattern that cannot be used, a field the member does
// not name, two copies with one name, or a member that cannot be read.
SplitPlan planSplit(const std::vector<Segment>& segments, const std::filesystem::path& lead,
                    const std::vector<std::filesystem::path>& members, const std::filesystem::path& folder,
                    std::string pattern, const ClockChoice& times);

}  // namespace keeptime
