// Walks RIFF chunk headers, following each size: in a file's head up to its
// data chunk, and after the audio by jumping over it. A walk is only trusted as
// far as the sizes add up; the parser falls back to byte search where the head's
// walk stops short, and nothing after the audio is guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.hpp"

namespace keeptime {

enum class Where { Before, Audio, After };  // the chunk's place: before the audio, the data chunk, after it

struct Chunk {
    char id[4] = {};
    std::uint64_t offset = 0;       // of the chunk ID
    std::uint64_t size = 0;         // body size (for the data chunk: the audio bytes)
    std::uint8_t paddingSize = 0;   // pad bytes after the body in the file: 0, or 1 after an odd size
    Where where = Where::Before;
    bool whole = true;              // false: the file ends inside the body

    std::string_view name() const { return {id, 4}; }
    std::uint64_t bodyOffset() const;
    std::uint64_t bodyEnd() const;  // one past the body, pad byte excluded
    std::uint64_t next() const;     // where the following chunk starts
};

struct ChunkWalk {
    std::vector<Chunk> chunks;       // every chunk before "data" (or before the walk stopped)
    std::optional<std::size_t> data; // offset of the "data" chunk ID, when the walk reached it
    bool reachedEnd = false;         // the chunks tile the buffer exactly up to its end

    // First chunk with this ID, when the walk saw one.
    const Chunk* find(std::string_view id) const;
};

// Whether header starts with four printable ASCII characters, as every chunk ID does.
bool plausibleId(ByteView header);

// Walks bytes (a file's head, or a header without its data chunk) from offset 12.
// Stops at the first "data" chunk, at a chunk that does not fit the buffer, or at
// bytes that cannot be a chunk ID.
ChunkWalk walkChunks(ByteView bytes);

// What stands after the audio: the whole chunks in order, and, when the walk
// stopped before the end of the file, why the bytes from there on are not
// carried (a chunk the file ends inside, or bytes that are no chunk).
struct TrailingWalk {
    std::vector<Chunk> chunks;  // Where::After; the last may not be whole
    std::optional<std::string> fault;
    std::uint64_t faultOffset = 0;
    std::uint64_t from = 0;     // where the walk began
};

using ReadAt = std::function<Bytes(std::uint64_t offset, std::size_t length)>;

// Reads chunk headers from `from` (just after the audio and its pad byte) to
// fileLength, 8 bytes at a time through read(offset, length).
TrailingWalk walkTrailing(const ReadAt& read, std::uint64_t from, std::uint64_t fileLength);

// The chunks after the data chunk (its offset and audio size): walked from
// after its pad byte, or from the end of odd-sized audio when its writer left
// the pad byte out and only that walk finds chunks. from - data.bodyEnd() is
// the pad byte the file has.
TrailingWalk walkAfterAudio(const ReadAt& read, const Chunk& data, std::uint64_t fileLength);

}  // namespace keeptime
