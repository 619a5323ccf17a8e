#include "copy/BWFReconstructor.hpp"

#include <algorithm>

#include "riff/BWFFormat.hpp"
#include "io/BlockCopier.hpp"
#include "meta/Markers.hpp"
#include "io/OutputFile.hpp"
#include "io/SharedBlocks.hpp"

namespace keeptime {

namespace {

// Chunks rewritten in memory are small in every real file; a larger one is carried as it is.
constexpr std::uint64_t kMaxEditedChunk = 16u << 20;

[[noreturn]] void refuse(const std::filesystem::path& path, const std::string& reason) {
    throw BWFError(BWFError::Kind::BadRange, path, reason);
}

bool editable(std::string_view id) {
    return id == layout::kBextId || id == layout::kIXMLId || markerChunk(id) != MarkerChunk::none;
}

// A whole chunk: its header, body, and the pad byte after an odd-sized body.
Bytes chunkBytes(std::string_view id, ByteView body) {
    Bytes bytes(id.begin(), id.end());
    bytes.resize(layout::kChunkHeaderSize);
    writeLE<std::uint32_t>(bytes, layout::kChunkSizeOffset, static_cast<std::uint32_t>(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (body.size() & 1u) bytes.push_back(0);
    return bytes;
}

struct Edits {
    StampMove stamp;
    KeptFrames kept;
    std::span<const std::uint32_t> removedCues;
    const std::map<std::uint32_t, std::uint32_t>* regionRoom = nullptr;
};

// The chunk's new body, or nothing when it stays as it is.
std::optional<Bytes> editBody(std::string_view id, ByteView body, const Edits& edits) {
    std::optional<Bytes> edited;
    if (id == layout::kBextId) {
        Bytes moved(body.begin(), body.end());
        if (moveBextStamp(moved, edits.stamp)) edited = std::move(moved);
    } else if (id == layout::kIXMLId) {
        edited = moveStampTags(body, edits.stamp);
    } else {
        std::optional<BodyEdit> markers;
        switch (markerChunk(id)) {
            case MarkerChunk::cue: markers = moveCuePoints(body, edits.kept); break;
            case MarkerChunk::list:
                markers = dropLabels(body, edits.removedCues);
                if (markers && edits.regionRoom)
                    if (auto cut = cutRegions(markers->body, *edits.regionRoom); cut && cut->changed)
                        markers = BodyEdit{std::move(cut->body), true};
                break;
            case MarkerChunk::smpl: markers = moveLoops(body, edits.kept); break;
            case MarkerChunk::none: break;
        }
        if (markers && markers->changed) edited = std::move(markers->body);
    }
    if (edited && std::equal(edited->begin(), edited->end(), body.begin(), body.end())) edited.reset();
    return edited;
}

}  // namespace

BWFReconstructor::BWFReconstructor(CopyRequest request, std::ostream* log)
    : request_(std::move(request)),
      log_(log),
      input_(FileHandle::openForReading(request_.input)),
      inputVersion_(input_.version()),
      parser_(input_, log) {
    if (sameFile(request_.input, request_.output))
        throw BWFError(BWFError::Kind::Output, request_.output, "is the input file; the copy needs another name");
    output_ = checkOutput(request_.output, request_.replace);
    const std::int64_t first = request_.startFrame, end = request_.endFrame;
    if (first < 0 || end < first || end > parser_.frames())
        refuse(request_.input, "frames " + std::to_string(first) + " to " + std::to_string(end) +
                                   " are not inside the audio's " + std::to_string(parser_.frames()) + " frames");
    if (parser_.preData().size() < layout::kFileHeaderSize)
        throw BWFError(BWFError::Kind::Malformed, request_.input, "the \"data\" chunk stands inside the file header");

    plan_.startFrame = first;
    plan_.frames = end - first;
    plan_.audioBytes = plan_.frames * parser_.bytesPerFrame();
    plan_.stampSource = parser_.timeReferenceSource();
    if (plan_.stampSource != TimeReferenceSource::None) plan_.stampBefore = parser_.samplesSinceMidnight();

    // Markers first: a label list may stand before the cue chunk whose points it names.
    const Edits edits{parser_.clock(request_.times).stampMove(first), {first, end}, {}};
    for (const Chunk& chunk : parser_.chunks()) {
        if (markerChunk(chunk.name()) != MarkerChunk::cue || !chunk.whole || chunk.size > kMaxEditedChunk) continue;
        const Bytes body = input_.readAt(static_cast<std::int64_t>(chunk.bodyOffset()), chunk.size);
        if (auto cue = moveCuePoints(body, edits.kept))
            removedCues_.insert(removedCues_.end(), cue->removed.begin(), cue->removed.end());
        // A region that starts in the copy ends at its end at the latest.
        for (const Marker& point : readMarkers(body, {}))
            if (point.frame >= first && point.frame < end) {
                const auto room = static_cast<std::uint32_t>(std::min<std::int64_t>(end - point.frame, UINT32_MAX));
                if (auto [at, fresh] = regionRoom_.emplace(point.id, room); !fresh) at->second = std::min(at->second, room);
            }
    }
    planHeader(edits.stamp);
    planTrailing(edits.stamp);
    planSharing();
    finishSizes();

    // The stamp the copy carries, read back from the bytes it will write: also
    // from a chunk after the audio that is carried as it was (a trim from frame 0).
    if (!plan_.stampBefore) return;
    std::vector<Bytes> carried;
    carried.reserve(after_.size());
    std::vector<ByteView> ixml, bext;
    for (const auto* pieces : {&before_, &after_})
        for (const Piece& piece : *pieces) {
            const bool isIXML = piece.id == layout::kIXMLId, isBext = piece.id == layout::kBextId;
            if (piece.fromInput && !isIXML && !isBext) continue;
            ByteView body;
            if (piece.fromInput) {
                const auto chunk = std::find_if(parser_.chunks().begin(), parser_.chunks().end(),
                                                [&](const Chunk& c) { return c.offset == piece.from; });
                const std::uint64_t wanted = std::min<std::uint64_t>(chunk->size, isIXML ? kMaxIXMLSearch : 1024);
                body = carried.emplace_back(input_.readAt(static_cast<std::int64_t>(chunk->bodyOffset()), wanted));
            } else {
                body = piece.id.empty() ? ByteView(piece.bytes) : ByteView(piece.bytes).subspan(8);
            }
            if (piece.id.empty() || isIXML) ixml.push_back(body);
            if (isBext) bext.push_back(body);
        }
    plan_.stampAfter = chooseStamp(ixml, bext).value;
}

BWFReconstructor::~BWFReconstructor() = default;

bool BWFReconstructor::cancel() {
    int expected = kRunning;
    return state_.compare_exchange_strong(expected, kCancelled) || expected == kCancelled;
}

void BWFReconstructor::planHeader(const StampMove& stamp) {
    const Bytes& pre = parser_.preData();
    const Edits edits{stamp, {request_.startFrame, request_.endFrame}, removedCues_, &regionRoom_};
    fileHeader_.assign(pre.begin(), pre.begin() + layout::kFileHeaderSize);
    auto slice = [&](std::uint64_t from, std::uint64_t to) {
        return Bytes(pre.begin() + static_cast<std::ptrdiff_t>(from), pre.begin() + static_cast<std::ptrdiff_t>(to));
    };
    auto addChunk = [&](const Chunk& chunk) {
        const ByteView body = ByteView(pre).subspan(chunk.bodyOffset(), chunk.size);
        auto edited = editBody(chunk.name(), body, edits);
        before_.push_back({std::string(chunk.name()), edited ? chunkBytes(chunk.name(), *edited)
                                                             : slice(chunk.offset, chunk.next())});
    };
    // Where the sizes stop adding up, only the chunks that end before the data chunk
    // the search found are chunks; the rest of the header is carried as raw bytes,
    // apart from the ds64 and bext chunks the search found.
    const std::uint64_t to = parser_.landmarks().data;
    std::uint64_t from = layout::kFileHeaderSize;
    for (const Chunk& chunk : parser_.head().chunks) {
        if (chunk.next() > to) break;
        addChunk(chunk);
        from = chunk.next();
    }
    if (parser_.landmarks().walked) return;

    std::vector<std::uint64_t> marks;
    for (auto mark : {parser_.landmarks().ds64, parser_.landmarks().bext})
        if (mark && *mark >= from) marks.push_back(*mark);
    std::sort(marks.begin(), marks.end());
    for (std::uint64_t mark : marks) {
        Chunk chunk;
        std::copy_n(pre.begin() + static_cast<std::ptrdiff_t>(mark), 4, chunk.id);
        chunk.offset = mark;
        chunk.size = readLE<std::uint32_t>(pre, mark + layout::kChunkSizeOffset).value_or(0);
        chunk.paddingSize = chunk.size & 1u;
        if (mark < from || chunk.next() > to) continue;
        Bytes raw = slice(from, mark);
        before_.push_back({"", moveStampTags(raw, edits.stamp)});
        addChunk(chunk);
        from = chunk.next();
    }
    before_.push_back({"", moveStampTags(slice(from, to), edits.stamp)});
}

void BWFReconstructor::planTrailing(const StampMove& stamp) {
    const Edits edits{stamp, {request_.startFrame, request_.endFrame}, removedCues_, &regionRoom_};
    for (const Chunk& chunk : parser_.chunks()) {
        if (chunk.where != Where::After || !chunk.whole) continue;
        Piece piece{std::string(chunk.name()), {}, true, chunk.offset, chunk.next() - chunk.offset};
        if (editable(chunk.name()) && chunk.size <= kMaxEditedChunk) {
            const Bytes body = input_.readAt(static_cast<std::int64_t>(chunk.bodyOffset()), chunk.size);
            if (body.size() != chunk.size) refuse(request_.input, "the input changed while it was read");
            if (auto edited = editBody(chunk.name(), body, edits)) piece = {piece.id, chunkBytes(chunk.name(), *edited)};
        }
        const bool unpadded = piece.fromInput && (chunk.size & 1u) && chunk.paddingSize == 0;
        after_.push_back(std::move(piece));
        // A writer that left out an odd chunk's pad byte: the copy has it, so that readers find what follows.
        if (unpadded) after_.push_back({"", Bytes(1, 0)});
    }
}

std::int64_t BWFReconstructor::stretchOffset() const {
    return parser_.audioOffset() + plan_.startFrame * parser_.bytesPerFrame();
}

std::uint64_t BWFReconstructor::copyLength() const {
    const std::int64_t audio = plan_.audioBytes;
    std::uint64_t total = fileHeader_.size() + layout::kAudioOffset + static_cast<std::uint64_t>(audio + (audio & 1));
    for (const auto* pieces : {&before_, &after_})
        for (const Piece& piece : *pieces) total += piece.size();
    return total;
}

// Blocks can be shared only between offsets that agree within a block: a filler
// chunk right before the data chunk moves the copy's audio there. Planned only
// when a trial clone works, so that elsewhere the copy is what it always was.
void BWFReconstructor::planSharing() {
    const std::int64_t block = request_.share ? shared::blockSize(input_.fd()) : 0;
    const std::int64_t from = stretchOffset(), firstBlock = block ? (from + block - 1) / block * block : 0;
    // Chunks start at even offsets, so an odd stretch never agrees; a header whose
    // sizes do not add up is carried as it was.
    if (block == 0 || from % 2 != 0 || firstBlock + block > from + plan_.audioBytes || !parser_.landmarks().walked)
        return;
    std::int64_t audioAt = static_cast<std::int64_t>(fileHeader_.size() + layout::kAudioOffset);
    for (const Piece& piece : before_) audioAt += static_cast<std::int64_t>(piece.size());
    const std::int64_t gap = ((from - audioAt) % block + block) % block;
    const bool filler = !before_.empty() && std::find(std::begin(layout::kFillerIds), std::end(layout::kFillerIds),
                                                      before_.back().id) != std::end(layout::kFillerIds);
    const std::int64_t old = filler ? static_cast<std::int64_t>(before_.back().size()) : 0;
    // The filler's new length: the shortest that lines the audio up, a header at least.
    std::int64_t length = old + gap;
    length = length < std::int64_t{layout::kChunkHeaderSize} ? length + block
                                                             : length - (length - 8) / block * block;
    if (gap != 0 && !parser_.rf64() &&
        static_cast<std::int64_t>(copyLength()) + length - old > layout::kMaxRIFFFileLength)
        return;
    try {
        OutputFile trial(output_, request_.replace);
        if (shared::clone(input_.fd(), firstBlock, trial.fd(), 0, block) != 0) return;
    } catch (const BWFError&) {
        return;  // process() says why the copy cannot be written
    }
    plan_.shareBlock = block;
    if (gap == 0) return;
    Bytes body(static_cast<std::size_t>(length) - layout::kChunkHeaderSize, 0);
    if (filler) {  // keeps what it held, as far as it still reaches
        const ByteView was = ByteView(before_.back().bytes).subspan(layout::kChunkHeaderSize);
        std::copy_n(was.begin(), std::min(was.size(), body.size()), body.begin());
        before_.back().bytes = chunkBytes(before_.back().id, body);
    } else {
        before_.push_back({std::string(layout::kJunkId), chunkBytes(layout::kJunkId, body)});
    }
}

void BWFReconstructor::finishSizes() {
    const std::int64_t audio = plan_.audioBytes;
    for (const auto* pieces : {&before_, &after_}) {
        if (pieces == &after_) plan_.chunks.push_back("data");
        for (const Piece& piece : *pieces) plan_.chunks.push_back(piece.id.empty() ? "(header bytes)" : piece.id);
    }
    plan_.fileBytes = static_cast<std::int64_t>(copyLength());
    const bool fitsRIFF = plan_.fileBytes <= layout::kMaxRIFFFileLength;

    if (parser_.rf64()) {
        auto ds64 = std::find_if(before_.begin(), before_.end(), [](const Piece& p) { return p.id == layout::kDS64Id; });
        if (ds64 == before_.end() || !fits(ds64->bytes, layout::kDS64SampleCountOffset, 8))
            throw BWFError(BWFError::Kind::Malformed, request_.input, "the \"ds64\" chunk is cut short");
        writeLE<std::int64_t>(ds64->bytes, layout::kDS64RIFFSizeOffset, plan_.fileBytes - 8);
        writeLE<std::int64_t>(ds64->bytes, layout::kDS64DataSizeOffset, audio);
        writeLE<std::int64_t>(ds64->bytes, layout::kDS64SampleCountOffset, plan_.frames);
        // Small enough for plain RIFF; the ds64 chunk stays, with true values.
        if (fitsRIFF) std::copy(layout::kRIFFId.begin(), layout::kRIFFId.end(), fileHeader_.begin());
    } else if (!fitsRIFF) {
        refuse(request_.input, "the copy would be " + std::to_string(plan_.fileBytes) +
                                   " bytes, more than a RIFF file can hold (4294967295); choose a shorter range");
    }
    if (fitsRIFF)
        writeLE<std::uint32_t>(fileHeader_, layout::kRIFFSizeOffset, static_cast<std::uint32_t>(plan_.fileBytes - 8));
    dataHeader_.assign(layout::kDataId.begin(), layout::kDataId.end());
    dataHeader_.resize(layout::kAudioOffset);
    writeLE<std::uint32_t>(dataHeader_, layout::kDataSizeOffset,
                           static_cast<std::uint32_t>(std::min<std::int64_t>(audio, layout::kSizeNotRecorded)));
}

CopyOutcome BWFReconstructor::process(const std::function<void(std::int64_t)>& progress) {
    CopyOutcome outcome;
    std::optional<OutputFile> output;
    // Every early end: the unfinished copy goes first, then the caller hears of it.
    auto stop = [&](CopyOutcome::Status status, std::optional<BWFError> error) {
        if (output) {
            if (auto leftover = output->discard()) status = CopyOutcome::Status::Failed, error = leftover;
        }
        if (progress) progress(0);
        outcome.status = status;
        outcome.error = std::move(error);
        return outcome;
    };
    const std::int64_t audio = plan_.audioBytes;
    try {
        if (cancelled()) return stop(CopyOutcome::Status::Cancelled, {});
        output.emplace(output_, request_.replace);
        std::int64_t at = 0;
        auto put = [&](ByteView bytes) {
            output->writeAt(at, bytes);
            at += static_cast<std::int64_t>(bytes.size());
        };
        put(fileHeader_);
        for (const Piece& piece : before_) put(piece.bytes);
        put(dataHeader_);

        BlockCopier copier(input_, output->fd(), request_.output);
        if (request_.replace) copier.releaseAsCopied(output->destination());
        const std::int64_t readFrom = stretchOffset(), unit = plan_.shareBlock;
        // The whole blocks in the middle of the stretch, counted from its start.
        const std::int64_t middleFrom = unit ? (readFrom + unit - 1) / unit * unit - readFrom : 0;
        const std::int64_t middleTo = unit ? (readFrom + audio) / unit * unit - readFrom : 0;
        const BlockCopier::Fault fault = [&](std::string_view call) {
            return hooks_.shareFault ? hooks_.shareFault(call, outcome.bytesWritten) : 0;
        };
        std::int64_t lastReported = -1;
        while (outcome.bytesWritten < audio) {
            const std::int64_t written = outcome.bytesWritten;
            const auto percent = static_cast<std::int64_t>(static_cast<double>(written) /
                                                           static_cast<double>(audio) * 100.0);
            if (percent > lastReported && progress) progress(percent);
            lastReported = std::max(lastReported, percent);
            std::int64_t length = std::min(copyBlockSize, audio - written), copied = 0;
            if (written >= middleFrom && written < middleTo && copier.sharing()) {
                // A piece cut short by a failure is finished through the buffer in the next rounds.
                const std::int64_t want = std::min(sharePieceSize, middleTo - written);
                const auto piece = copier.share(readFrom + written, at, want, fault);
                length = copied = piece.copied;
                outcome.sharedBytes += piece.shared;
            } else {
                if (written < middleFrom) length = std::min(length, middleFrom - written);
                copied = copier.copy(readFrom + written, at, length);
            }
            outcome.bytesRead += copied;
            outcome.bytesWritten += copied;
            at += copied;
            if (hooks_.afterBlock) hooks_.afterBlock(outcome.bytesWritten);
            if (cancelled()) return stop(CopyOutcome::Status::Cancelled, {});
            if (copied < length)
                return stop(CopyOutcome::Status::Failed,
                            BWFError(BWFError::Kind::Unreadable, request_.input,
                                     "the input changed while copying (" + std::to_string(outcome.bytesWritten) +
                                         " of " + std::to_string(audio) + " audio bytes copied)"));
        }
        if (audio & 1) put(Bytes(1, 0));  // RIFF's pad byte
        for (const Piece& piece : after_) {
            if (!piece.fromInput) {
                put(piece.bytes);
                continue;
            }
            for (std::uint64_t done = 0; done < piece.length;) {
                const auto block = static_cast<std::int64_t>(std::min<std::uint64_t>(copyBlockSize, piece.length - done));
                const std::int64_t copied = copier.copy(static_cast<std::int64_t>(piece.from + done), at, block);
                if (copied < block)
                    return stop(CopyOutcome::Status::Failed,
                                BWFError(BWFError::Kind::Unreadable, request_.input, "the input changed while copying"));
                done += static_cast<std::uint64_t>(copied);
                at += copied;
            }
        }
        // A file rewritten in place at the same length reads without a short read: only its times tell.
        if (input_.version() != inputVersion_)
            return stop(CopyOutcome::Status::Failed,
                        BWFError(BWFError::Kind::Unreadable, request_.input, "the input changed while copying"));
        if (stage_) {
            staged_ = output->stage();
        } else {
            // A cancel is honoured until the copy is in place, and refused from then on.
            const bool placed = output->commit([&] {
                if (hooks_.beforePlace) hooks_.beforePlace();
                int expected = kRunning;
                return !cancelled() && state_.compare_exchange_strong(expected, kPlaced);
            });
            if (!placed) return stop(CopyOutcome::Status::Cancelled, {});
        }
    } catch (const BWFError& error) {
        return stop(CopyOutcome::Status::Failed, error);
    }
    if (log_) *log_ << audio << " == " << outcome.bytesRead << " == " << outcome.bytesWritten << std::endl;
    outcome.status = CopyOutcome::Status::Completed;
    if (progress) progress(100);
    return outcome;
}

}  // namespace keeptime
