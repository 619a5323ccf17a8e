// Many cuts from one recording: a list of named ranges of its frames, and the
// places such a list comes from (its markers, its regions, a fixed length, a
// list file). Lists are read and checked whole before anything is written:
// a row that cannot be used is refused with its line number.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/BWFError.hpp"
#include "meta/Markers.hpp"
#include "timecode/Clock.hpp"

namespace keeptime {

// Frames [first, end) of the recording, 0 <= first < end <= its length.
struct Segment {
    std::string name;  // "" when its source names none
    std::int64_t first = 0;
    std::int64_t end = 0;
    bool operator==(const Segment&) const = default;
};

// From a recording's markers, ordered by frame (markersOf in trim/Selection.hpp reads them).
// Every point cuts: [0, m1), [m1, m2), ..., [mN, frames), each named after the
// label of the marker that opens it (the first, before any marker, unnamed).
// Points at 0, at or past the end, and a second point at one frame cut nothing.
std::vector<Segment> segmentsAtMarkers(const std::vector<Marker>& markers, std::int64_t frames);
// Each region is a segment named after its label, cut at the recording's end;
// a region that starts at or past the end is left out.
std::vector<Segment> segmentsFromRegions(const std::vector<Marker>& markers, std::int64_t frames);
// Pieces of length frames, the last one shorter.
std::vector<Segment> segmentsEvery(std::int64_t length, std::int64_t frames);

// Each segment widened by handle frames before and after, inside [0, frames).
std::vector<Segment> withHandles(std::vector<Segment> segments, std::int64_t handle, std::int64_t frames);

// A length typed in the recording's time language ("0:10:00", "00:00:02:12" at
// its rate, "90.5" in seconds), as frames: labels from a label's first frame,
// so that every piece of that length holds the same count of labels' frames.
// Nothing, with the refusal in reading.refusal, for a text that is no length.
Reading readLength(const Clock& clock, std::string_view text);

// A list file: CSV whose first row is "name,start,end" (start and end times of
// day in the clock's time language), or label-track text, "start<TAB>end<TAB>label"
// per line in seconds from the recording's first frame. Throws BWFError
// (BadRange) naming the file and the line for a row that cannot be used: not a
// time, outside the recording, ending before it starts.
std::vector<Segment> readSegmentList(std::string_view text, const Clock& clock, const std::filesystem::path& list);
std::vector<Segment> readSegmentListFile(const std::filesystem::path& list, const Clock& clock);

}  // namespace keeptime
