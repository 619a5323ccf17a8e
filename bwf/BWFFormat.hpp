// The Broadcast-WAV / RF64 layout that Keeptime reads and rewrites, stated once.
// Offsets of fields are counted from the first byte of the chunk ID they belong to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace keeptime {

// Bytes read from the start of a file; every landmark must lie inside them.
inline constexpr std::int64_t MAXSEARCH = 1'000'000;

namespace layout {

// File header: ID, 32-bit RIFF size, form type.
inline constexpr std::string_view kRIFFId = "RIFF";
inline constexpr std::string_view kRF64Id = "RF64";
inline constexpr std::size_t kFileIdOffset = 0;
inline constexpr std::size_t kRIFFSizeOffset = 4;
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
inline constexpr std::size_t kBextTimeReferenceOffset = kChunkHeaderSize + 338;

// A 32-bit size field holding this value says "the real size is elsewhere".
inline constexpr std::uint32_t kSizeNotRecorded = 0xFFFFFFFFu;
// The longest file whose sizes fit the 32-bit RIFF fields.
inline constexpr std::int64_t kMaxRIFFFileLength = 0xFFFFFFFFll;

// iXML tags holding the time reference as decimal text, in order of preference.
struct TagPair {
    std::string_view start;
    std::string_view end;
};
inline constexpr TagPair kTimestampSamplesSinceMidnightLo{
    "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>", "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>"};
inline constexpr TagPair kBWFTimeReferenceLow{"<BWF_TIME_REFERENCE_LOW>",
                                              "</BWF_TIME_REFERENCE_LOW>"};
inline constexpr TagPair kTimeReferenceTags[] = {kTimestampSamplesSinceMidnightLo,
                                                 kBWFTimeReferenceLow};

}  // namespace layout
}  // namespace keeptime
