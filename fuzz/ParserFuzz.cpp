// Arbitrary bytes as a file's head: the scan must refuse or accept them without
// reading outside the buffer, and an accepted header must survive the
// time-reference rewrite with its chunk list intact.
#include <cstdint>
#include <cstdlib>

#include "bwf/BWFError.hpp"
#include "bwf/ChunkWalk.hpp"
#include "bwf/HeadScan.hpp"
#include "bwf/TimeReferenceRewrite.hpp"

using namespace keeptime;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView head(data, size);
    HeadInfo info;
    try {
        info = scanHead(head, [&] { return static_cast<std::int64_t>(size); });
    } catch (const BWFError& error) {
        if (error.reason().empty()) std::abort();
        return 0;
    }
    if (info.bytesPerFrame <= 0 || info.samplesPerSecond <= 0 || info.audioDataLength < 0 ||
        info.at.data > size)
        std::abort();

    const Bytes header(data, data + info.at.data);
    const bool sound = walkChunks(header).reachedEnd;
    const std::int64_t old = info.samplesSinceMidnight;
    // Shifts that change the number of digits, both ways (wrapping is fine here).
    const auto wrapped = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
    for (std::int64_t moved : {old / 1000, wrapped(static_cast<std::uint64_t>(old) * 10 + 7)}) {
        Bytes copy = header;
        rewriteTimeReference(copy, info.at.bext, old, moved);
        if (sound && !walkChunks(copy).reachedEnd) std::abort();
    }
    return 0;
}
