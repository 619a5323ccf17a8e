#include "bwf/TimeReferenceRewrite.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "bwf/BWFFormat.hpp"
#include "bwf/ChunkWalk.hpp"
#include "timecode/Decimal.hpp"

namespace keeptime {

std::size_t HeaderEdits::moved(std::size_t offset) const {
    std::ptrdiff_t shift = 0;
    for (const auto& edit : edits_)
        if (edit.from <= offset) shift += edit.delta;
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset) + shift);
}

namespace {

struct TextSpan {
    std::size_t offset;
    std::size_t length;
};

// Every tag text in header that reads as value, in both tag pairs, in any order.
std::vector<TextSpan> tagTexts(ByteView header, std::int64_t value) {
    std::vector<TextSpan> spans;
    for (const auto& tags : layout::kTimeReferenceTags) {
        std::size_t from = 0;
        while (auto start = find(header, tags.start, from)) {
            const std::size_t text = *start + tags.start.size();
            auto end = find(header, tags.end, text);
            if (!end) break;
            std::string_view content(reinterpret_cast<const char*>(header.data()) + text, *end - text);
            if (parseInt64(content) == value) spans.push_back({text, *end - text});
            from = *end + tags.end.size();
        }
    }
    std::sort(spans.begin(), spans.end(),
              [](const TextSpan& a, const TextSpan& b) { return a.offset > b.offset; });
    return spans;
}

}  // namespace

HeaderEdits rewriteTimeReference(Bytes& header, std::optional<std::size_t> bextOffset,
                                 std::int64_t oldValue, std::int64_t newValue) {
    HeaderEdits edits;
    if (oldValue == newValue) return edits;

    // Chunk sizes are only corrected where the header is a sound chunk list.
    const ChunkWalk walk = walkChunks(header);
    if (bextOffset) {
        const std::size_t field = *bextOffset + layout::kBextTimeReferenceOffset;
        // Never into another chunk's bytes.
        const bool inside = !walk.reachedEnd || walk.containing(field, 8);
        if (inside && readLE<std::int64_t>(header, field) == oldValue) {
            writeLE<std::int64_t>(header, field, newValue);
            ++edits.replaced;
        }
    }
    const std::size_t originalSize = header.size();
    const std::string newText = toDecimal(newValue);
    std::vector<std::ptrdiff_t> growth(walk.chunks.size(), 0);

    // Last first, so that the offsets still to be edited do not move.
    for (const TextSpan& span : tagTexts(header, oldValue)) {
        const ChunkRef* chunk = walk.reachedEnd ? walk.containing(span.offset, span.length) : nullptr;
        // In a sound chunk list, text that is not inside one chunk's body is no tag value.
        if (walk.reachedEnd && !chunk) continue;
        const auto at = header.begin() + static_cast<std::ptrdiff_t>(span.offset);
        header.erase(at, at + static_cast<std::ptrdiff_t>(span.length));
        header.insert(header.begin() + static_cast<std::ptrdiff_t>(span.offset), newText.begin(),
                      newText.end());
        ++edits.replaced;
        const auto delta =
            static_cast<std::ptrdiff_t>(newText.size()) - static_cast<std::ptrdiff_t>(span.length);
        if (delta == 0) continue;
        edits.add(span.offset + span.length, delta);
        if (chunk) growth[static_cast<std::size_t>(chunk - walk.chunks.data())] += delta;
    }

    // Then each grown or shrunk chunk's size, and RIFF's rule that an odd-sized
    // body is followed by one pad byte; again last chunk first.
    for (std::size_t i = walk.chunks.size(); i-- > 0;) {
        if (growth[i] == 0) continue;
        const ChunkRef& chunk = walk.chunks[i];
        const auto size = static_cast<std::uint32_t>(static_cast<std::int64_t>(chunk.size) + growth[i]);
        // Text edits in earlier chunks have moved this one already.
        writeLE<std::uint32_t>(header, edits.moved(chunk.offset + layout::kChunkSizeOffset), size);
        const bool hadPad = (chunk.size & 1u) && chunk.next() <= originalSize;
        const auto padAt = header.begin() + static_cast<std::ptrdiff_t>(edits.moved(chunk.bodyEnd()));
        if (hadPad && !(size & 1u)) {
            header.erase(padAt);
            edits.add(chunk.bodyEnd() + 1, -1);
        } else if (!(chunk.size & 1u) && (size & 1u)) {
            header.insert(padAt, 0);
            edits.add(chunk.bodyEnd(), +1);
        }
    }
    return edits;
}

}  // namespace keeptime
