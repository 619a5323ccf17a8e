#include "meta/Markers.hpp"

#include <algorithm>

#include "riff/BWFFormat.hpp"

namespace keeptime {

namespace {

// The position a frame has in the copy, or nothing when the copy does not keep it.
std::optional<std::uint32_t> moved(std::uint32_t frame, KeptFrames kept) {
    if (frame < kept.first || frame >= kept.end) return std::nullopt;
    return static_cast<std::uint32_t>(frame - kept.first);
}

// One past the last of the records counted at countOffset, or nothing when they do not
// all fit. Bytes after them are no record and are carried as they are.
std::optional<std::size_t> recordsEnd(ByteView body, std::size_t countOffset, std::size_t from,
                                      std::size_t recordSize) {
    const auto count = readLE<std::uint32_t>(body, countOffset);
    // 64-bit arithmetic: a count near 2^32 must not wrap.
    if (!count || from > body.size() || std::uint64_t{*count} * recordSize > body.size() - from)
        return std::nullopt;
    return from + *count * recordSize;
}

void append(Bytes& out, ByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// A field of a record already known to fit.
std::uint32_t field(ByteView record, std::size_t offset) {
    return readLE<std::uint32_t>(record, offset).value();
}

}  // namespace

MarkerChunk markerChunk(std::string_view chunkId) {
    if (chunkId == layout::kCueId) return MarkerChunk::cue;
    if (chunkId == layout::kListId || chunkId == layout::kListIdLowerCase) return MarkerChunk::list;
    if (chunkId == layout::kSmplId) return MarkerChunk::smpl;
    return MarkerChunk::none;
}

std::optional<CueEdit> moveCuePoints(ByteView cueBody, KeptFrames kept) {
    using namespace layout;
    const auto end = recordsEnd(cueBody, 0, kCueCountSize, kCuePointSize);
    if (!end) return std::nullopt;
    CueEdit edit;
    append(edit.body, cueBody.first(kCueCountSize));
    std::vector<std::uint32_t> keptIds;
    for (std::size_t at = kCueCountSize; at < *end; at += kCuePointSize) {
        const ByteView point = cueBody.subspan(at, kCuePointSize);
        const std::uint32_t id = field(point, kCuePointIdOffset);
        const std::size_t to = edit.body.size();
        if (startsWith(point.subspan(kCueChunkIdOffset), kDataId)) {
            const std::uint32_t offset = field(point, kCueSampleOffsetOffset);
            const auto now = moved(offset, kept);
            if (!now) {
                edit.removed.push_back(id);
                continue;
            }
            append(edit.body, point);
            writeLE(edit.body, to + kCueSampleOffsetOffset, *now);
            // Only a play position that names the same frame moves; a left 0 stays 0.
            if (field(point, kCuePositionOffset) == offset) writeLE(edit.body, to + kCuePositionOffset, *now);
        } else {
            append(edit.body, point);
        }
        keptIds.push_back(id);
    }
    append(edit.body, cueBody.subspan(*end));
    writeLE(edit.body, 0, static_cast<std::uint32_t>(keptIds.size()));
    // Labels of an ID that a kept point still carries are still needed.
    std::erase_if(edit.removed, [&](std::uint32_t id) { return std::ranges::count(keptIds, id) > 0; });
    edit.changed = !std::ranges::equal(cueBody, edit.body);
    return edit;
}

std::optional<BodyEdit> dropLabels(ByteView listBody, std::span<const std::uint32_t> removedIds) {
    using namespace layout;
    if (listBody.size() < kListFormSize) return std::nullopt;
    BodyEdit edit;
    if (!startsWith(listBody, kAdtlForm)) {
        append(edit.body, listBody);
        return edit;
    }
    append(edit.body, listBody.first(kListFormSize));
    for (std::size_t at = kListFormSize; at < listBody.size();) {
        const auto size = readLE<std::uint32_t>(listBody, at + kChunkSizeOffset);
        if (!size || *size > listBody.size() - at - kChunkHeaderSize) return std::nullopt;
        // The pad byte goes with its sub-chunk; the last one may lack it.
        const std::size_t next = std::min(at + kChunkHeaderSize + *size + (*size & 1u), listBody.size());
        const auto id = readLE<std::uint32_t>(listBody.subspan(at + kChunkHeaderSize, *size), 0);
        if (!id || std::ranges::count(removedIds, *id) == 0)
            append(edit.body, listBody.subspan(at, next - at));
        at = next;
    }
    edit.changed = !std::ranges::equal(listBody, edit.body);
    return edit;
}

std::optional<BodyEdit> cutRegions(ByteView listBody, const std::map<std::uint32_t, std::uint32_t>& room) {
    using namespace layout;
    if (listBody.size() < kListFormSize) return std::nullopt;
    BodyEdit edit{Bytes(listBody.begin(), listBody.end()), false};
    if (!startsWith(listBody, kAdtlForm)) return edit;
    for (std::size_t at = kListFormSize; at < listBody.size();) {
        const auto size = readLE<std::uint32_t>(listBody, at + kChunkSizeOffset);
        if (!size || *size > listBody.size() - at - kChunkHeaderSize) return std::nullopt;
        const std::size_t body = at + kChunkHeaderSize;
        const auto id = readLE<std::uint32_t>(listBody, body);
        const auto length = readLE<std::uint32_t>(listBody, body + 4);
        if (startsWith(listBody.subspan(at), "ltxt") && *size >= 8 && id && length)
            if (const auto it = room.find(*id); it != room.end() && *length > it->second)
                writeLE(edit.body, body + 4, it->second), edit.changed = true;
        at = std::min(body + *size + (*size & 1u), listBody.size());
    }
    return edit;
}

std::optional<BodyEdit> moveLoops(ByteView smplBody, KeptFrames kept) {
    using namespace layout;
    const auto end = recordsEnd(smplBody, kSmplLoopCountOffset, kSmplHeaderSize, kSmplLoopSize);
    if (!end) return std::nullopt;
    BodyEdit edit;
    append(edit.body, smplBody.first(kSmplHeaderSize));
    std::uint32_t count = 0;
    for (std::size_t at = kSmplHeaderSize; at < *end; at += kSmplLoopSize) {
        const ByteView loop = smplBody.subspan(at, kSmplLoopSize);
        // Both ends inside: a loop cut short would play something else.
        const auto start = moved(field(loop, kSmplLoopStartOffset), kept);
        const auto last = moved(field(loop, kSmplLoopEndOffset), kept);
        if (!start || !last) continue;
        const std::size_t to = edit.body.size();
        append(edit.body, loop);
        writeLE(edit.body, to + kSmplLoopStartOffset, *start);
        writeLE(edit.body, to + kSmplLoopEndOffset, *last);
        ++count;
    }
    append(edit.body, smplBody.subspan(*end));
    writeLE(edit.body, kSmplLoopCountOffset, count);
    edit.changed = !std::ranges::equal(smplBody, edit.body);
    return edit;
}

std::vector<Marker> readMarkers(ByteView cueBody, std::span<const ByteView> listBodies) {
    using namespace layout;
    std::vector<Marker> markers;
    const auto end = recordsEnd(cueBody, 0, kCueCountSize, kCuePointSize);
    if (!end) return markers;
    for (std::size_t at = kCueCountSize; at < *end; at += kCuePointSize) {
        const ByteView point = cueBody.subspan(at, kCuePointSize);
        if (startsWith(point.subspan(kCueChunkIdOffset), kDataId))
            markers.push_back({field(point, kCuePointIdOffset), field(point, kCueSampleOffsetOffset), 0, {}});
    }
    // labl: ID and text; ltxt: ID, length in frames, purpose, country, language, dialect, code page, text.
    // By ID, so that many labels for many points cost no more than sorting them.
    constexpr std::size_t kLtxtLengthOffset = 4;
    std::stable_sort(markers.begin(), markers.end(), [](const Marker& a, const Marker& b) { return a.id < b.id; });
    for (ByteView list : listBodies) {
        if (list.size() < kListFormSize || !startsWith(list, kAdtlForm)) continue;
        for (std::size_t at = kListFormSize; at + kChunkHeaderSize <= list.size();) {
            const auto size = readLE<std::uint32_t>(list, at + kChunkSizeOffset);
            if (!size || *size > list.size() - at - kChunkHeaderSize) break;
            const ByteView body = list.subspan(at + kChunkHeaderSize, *size);
            const std::string_view id(reinterpret_cast<const char*>(list.data() + at), 4);
            at += kChunkHeaderSize + *size + (*size & 1u);
            const auto cue = readLE<std::uint32_t>(body, 0);
            if (!cue) continue;
            auto marker = std::lower_bound(markers.begin(), markers.end(), *cue,
                                           [](const Marker& m, std::uint32_t wanted) { return m.id < wanted; });
            for (; marker != markers.end() && marker->id == *cue; ++marker) {
                if (id == "labl") {
                    const ByteView text = body.subspan(4);
                    const auto nul = std::ranges::find(text, std::uint8_t{0});
                    marker->label.assign(text.begin(), nul);
                } else if (id == "ltxt") {
                    if (const auto length = readLE<std::uint32_t>(body, kLtxtLengthOffset)) marker->length = *length;
                }
            }
        }
    }
    std::stable_sort(markers.begin(), markers.end(), [](const Marker& a, const Marker& b) { return a.frame < b.frame; });
    return markers;
}

}  // namespace keeptime
