// Arbitrary bytes as a file's head: the scan must refuse or accept them without reading outside the buffer, and
// every chunk body it walks must survive the stamp and marker rewrites, which must stay inside the body given.
#include <cstdint>
#include <cstdlib>

#include "base/BWFError.hpp"
#include "riff/HeadScan.hpp"
#include "meta/Markers.hpp"
#include "meta/TimeReference.hpp"

using namespace keeptime;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView head(data, size);
    HeadInfo info;
    try {
        info = scanHead(head, [&] { return static_cast<std::int64_t>(size); });
    } catch (const BWFError& error) {
        return error.reason().empty() ? (std::abort(), 0) : 0;
    }
    // Without a format chunk before the audio, the parser reads it from after the audio.
    const bool format = info.at.fmt.has_value();
    if ((format && (info.bytesPerFrame <= 0 || info.samplesPerSecond <= 0)) || info.audioDataLength < 0 || info.at.data > size)
        std::abort();
    const KeptFrames kept{7, 1000};
    const std::uint32_t removed[] = {1, 2};
    for (const Chunk& chunk : info.walk.chunks) {
        if (!chunk.whole) continue;  // the file ends inside it
        if (chunk.bodyEnd() > size) std::abort();
        const ByteView body = head.subspan(chunk.bodyOffset(), chunk.size);
        // A shift that changes the number of digits; every readable pair must read back moved.
        const Bytes moved = moveStampTags(body, StampMove{999'999'937});
        for (const auto& tags : layout::kStampTags) {
            auto before = readStampTags(body, tags), after = readStampTags(moved, tags);
            if (before && *before <= INT64_MAX - 999'999'937 && after != *before + 999'999'937) std::abort();
        }
        moveCuePoints(body, kept), dropLabels(body, removed), moveLoops(body, kept);
        // Every chunk read as both the cue points and their labels: the window draws what comes out.
        const ByteView lists[] = {body, body};
        for (const Marker& marker : readMarkers(body, lists))
            if (marker.frame < 0 || marker.length < 0) std::abort();
    }
    return 0;
}
