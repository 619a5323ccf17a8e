// Walks RIFF chunk headers from the end of the file header, following each size.
// A walk is only trusted as far as the sizes add up; callers fall back to byte
// search where it stops short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "bwf/Bytes.hpp"

namespace keeptime {

struct ChunkRef {
    std::size_t offset;  // of the chunk ID
    std::uint32_t size;  // body size as recorded
    char id[4];

    std::string_view name() const { return {id, 4}; }
    std::size_t bodyOffset() const;
    std::size_t bodyEnd() const;  // one past the body, pad byte excluded
    std::size_t next() const;     // where the following chunk starts
};

struct ChunkWalk {
    std::vector<ChunkRef> chunks;      // every chunk before "data" (or before the walk stopped)
    std::optional<std::size_t> data;   // offset of the "data" chunk ID, when the walk reached it
    bool reachedEnd = false;           // the chunks tile the buffer exactly up to its end

    // First chunk with this ID, when the walk saw one.
    const ChunkRef* find(std::string_view id) const;
    // The chunk whose body holds [offset, offset + length).
    const ChunkRef* containing(std::size_t offset, std::size_t length) const;
};

// Walks bytes (a file's head, or a header without its data chunk) from offset 12.
// Stops at the first "data" chunk, at a chunk that does not fit the buffer, or at
// bytes that cannot be a chunk ID.
ChunkWalk walkChunks(ByteView bytes);

}  // namespace keeptime
