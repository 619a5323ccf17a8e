#include "recording/BWFParser.hpp"

#include <algorithm>
#include <tuple>

#include "base/BWFError.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {


BWFParser::BWFParser(const std::filesystem::path& url, std::ostream* out) : url_(url) {
    parse(FileHandle::openForReading(url_), out);
}

BWFParser::BWFParser(const FileHandle& file, std::ostream* out) : url_(file.path()) { parse(file, out); }

void BWFParser::parse(const FileHandle& file, std::ostream* out) {
    try {
        readHead(file);
        info_ = scanHead(head_, [&] { return file.size(); });
        preData_.assign(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(info_.at.data));
        if (info_.at.walked) chunks_ = info_.walk.chunks;
        checkRF64Size(file);
        fitAudioToFile(file);
        findTrailingChunks(file);
        if (!info_.at.fmt) {
            // The format chunk stands after the audio.
            auto fmt = std::find_if(chunks_.begin(), chunks_.end(),
                                    [](const Chunk& c) { return c.name() == layout::kFmtChunkId && c.whole; });
            if (fmt == chunks_.end()) throw BWFError(BWFError::Kind::Malformed, "no \"fmt \" chunk");
            const Bytes bytes = file.readAt(static_cast<std::int64_t>(fmt->offset), 8 + std::min<std::uint64_t>(fmt->size, 64));
            std::tie(info_.bytesPerFrame, info_.samplesPerSecond) = readFormat(bytes);
            info_.sampleFormat = keeptime::sampleFormat(bytes, info_.bytesPerFrame);
            fitAudioToFile(file);
        }
    } catch (const BWFError& error) {
        if (!error.path().empty()) throw;
        throw error.withPath(url_);
    }
    findStamp(file);
    head_ = {};
    if (out) *out << "Done" << std::endl;
}

void BWFParser::readHead(const FileHandle& file) {
    head_ = file.readAt(0, static_cast<std::size_t>(MAXSEARCH));
    if (head_.size() < static_cast<std::size_t>(MAXSEARCH)) return;
    // A header longer than the first read (a large iXML, a picture, padding):
    // follow its chunk headers through the file until they reach the audio.
    if (walkChunks(head_).data) return;
    const ChunkWalk walk = walkToAudio(head_, fileReader(file), static_cast<std::uint64_t>(file.size()));
    if (walk.pastLimit)
        throw BWFError(BWFError::Kind::Malformed, *walk.fault + "; this is not a recording Keeptime can read");
    // Where the sizes do not add up, the byte search takes over.
    if (walk.data) head_ = file.readAt(0, static_cast<std::size_t>(*walk.data + layout::kAudioOffset));
}

// Unfinished and cut-short recordings: the audio is what the file holds.
void BWFParser::fitAudioToFile(const FileHandle& file) {
    if (info_.bytesPerFrame <= 0 || info_.audioToEnd) return;
    const auto length = static_cast<std::uint64_t>(file.size());
    const std::uint64_t start = info_.at.data + layout::kAudioOffset;
    const std::uint64_t held = length > start ? length - start : 0;
    const auto declared = static_cast<std::uint64_t>(info_.audioDataLength);
    auto wholeFrames = [&](std::uint64_t bytes) {
        return static_cast<std::int64_t>(bytes - bytes % static_cast<std::uint64_t>(info_.bytesPerFrame));
    };
    if (declared == 0 && held > 0 && info_.at.walked) {
        // A size of 0 with no chunk after it: a recorder that lost power before closing the file.
        const ChunkWalk after = walkTrailing(fileReader(file), start, length);
        if (after.chunks.empty() || !after.chunks.front().whole) {
            info_.audioDataLength = wholeFrames(held);
            info_.audioToEnd = true;
            addNotice("unfinished recording: the header gives no audio length; using the file's length");
        }
    } else if (declared > held) {
        const std::int64_t frames = static_cast<std::int64_t>(held) / info_.bytesPerFrame;
        const auto promised = static_cast<std::int64_t>(declared / static_cast<std::uint64_t>(info_.bytesPerFrame));
        info_.audioDataLength = wholeFrames(held);
        info_.audioToEnd = true;
        addNotice("cut short: " + TimeString::durationString(static_cast<double>(frames / info_.samplesPerSecond)) + " of " +
                  TimeString::durationString(static_cast<double>(promised / info_.samplesPerSecond)) + " present");
    }
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
    ChunkWalk after = walkAfterAudio(fileReader(file), data, length);
    data.paddingSize = static_cast<std::uint8_t>(after.from - data.bodyEnd());
    chunks_.push_back(data);
    // A second audio chunk is left out of copies: readers would take it for the
    // audio, playing what was trimmed off. The first is the audio, as every reader has it.
    std::erase_if(after.chunks, [&](const Chunk& chunk) {
        if (chunk.name() != layout::kDataId) return false;
        addNotice("a second \"data\" chunk (" + std::to_string(chunk.size) + " bytes at offset " +
                  std::to_string(chunk.offset) + ") follows the audio; copies leave it out");
        return true;
    });
    chunks_.insert(chunks_.end(), after.chunks.begin(), after.chunks.end());
    notCarried_ = after.fault;
    notCarriedOffset_ = after.faultOffset;
}

void BWFParser::addNotice(const std::string& notice) { notice_ = notice_ ? *notice_ + "; " + notice : notice; }

// An RF64 data chunk's own 32-bit size is all ones, or the same as ds64's. Where
// the two disagree, the one that the file's length and the chunks after the
// audio confirm is the audio's size.
void BWFParser::checkRF64Size(const FileHandle& file) {
    if (!info_.rf64 || !info_.at.walked || info_.audioToEnd) return;
    const auto own = readLE<std::uint32_t>(head_, info_.at.data + layout::kDataSizeOffset);
    const auto given = static_cast<std::uint64_t>(info_.audioDataLength);
    if (!own || *own == layout::kSizeNotRecorded || *own == given) return;
    const auto length = static_cast<std::uint64_t>(file.size());
    auto confirmed = [&](std::uint64_t size) {
        Chunk data;
        data.offset = info_.at.data;
        data.size = size;
        if (data.bodyEnd() > length) return false;
        if (data.bodyEnd() + (size & 1u) >= length) return true;
        const ChunkWalk after = walkAfterAudio(fileReader(file), data, length);
        return !after.fault && !after.chunks.empty();
    };
    const bool takeOwn = confirmed(*own) && !confirmed(given);
    if (takeOwn) info_.audioDataLength = *own;
    addNotice("the \"ds64\" chunk gives " + std::to_string(given) + " audio bytes and the \"data\" chunk " +
              std::to_string(*own) + "; using " + std::to_string(takeOwn ? *own : given) +
              (takeOwn ? ", which the file's length confirms" : ""));
}

namespace {

void readTakeNotes(ByteView ixml, TakeNotes& notes) {
    const std::pair<std::optional<std::string>*, const char*> fields[] = {
        {&notes.scene, "SCENE"}, {&notes.take, "TAKE"}, {&notes.tape, "TAPE"}, {&notes.note, "NOTE"}};
    for (const auto& [field, name] : fields)
        if (auto value = ixmlValue(ixml, name); value && !field->has_value() && !ixmlPlain(*value).empty())
            *field = ixmlPlain(*value);
    if (!notes.trackNames.empty()) return;
    const auto list = ixmlValue(ixml, "TRACK_LIST");
    if (!list) return;
    for (const std::string& track : ixmlValues(asBytes(*list), "TRACK"))
        if (auto name = ixmlValue(asBytes(track), "NAME"); name && !ixmlPlain(*name).empty())
            notes.trackNames.push_back(ixmlPlain(*name));
}

}  // namespace

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
    for (ByteView text : ixml) {
        if (!timecodeRate_) timecodeRate_ = ixmlValue(text, "TIMECODE_RATE");
        if (!timecodeFlag_) timecodeFlag_ = ixmlValue(text, "TIMECODE_FLAG");
        if (!stampSampleRate_) stampSampleRate_ = ixmlValue(text, "TIMESTAMP_SAMPLE_RATE");
        readTakeNotes(text, takeNotes_);
    }
}

std::optional<TimecodeRate> BWFParser::namedTimecodeRate() const {
    if (!timecodeRate_) return std::nullopt;
    return parseTimecodeRate(*timecodeRate_, timecodeFlag_.value_or(""));
}

Clock BWFParser::clock(const ClockChoice& choice) const {
    Clock clock;
    clock.frames = frames();
    clock.sampleRate = samplesPerSecond();
    clock.stamp = samplesSinceMidnight();
    clock.stampRate = stampRate(samplesPerSecond(), stampSampleRate_, choice.weirdTC);
    if (!choice.seconds) clock.rate = namedTimecodeRate() ? namedTimecodeRate() : choice.rate;
    return clock;
}

}  // namespace keeptime
