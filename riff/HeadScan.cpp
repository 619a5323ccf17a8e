#include "riff/HeadScan.hpp"

#include <algorithm>
#include <string>
#include <tuple>

#include "base/BWFError.hpp"
#include "riff/BWFFormat.hpp"
#include "riff/ChunkWalk.hpp"

namespace keeptime {

namespace {

[[noreturn]] void malformed(const std::string& reason) {
    throw BWFError(BWFError::Kind::Malformed, reason);
}

const std::string kInHead = " in the first " + std::to_string(MAXSEARCH) + " bytes";

// The chunk walk is trusted when it reaches the data chunk; otherwise each
// landmark is the first occurrence of its ID, wherever it stands.
Landmarks locate(ByteView head, bool rf64, const ChunkWalk& walk, const std::function<std::int64_t()>& fileLength) {
    Landmarks at;
    std::optional<std::size_t> data = walk.data;
    at.walked = data.has_value();
    // Without a chunk list to follow, only a RIFF or RF64 file is searched: in any
    // other file (a text that mentions "data" and "fmt") a search finds only words.
    if (!data && !startsWith(head, layout::kRIFFId) && !rf64)
        malformed("not a WAV file: it begins with neither \"RIFF\" nor \"RF64\"");
    // A header whose sizes do not add up is searched, but the word "data" in a text
    // (an iXML note) is no chunk: only a "data" after a "fmt " chunk whose size fits
    // the file is taken. A size not recorded (0, or all ones) fits any file.
    if (!data) {
        at.fmt = find(head, layout::kFmtSearch);
        if (!at.fmt) malformed("no \"fmt \" chunk" + kInHead);
        bool seen = false;
        for (auto candidate = find(head, layout::kDataId, *at.fmt); candidate && !data;
             candidate = find(head, layout::kDataId, *candidate + 1)) {
            seen = true;
            const auto size = readLE<std::uint32_t>(head, *candidate + layout::kDataSizeOffset);
            const auto end = static_cast<std::int64_t>(*candidate + layout::kAudioOffset) + size.value_or(0);
            // A header the file ends inside is taken, to be refused as cut short.
            if (!size || *size == 0 || *size == layout::kSizeNotRecorded || end <= fileLength()) data = candidate;
        }
        if (!seen) malformed("no \"data\" chunk" + kInHead);
        if (!data)
            malformed("the chunk sizes do not lead to the audio, and no \"data\" chunk after the \"fmt \" chunk" +
                      kInHead + " has a size that fits the file");
    }
    at.data = *data;
    const ByteView preData = head.first(at.data);

    // A walked header without a format chunk has it after the audio.
    if (const Chunk* fmtChunk = walk.find(layout::kFmtChunkId); at.walked && fmtChunk) at.fmt = fmtChunk->offset;

    // A walk that reached the data chunk has seen every chunk of the pre-data.
    auto chunkBeforeData = [&](std::string_view id) -> std::optional<std::size_t> {
        if (!at.walked) return find(preData, id);
        if (const Chunk* chunk = walk.find(id)) return chunk->offset;
        return std::nullopt;
    };
    if (rf64) {
        at.ds64 = chunkBeforeData(layout::kDS64Id);
        if (!at.ds64) malformed("RF64 file without a \"ds64\" chunk before its audio");
        // A walked ds64 chunk must hold its sizes itself, not borrow the next chunk's bytes.
        const Chunk* ds64 = at.walked ? walk.find(layout::kDS64Id) : nullptr;
        if (ds64 && ds64->bodyEnd() < ds64->offset + layout::kDS64SampleCountOffset + 8)
            malformed("the \"ds64\" chunk is cut short");
    }
    at.bext = chunkBeforeData(layout::kBextId);
    // A walked bext chunk too short to hold its TimeReference holds none: the bytes
    // there belong to the next chunk.
    const Chunk* bext = at.walked ? walk.find(layout::kBextId) : nullptr;
    if (bext && bext->bodyEnd() < bext->offset + layout::kBextTimeReferenceOffset + 8) at.bext.reset();
    return at;
}

std::int64_t audioDataLength(ByteView head, const Landmarks& at, bool rf64,
                             const std::function<std::int64_t()>& fileLength, bool& toEnd) {
    if (!fits(head, at.data, layout::kAudioOffset))
        malformed("the \"data\" chunk header is cut short");
    if (rf64) {
        auto size = readLE<std::int64_t>(head.first(at.data), *at.ds64 + layout::kDS64DataSizeOffset);
        if (!size) malformed("the \"ds64\" chunk is cut short");
        if (*size < 0) malformed("the \"ds64\" chunk gives a negative audio size");
        return *size;
    }
    const auto size = *readLE<std::uint32_t>(head, at.data + layout::kDataSizeOffset);
    if (size != layout::kSizeNotRecorded) return size;
    // The writer did not record the size: the audio runs to the end of the file.
    toEnd = true;
    const std::int64_t audioStart = static_cast<std::int64_t>(at.data + layout::kAudioOffset);
    return std::max<std::int64_t>(0, fileLength() - audioStart);
}

}  // namespace

std::pair<std::int32_t, std::int32_t> readFormat(ByteView fmtChunk) {
    auto blockAlign = readLE<std::uint16_t>(fmtChunk, layout::kFmtBlockAlignOffset);
    auto sampleRate = readLE<std::int32_t>(fmtChunk, layout::kFmtSampleRateOffset);
    if (!blockAlign || !sampleRate) malformed("the \"fmt \" chunk is cut short");
    if (*blockAlign <= 0)
        malformed("the \"fmt \" chunk gives " + std::to_string(*blockAlign) +
                  " bytes per frame (block align); it must be more than 0");
    if (*sampleRate <= 0)
        malformed("the \"fmt \" chunk gives a sample rate of " + std::to_string(*sampleRate) +
                  "; it must be more than 0");
    // A cut at a block align that is not a whole frame of PCM or float lands inside a frame.
    if (const auto pcm = pcmLayout(fmtChunk); pcm && pcm->frameBytes != *blockAlign)
        malformed("the \"fmt \" chunk gives " + std::to_string(*blockAlign) + " bytes per frame (block align), but its " +
                  std::to_string(pcm->channels) + " channels of " + std::to_string(pcm->bits) + "-bit samples take " +
                  std::to_string(pcm->frameBytes));
    return {*blockAlign, *sampleRate};
}

HeadInfo scanHead(ByteView head, const std::function<std::int64_t()>& fileLength) {
    HeadInfo info;
    info.rf64 = startsWith(head, layout::kRF64Id);
    info.walk = walkChunks(head);
    if (fits(head, 0, layout::kFileHeaderSize) && (startsWith(head, layout::kRIFFId) || info.rf64) &&
        !std::equal(layout::kWaveId.begin(), layout::kWaveId.end(), head.begin() + 8))
        malformed("a RIFF file of form \"" + std::string(head.begin() + 8, head.begin() + 12) +
                  "\", not \"WAVE\": not a WAV file");
    info.at = locate(head, info.rf64, info.walk, fileLength);
    info.audioDataLength = audioDataLength(head, info.at, info.rf64, fileLength, info.audioToEnd);

    if (info.at.fmt) {
        // A walked format chunk holds its fields itself, not the next chunk's bytes.
        const Chunk* walked = info.at.walked ? info.walk.find(layout::kFmtChunkId) : nullptr;
        ByteView fmt = head.subspan(*info.at.fmt);
        if (walked) fmt = fmt.first(std::min<std::size_t>(fmt.size(), walked->bodyEnd() - walked->offset));
        std::tie(info.bytesPerFrame, info.samplesPerSecond) = readFormat(fmt);
        info.sampleFormat = sampleFormat(fmt, info.bytesPerFrame);
    }
    return info;
}

}  // namespace keeptime
