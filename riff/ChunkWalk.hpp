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

// One walk over chunk headers. Every walk in the system is this one: over a
// file's head, on through a header longer than the head, and after the audio.
struct ChunkWalk {
    std::vector<Chunk> chunks;        // in file order; the last is not whole when the file ends inside it
    std::optional<std::uint64_t> data;  // offset of the "data" chunk ID, when a walk to the audio met it
    bool reachedEnd = false;          // the chunks tile the bytes exactly up to their end
    std::optional<std::string> fault;  // why the walk stopped short of the end, when it did
    std::uint64_t faultOffset = 0;
    std::uint64_t from = 0;           // where the walk began
    bool pastLimit = false;           // a walk to the audio passed its limit before finding it

    // First whole chunk with this ID, when the walk saw one.
    const Chunk* find(std::string_view id) const;
};

// Whether header starts with four printable ASCII characters, as every chunk ID does.
bool plausibleId(ByteView header);

using ReadAt = std::function<Bytes(std::uint64_t offset, std::size_t length)>;

// The rules of one walk. Headers are read through `read` from `from` up to `end`.
struct WalkScope {
    std::uint64_t from = 0;
    std::uint64_t end = 0;
    Where where = Where::Before;
    bool toAudio = false;  // stop at the first "data" chunk, whose body need not fit
    std::uint64_t limit = UINT64_MAX;  // a walk to the audio gives up at a chunk that starts past this
};
ChunkWalk walkHeaders(const ReadAt& read, const WalkScope& scope);

// Walks bytes (a file's head, or a header without its data chunk) from offset 12 to
// the first "data" chunk. Stops short at a chunk that does not fit the buffer, or at
// bytes that cannot be a chunk ID.
ChunkWalk walkChunks(ByteView bytes);

// The chunks before the audio of a file whose first bytes are head, followed on
// through file (fileLength bytes) where the header is longer than head, as far as
// kMaxHeader (pastLimit beyond it).
ChunkWalk walkToAudio(ByteView head, const ReadAt& file, std::uint64_t fileLength);

// Reads chunk headers after the audio, from `from` (just after the audio and its pad
// byte) to fileLength, 8 bytes at a time.
ChunkWalk walkTrailing(const ReadAt& read, std::uint64_t from, std::uint64_t fileLength);

// The chunks after the data chunk (its offset and audio size), placed by the one pad
// rule: from after its pad byte, or from the end of odd-sized audio when its writer
// left the pad byte out. from - data.bodyEnd() is the pad byte the file has.
ChunkWalk walkAfterAudio(const ReadAt& read, const Chunk& data, std::uint64_t fileLength);

}  // namespace keeptime
