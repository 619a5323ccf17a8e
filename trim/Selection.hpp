// Choosing a range with the mouse, and moving between markers: which point a
// Shift+click moves, the stretch a double-click selects, the marker before and
// after the playhead, and the markers of a loaded file.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "io/File.hpp"
#include "meta/Markers.hpp"
#include "recording/BWFParser.hpp"

namespace keeptime {

enum class Point { In, Out };

// The point nearer to frame; the in point when both are as near.
Point nearerPoint(std::int64_t in, std::int64_t out, std::int64_t frame);

// The frames that bound stretches: each marker's frame, and a region's end too, by frame, once each.
std::vector<std::int64_t> markerBounds(const std::vector<Marker>& markers);
// The stretch [from, to) between the bounds either side of frame; the file's
// ends bound the first and last. A frame on a bound starts its stretch.
std::pair<std::int64_t, std::int64_t> stretchAround(const std::vector<std::int64_t>& bounds, std::int64_t frames,
                                                    std::int64_t frame);
// The nearest bound before frame, or after it; nothing when there is none.
std::optional<std::int64_t> boundBefore(const std::vector<std::int64_t>& bounds, std::int64_t frame);
std::optional<std::int64_t> boundAfter(const std::vector<std::int64_t>& bounds, std::int64_t frame);

// The markers of the file the parser read: its cue points inside the audio, with
// their labels and region lengths. A cue or list chunk that does not add up, or
// those past 16 MiB read in all, give no markers rather than an error: the file still opens.
std::vector<Marker> markersOf(const FileHandle& file, const BWFParser& parser);

}  // namespace keeptime
