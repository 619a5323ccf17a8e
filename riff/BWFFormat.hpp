// The Broadcast-WAV / RF64 layout that Keeptime reads and rewrites, stated once.
// Offsets of fields are counted from the first byte of the chunk ID they belong to,
// except in the marker chunks, which are edited as bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace keeptime {

// Bytes read from the start of a file; every landmark must lie inside them.
inline constexpr std::int64_t MAXSEARCH = 1'000'000;
// A header whose chunks run past the first MAXSEARCH bytes is followed this far.
inline constexpr std::uint64_t kMaxHeader = 16u << 20;

namespace layout {

// File header: ID, 32-bit RIFF size, form type.
inline constexpr std::string_view kRIFFId = "RIFF";
inline constexpr std::string_view kRF64Id = "RF64";
inline constexpr std::size_t kFileIdOffset = 0;
inline constexpr std::size_t kRIFFSizeOffset = 4;
inline constexpr std::string_view kWaveId = "WAVE";
inline constexpr std::size_t kFormTypeOffset = 8;
inline constexpr std::size_t kFileHeaderSize = 12;

// Every chunk: 4-byte ID, 32-bit body size, body, one pad byte when the size is odd.
inline constexpr std::size_t kChunkIdSize = 4;
inline constexpr std::size_t kChunkSizeOffset = 4;
inline constexpr std::size_t kChunkHeaderSize = 8;

// "fmt " chunk. The byte search matches only the three letters.
inline constexpr std::string_view kFmtChunkId = "fmt ";
inline constexpr std::string_view kFmtSearch = "fmt";
inline constexpr std::size_t kFmtSampleRateOffset = 12;  // signed 32-bit
inline constexpr std::size_t kFmtBlockAlignOffset = 20;  // signed 16-bit

// "ds64" chunk of RF64 files: 64-bit sizes that do not fit the 32-bit fields.
inline constexpr std::string_view kDS64Id = "ds64";
inline constexpr std::size_t kDS64RIFFSizeOffset = 8;
inline constexpr std::size_t kDS64DataSizeOffset = 16;
inline constexpr std::size_t kDS64SampleCountOffset = 24;

// "data" chunk: the audio starts right after its header.
inline constexpr std::string_view kDataId = "data";
inline constexpr std::size_t kDataSizeOffset = 4;
inline constexpr std::size_t kAudioOffset = 8;

// "bext" chunk: 64-bit TimeReference at body offset 338.
inline constexpr std::string_view kBextId = "bext";
inline constexpr std::size_t kBextBodyTimeReferenceOffset = 338;
inline constexpr std::size_t kBextTimeReferenceOffset = kChunkHeaderSize + kBextBodyTimeReferenceOffset;

// Marker chunks are edited as bodies (without the chunk header): their offsets count
// from the first byte of the body, or of the point or loop they belong to.

// "cue " chunk: 32-bit count, then 24-byte points.
inline constexpr std::string_view kCueId = "cue ";
inline constexpr std::size_t kCueCountSize = 4;
inline constexpr std::size_t kCuePointSize = 24;
inline constexpr std::size_t kCuePointIdOffset = 0;
inline constexpr std::size_t kCuePositionOffset = 4;      // play order; many writers leave it 0
inline constexpr std::size_t kCueChunkIdOffset = 8;       // "data" for points in the audio
inline constexpr std::size_t kCueSampleOffsetOffset = 20; // frame inside the data chunk

// "LIST" chunk (some writers spell it "list"): 4-byte form type, then sub-chunks.
// In form "adtl" every sub-chunk body starts with the ID of the cue point it describes.
inline constexpr std::string_view kListId = "LIST";
inline constexpr std::string_view kListIdLowerCase = "list";
inline constexpr std::string_view kAdtlForm = "adtl";
inline constexpr std::size_t kListFormSize = 4;

// "smpl" chunk: 36-byte header, then 24-byte loops, then sampler data.
inline constexpr std::string_view kSmplId = "smpl";
inline constexpr std::size_t kSmplLoopCountOffset = 28;
inline constexpr std::size_t kSmplHeaderSize = 36;
inline constexpr std::size_t kSmplLoopSize = 24;
inline constexpr std::size_t kSmplLoopStartOffset = 8;
inline constexpr std::size_t kSmplLoopEndOffset = 12;  // the loop's last frame, not one past it

// Filler chunks: their bodies mean nothing, so a copy may resize one right before
// the data chunk (or add a "JUNK" chunk there) to line its audio up with the input's.
inline constexpr std::string_view kJunkId = "JUNK";
inline constexpr std::string_view kFillerIds[] = {kJunkId, "PAD ", "FLLR"};

// A 32-bit size field holding this value says "the real size is elsewhere".
inline constexpr std::uint32_t kSizeNotRecorded = 0xFFFFFFFFu;
// The longest file whose sizes fit the 32-bit RIFF fields.
inline constexpr std::int64_t kMaxRIFFFileLength = 0xFFFFFFFFll;

// iXML tags holding the time reference as decimal text, in order of preference.
// The HI tag holds the upper 32 bits of the same 64-bit count as its LO tag.
struct TagPair {
    std::string_view start;
    std::string_view end;
};
struct StampTags {
    TagPair low;
    TagPair high;
};
inline constexpr StampTags kTimestampSamplesSinceMidnight{
    {"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>", "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>"},
    {"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>", "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"}};
inline constexpr StampTags kBWFTimeReference{
    {"<BWF_TIME_REFERENCE_LOW>", "</BWF_TIME_REFERENCE_LOW>"},
    {"<BWF_TIME_REFERENCE_HIGH>", "</BWF_TIME_REFERENCE_HIGH>"}};
inline constexpr StampTags kStampTags[] = {kTimestampSamplesSinceMidnight, kBWFTimeReference};

// The iXML chunk: XML text that carries the stamp's tag pairs.
inline constexpr std::string_view kIXMLId = "iXML";

}  // namespace layout
}  // namespace keeptime
