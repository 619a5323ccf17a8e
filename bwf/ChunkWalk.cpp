#include "bwf/ChunkWalk.hpp"

#include <algorithm>

#include "bwf/BWFFormat.hpp"

namespace keeptime {

std::size_t ChunkRef::bodyOffset() const { return offset + layout::kChunkHeaderSize; }
std::size_t ChunkRef::bodyEnd() const { return bodyOffset() + size; }
std::size_t ChunkRef::next() const { return bodyEnd() + (size & 1u); }

const ChunkRef* ChunkWalk::find(std::string_view id) const {
    for (const auto& chunk : chunks)
        if (chunk.name() == id) return &chunk;
    return nullptr;
}

const ChunkRef* ChunkWalk::containing(std::size_t offset, std::size_t length) const {
    for (const auto& chunk : chunks)
        if (offset >= chunk.bodyOffset() && offset + length <= chunk.bodyEnd()) return &chunk;
    return nullptr;
}

namespace {
// Chunk IDs are four printable ASCII characters; anything else means the walk has
// lost its footing (a wrong size, a missing pad byte).
bool plausibleId(ByteView bytes, std::size_t at) {
    return std::all_of(bytes.begin() + at, bytes.begin() + at + 4,
                       [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}
}  // namespace

ChunkWalk walkChunks(ByteView bytes) {
    ChunkWalk walk;
    std::size_t pos = layout::kFileHeaderSize;
    while (true) {
        if (pos == bytes.size()) {
            walk.reachedEnd = true;
            break;
        }
        if (!fits(bytes, pos, layout::kChunkHeaderSize) || !plausibleId(bytes, pos)) break;
        ChunkRef chunk{};
        chunk.offset = pos;
        chunk.size = *readLE<std::uint32_t>(bytes, pos + layout::kChunkSizeOffset);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), 4, chunk.id);
        if (chunk.name() == layout::kDataId) {
            walk.data = pos;
            break;
        }
        // 64-bit arithmetic: a 32-bit size near 4 GiB must not wrap.
        const std::uint64_t next = std::uint64_t{pos} + layout::kChunkHeaderSize + chunk.size +
                                   (chunk.size & 1u);
        if (next > bytes.size()) {
            // The last chunk of a header may lack its pad byte; accept it only there.
            if ((chunk.size & 1u) && next - 1 == bytes.size()) {
                walk.chunks.push_back(chunk);
                walk.reachedEnd = true;
            }
            break;
        }
        walk.chunks.push_back(chunk);
        pos = static_cast<std::size_t>(next);
    }
    return walk;
}

}  // namespace keeptime
