#include "riff/ChunkWalk.hpp"

#include <algorithm>

#include "riff/BWFFormat.hpp"

namespace keeptime {

std::uint64_t Chunk::bodyOffset() const { return offset + layout::kChunkHeaderSize; }
std::uint64_t Chunk::bodyEnd() const { return bodyOffset() + size; }
std::uint64_t Chunk::next() const { return bodyEnd() + paddingSize; }

const Chunk* ChunkWalk::find(std::string_view id) const {
    for (const auto& chunk : chunks)
        if (chunk.whole && chunk.name() == id) return &chunk;
    return nullptr;
}

// Chunk IDs are four printable ASCII characters; anything else means the walk has
// lost its footing (a wrong size, a missing pad byte).
bool plausibleId(ByteView header) {
    return header.size() >= 4 &&
           std::all_of(header.begin(), header.begin() + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

namespace {

// Enough for any real file; a list longer than this is no list.
constexpr std::size_t kMaxChunks = 100000;

struct Headers {
    const ReadAt& read;
    const WalkScope& scope;

    // The chunk whose header stands at pos, when its ID is text.
    std::optional<Chunk> at(std::uint64_t pos) const {
        if (pos > scope.end || scope.end - pos < layout::kChunkHeaderSize) return std::nullopt;
        const Bytes header = read(pos, layout::kChunkHeaderSize);
        if (header.size() < layout::kChunkHeaderSize || !plausibleId(header)) return std::nullopt;
        Chunk chunk;
        chunk.offset = pos;
        chunk.size = *readLE<std::uint32_t>(header, layout::kChunkSizeOffset);
        chunk.paddingSize = chunk.size & 1u;
        chunk.where = scope.where;
        std::copy_n(header.begin(), 4, chunk.id);
        return chunk;
    }
    bool endsWalk(const Chunk& chunk) const { return scope.toAudio && chunk.name() == layout::kDataId; }
    // A chunk whose ID is text and whose body fits (the audio's need not).
    bool sound(std::uint64_t pos) const {
        const auto chunk = at(pos);
        return chunk && (endsWalk(*chunk) || chunk->bodyEnd() <= scope.end);
    }
    // The one pad rule: an odd-sized chunk is followed by a pad byte, unless its
    // writer left it out; then only one byte earlier stands a sound chunk. Sets the
    // chunk's paddingSize to what the file has and gives where the next one starts.
    std::uint64_t after(Chunk& chunk) const {
        if (chunk.paddingSize && !sound(chunk.next()) && sound(chunk.bodyEnd())) chunk.paddingSize = 0;
        // The last chunk's pad byte, left out.
        if (chunk.next() > scope.end && chunk.bodyEnd() == scope.end) chunk.paddingSize = 0;
        return chunk.next();
    }
};

}  // namespace

ChunkWalk walkHeaders(const ReadAt& read, const WalkScope& scope) {
    const Headers headers{read, scope};
    ChunkWalk walk;
    walk.from = scope.from;
    auto stop = [&](std::uint64_t at, std::string why) {
        walk.fault = std::move(why);
        walk.faultOffset = at;
    };
    std::uint64_t pos = scope.from;
    while (true) {
        if (pos >= scope.end) {
            walk.reachedEnd = pos == scope.end;
            break;
        }
        if (scope.toAudio && pos > scope.limit) {
            walk.pastLimit = true;
            stop(pos, "the chunks before the audio run past " + std::to_string(scope.limit) + " bytes");
            break;
        }
        std::optional<Chunk> chunk = headers.at(pos);
        if (!chunk) {
            stop(pos, std::to_string(scope.end - pos) + " bytes at offset " + std::to_string(pos) + " are not a chunk");
            break;
        }
        if (headers.endsWalk(*chunk)) {
            walk.data = pos;
            break;
        }
        if (walk.chunks.size() == kMaxChunks) {
            stop(pos, "more than " + std::to_string(kMaxChunks) + " chunks" +
                          (scope.where == Where::After ? " after the audio" : ""));
            break;
        }
        if (chunk->bodyEnd() > scope.end) {
            chunk->whole = false;
            walk.chunks.push_back(*chunk);
            stop(pos, "the file ends inside the \"" + std::string(chunk->name()) + "\" chunk at offset " +
                          std::to_string(pos) + ": it declares " + std::to_string(chunk->size) + " bytes, " +
                          std::to_string(scope.end - chunk->bodyOffset()) + " are there");
            break;
        }
        pos = headers.after(*chunk);
        walk.chunks.push_back(*chunk);
    }
    return walk;
}

namespace {
ReadAt bufferRead(ByteView bytes) {
    return [bytes](std::uint64_t offset, std::size_t length) {
        if (offset >= bytes.size()) return Bytes();
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        return Bytes(from, from + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(length, bytes.size() - offset)));
    };
}
}  // namespace

ChunkWalk walkChunks(ByteView bytes) {
    WalkScope scope;
    scope.from = layout::kFileHeaderSize;
    scope.end = bytes.size();
    scope.toAudio = true;
    return walkHeaders(bufferRead(bytes), scope);
}

ChunkWalk walkToAudio(ByteView head, const ReadAt& file, std::uint64_t fileLength) {
    // The head's bytes are read from memory; only headers beyond it cost a read.
    const ReadAt headFirst = [&](std::uint64_t offset, std::size_t length) {
        if (offset <= head.size() && length <= head.size() - offset) return bufferRead(head)(offset, length);
        return file(offset, length);
    };
    WalkScope scope;
    scope.from = layout::kFileHeaderSize;
    scope.end = fileLength;
    scope.toAudio = true;
    scope.limit = kMaxHeader;
    return walkHeaders(headFirst, scope);
}

ChunkWalk walkTrailing(const ReadAt& read, std::uint64_t from, std::uint64_t fileLength) {
    WalkScope scope;
    scope.from = from;
    scope.end = fileLength;
    scope.where = Where::After;
    return walkHeaders(read, scope);
}

ChunkWalk walkAfterAudio(const ReadAt& read, const Chunk& data, std::uint64_t fileLength) {
    WalkScope scope;
    scope.end = fileLength;
    Chunk audio = data;
    audio.paddingSize = audio.size & 1u;
    return walkTrailing(read, Headers{read, scope}.after(audio), fileLength);
}

}  // namespace keeptime
