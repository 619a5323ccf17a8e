#include "trim/Selection.hpp"

#include <algorithm>

#include "base/BWFError.hpp"

namespace keeptime {

Point nearerPoint(std::int64_t in, std::int64_t out, std::int64_t frame) {
    return std::abs(frame - out) < std::abs(frame - in) ? Point::Out : Point::In;
}

std::vector<std::int64_t> markerBounds(const std::vector<Marker>& markers) {
    std::vector<std::int64_t> bounds;
    for (const Marker& marker : markers) {
        bounds.push_back(marker.frame);
        if (marker.length > 0) bounds.push_back(marker.frame + marker.length);
    }
    std::ranges::sort(bounds);
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    return bounds;
}

std::pair<std::int64_t, std::int64_t> stretchAround(const std::vector<std::int64_t>& bounds, std::int64_t frames,
                                                    std::int64_t frame) {
    std::int64_t from = 0, to = frames;
    for (std::int64_t bound : bounds) {
        if (bound <= 0 || bound >= frames) continue;
        if (bound <= frame) from = bound;
        else if (bound < to) to = bound;
    }
    return {from, to};
}

std::optional<std::int64_t> boundBefore(const std::vector<std::int64_t>& bounds, std::int64_t frame) {
    const auto it = std::ranges::lower_bound(bounds, frame);
    if (it == bounds.begin()) return std::nullopt;
    return *std::prev(it);
}

std::optional<std::int64_t> boundAfter(const std::vector<std::int64_t>& bounds, std::int64_t frame) {
    const auto it = std::ranges::upper_bound(bounds, frame);
    if (it == bounds.end()) return std::nullopt;
    return *it;
}

std::vector<Marker> markersOf(const FileHandle& file, const BWFParser& parser) {
    // What is read in all: a file of many large lists must not fill the memory.
    std::uint64_t budget = 16u << 20;
    Bytes cue;
    std::vector<Bytes> lists;
    try {
        for (const Chunk& chunk : parser.chunks()) {
            const MarkerChunk kind = markerChunk(chunk.name());
            if (!chunk.whole || kind == MarkerChunk::none || kind == MarkerChunk::smpl || chunk.size > budget) continue;
            if (kind == MarkerChunk::cue && !cue.empty()) continue;
            budget -= chunk.size;
            Bytes body = file.readAt(static_cast<std::int64_t>(chunk.bodyOffset()), chunk.size);
            (kind == MarkerChunk::cue ? cue : lists.emplace_back()) = std::move(body);
        }
    } catch (const BWFError&) {
        return {};
    }
    std::vector<ByteView> views(lists.begin(), lists.end());
    auto markers = readMarkers(cue, views);
    // Only points inside the audio can be shown and jumped to.
    std::erase_if(markers, [&](const Marker& m) { return m.frame > parser.frames(); });
    return markers;
}

}  // namespace keeptime
