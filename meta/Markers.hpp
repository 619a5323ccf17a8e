// Moves the marker chunks with the audio when a copy keeps only some of its frames:
// cue points, the labels and notes tied to them, and sampler loops. Bodies in,
// bodies out (without the 8-byte chunk header), no file access. A body that does
// not add up is refused, never guessed at: the caller then carries that chunk as it was.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.hpp"

namespace keeptime {

// Frames [first, end) of the input's audio that the copy keeps; 0 <= first <= end.
struct KeptFrames {
    std::int64_t first;
    std::int64_t end;
};

// A rewritten body. When changed is false, body is the input byte for byte.
struct BodyEdit {
    Bytes body;
    bool changed = false;
};

struct CueEdit : BodyEdit {
    std::vector<std::uint32_t> removed;  // IDs of the points taken out, whose labels go too
};

enum class MarkerChunk { none, cue, list, smpl };

// Which marker chunk, if any, a chunk ID names.
MarkerChunk markerChunk(std::string_view chunkId);

// Points in the data chunk move by -first; those outside the kept frames are removed.
// An ID that a kept point still carries is not reported as removed.
std::optional<CueEdit> moveCuePoints(ByteView cueBody, KeptFrames kept);

// Drops the sub-chunks of an adtl list whose body starts with a removed cue ID.
// A list of any other form comes back unchanged.
std::optional<BodyEdit> dropLabels(ByteView listBody, std::span<const std::uint32_t> removedIds);

// Each region (an ltxt with a length) of an adtl list whose cue ID is in room is cut
// to at most room's frames: a region that ran on past the copy's end ends with it.
// A list of any other form comes back unchanged.
std::optional<BodyEdit> cutRegions(ByteView listBody, const std::map<std::uint32_t, std::uint32_t>& room);

// Loops wholly inside the kept frames move by -first; the others are removed.
std::optional<BodyEdit> moveLoops(ByteView smplBody, KeptFrames kept);

// A marker as a person reads it: a cue point in the audio with its label, and for a
// region (an ltxt with a length) how many frames it spans.
struct Marker {
    std::uint32_t id = 0;
    std::int64_t frame = 0;
    std::int64_t length = 0;  // 0: a point
    std::string label{};
};

// The cue points in the data chunk, with the labl text and ltxt length of each
// from the adtl lists given, by frame. A cue body that does not add up gives
// none; a label that does not add up is left out.
std::vector<Marker> readMarkers(ByteView cueBody, std::span<const ByteView> listBodies);

}  // namespace keeptime
