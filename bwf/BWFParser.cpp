#include "bwf/BWFParser.hpp"

#include <algorithm>

#include "bwf/BWFError.hpp"

namespace keeptime {

BWFParser::BWFParser(const std::filesystem::path& url, std::ostream* out) : url_(url) {
    parse(FileHandle::openForReading(url_), out);
}

BWFParser::BWFParser(const FileHandle& file, std::ostream* out) : url_(file.path()) { parse(file, out); }

void BWFParser::parse(const FileHandle& file, std::ostream* out) {
    head_ = file.readAt(0, static_cast<std::size_t>(MAXSEARCH));
    try {
        info_ = scanHead(head_, [&] { return file.size(); });
    } catch (const BWFError& error) {
        if (!error.path().empty()) throw;
        throw error.withPath(url_);
    }
    preData_.assign(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(info_.at.data));
    if (info_.at.walked) chunks_ = info_.walk.chunks;
    findTrailingChunks(file);
    findStamp(file);
    head_ = {};
    if (out) *out << "Done" << std::endl;
}

void BWFParser::findTrailingChunks(const FileHandle& file) {
    Chunk data;
    std::copy(layout::kDataId.begin(), layout::kDataId.end(), data.id);
    data.offset = info_.at.data;
    data.size = static_cast<std::uint64_t>(info_.audioDataLength);
    data.where = Where::Audio;
    // Only a header walked to its end has a chunk list worth carrying on; audio
    // without a recorded size runs to the end of the file.
    const auto length = static_cast<std::uint64_t>(file.size());
    if (!info_.at.walked || info_.audioToEnd || data.bodyEnd() >= length) {
        chunks_.push_back(data);
        return;
    }
    auto read = [&](std::uint64_t offset, std::size_t count) {
        return file.readAt(static_cast<std::int64_t>(offset), count);
    };
    data.paddingSize = data.size & 1u;
    TrailingWalk after = walkTrailing(read, data.next(), length);
    if (data.paddingSize && after.chunks.empty()) {
        // A writer that left out the pad byte after odd-sized audio.
        TrailingWalk unpadded = walkTrailing(read, data.bodyEnd(), length);
        if (!unpadded.chunks.empty()) after = std::move(unpadded), data.paddingSize = 0;
    }
    chunks_.push_back(data);
    chunks_.insert(chunks_.end(), after.chunks.begin(), after.chunks.end());
    notCarried_ = after.fault;
    notCarriedOffset_ = after.faultOffset;
}

void BWFParser::findStamp(const FileHandle& file) {
    std::vector<Bytes> held;  // bodies read from after the audio
    std::vector<ByteView> ixml, bext;
    if (!info_.at.walked) {
        // Without a chunk list, the tags are searched for wherever they stand in the head.
        ixml.push_back(head_);
        if (info_.at.bext)
            bext.push_back(ByteView(head_).subspan(*info_.at.bext + layout::kChunkHeaderSize));
    }
    held.reserve(chunks_.size());
    for (const Chunk& chunk : chunks_) {
        const bool isIXML = chunk.name() == layout::kIXMLId, isBext = chunk.name() == layout::kBextId;
        if (!chunk.whole || (!isIXML && !isBext)) continue;
        ByteView body;
        if (chunk.where == Where::Before) {
            body = ByteView(head_).subspan(chunk.bodyOffset(), chunk.size);
        } else {
            const std::size_t wanted = isIXML ? std::min<std::uint64_t>(chunk.size, kMaxIXMLSearch)
                                              : std::min<std::uint64_t>(chunk.size, 1024);
            held.push_back(file.readAt(static_cast<std::int64_t>(chunk.bodyOffset()), wanted));
            body = held.back();
        }
        (isIXML ? ixml : bext).push_back(body);
    }
    stamp_ = chooseStamp(ixml, bext);
}

}  // namespace keeptime
