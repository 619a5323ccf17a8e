#include "riff/ChunkWalk.hpp"

#include <algorithm>

#include "riff/BWFFormat.hpp"

namespace keeptime {

std::uint64_t Chunk::bodyOffset() const { return offset + layout::kChunkHeaderSize; }
std::uint64_t Chunk::bodyEnd() const { return bodyOffset() + size; }
std::uint64_t Chunk::next() const { return bodyEnd() + paddingSize; }

const Chunk* ChunkWalk::find(std::string_view id) const {
    for (const auto& chunk : chunks)
        if (chunk.name() == id) return &chunk;
    return nullptr;
}

// Chunk IDs are four printable ASCII characters; anything else means the walk has
// lost its footing (a wrong size, a missing pad byte).
bool plausibleId(ByteView header) {
    return header.size() >= 4 &&
           std::all_of(header.begin(), header.begin() + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

namespace {

Chunk chunkAt(ByteView header, std::uint64_t offset, Where where) {
    Chunk chunk;
    chunk.offset = offset;
    chunk.size = *readLE<std::uint32_t>(header, layout::kChunkSizeOffset);
    chunk.paddingSize = chunk.size & 1u;
    chunk.where = where;
    std::copy_n(header.begin(), 4, chunk.id);
    return chunk;
}

}  // namespace

ChunkWalk walkChunks(ByteView bytes) {
    ChunkWalk walk;
    // A chunk whose ID is text and whose body fits the buffer (the data chunk's need not).
    auto sound = [&](std::size_t at) {
        if (!fits(bytes, at, layout::kChunkHeaderSize) || !plausibleId(bytes.subspan(at))) return false;
        const Chunk chunk = chunkAt(bytes.subspan(at), at, Where::Before);
        return chunk.name() == layout::kDataId || chunk.bodyEnd() <= bytes.size();
    };
    std::size_t pos = layout::kFileHeaderSize;
    while (true) {
        if (pos == bytes.size()) {
            walk.reachedEnd = true;
            break;
        }
        // A writer that left out the pad byte after an odd-sized chunk.
        if (!sound(pos) && !walk.chunks.empty() && walk.chunks.back().paddingSize && sound(pos - 1)) {
            walk.chunks.back().paddingSize = 0;
            --pos;
        }
        if (!fits(bytes, pos, layout::kChunkHeaderSize) || !plausibleId(bytes.subspan(pos))) break;
        Chunk chunk = chunkAt(bytes.subspan(pos), pos, Where::Before);
        if (chunk.name() == layout::kDataId) {
            walk.data = pos;
            break;
        }
        if (chunk.next() > bytes.size()) {
            // The last chunk of a header may lack its pad byte.
            if (chunk.paddingSize && chunk.bodyEnd() == bytes.size()) {
                chunk.paddingSize = 0;
                walk.chunks.push_back(chunk);
                walk.reachedEnd = true;
            }
            break;
        }
        walk.chunks.push_back(chunk);
        pos = static_cast<std::size_t>(chunk.next());
    }
    return walk;
}

TrailingWalk walkTrailing(const ReadAt& read, std::uint64_t from, std::uint64_t fileLength) {
    // Enough for any real file; a list longer than this is no list.
    constexpr std::size_t kMaxChunks = 100000;
    TrailingWalk walk;
    walk.from = from;
    std::uint64_t pos = from;
    auto stop = [&](std::uint64_t at, std::string why) {
        walk.fault = std::move(why);
        walk.faultOffset = at;
    };
    while (pos < fileLength) {
        Bytes header = read(pos, layout::kChunkHeaderSize);
        if (!plausibleId(header) && !walk.chunks.empty() && walk.chunks.back().paddingSize) {
            // A writer that left out the pad byte after an odd-sized chunk.
            Bytes unpadded = read(pos - 1, layout::kChunkHeaderSize);
            if (unpadded.size() == layout::kChunkHeaderSize && plausibleId(unpadded)) {
                walk.chunks.back().paddingSize = 0;
                header = std::move(unpadded);
                --pos;
            }
        }
        if (header.size() < layout::kChunkHeaderSize || !plausibleId(header)) {
            stop(pos, std::to_string(fileLength - pos) + " bytes at offset " + std::to_string(pos) +
                          " are not a chunk");
            break;
        }
        if (walk.chunks.size() == kMaxChunks) {
            stop(pos, "more than " + std::to_string(kMaxChunks) + " chunks after the audio");
            break;
        }
        Chunk chunk = chunkAt(header, pos, Where::After);
        if (chunk.bodyEnd() > fileLength) {
            chunk.whole = false;
            walk.chunks.push_back(chunk);
            stop(pos, "the file ends inside the \"" + std::string(chunk.name()) + "\" chunk at offset " +
                          std::to_string(pos) + ": it declares " + std::to_string(chunk.size) + " bytes, " +
                          std::to_string(fileLength - chunk.bodyOffset()) + " are there");
            break;
        }
        if (chunk.next() > fileLength) chunk.paddingSize = 0;  // the last chunk's pad byte, left out
        walk.chunks.push_back(chunk);
        pos = chunk.next();
    }
    return walk;
}

TrailingWalk walkAfterAudio(const ReadAt& read, const Chunk& data, std::uint64_t fileLength) {
    TrailingWalk after = walkTrailing(read, data.bodyEnd() + (data.size & 1u), fileLength);
    if ((data.size & 1u) && after.chunks.empty()) {
        TrailingWalk unpadded = walkTrailing(read, data.bodyEnd(), fileLength);
        if (!unpadded.chunks.empty()) return unpadded;
    }
    return after;
}

}  // namespace keeptime
