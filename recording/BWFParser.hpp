// Reads one Broadcast-WAV (RIFF or RF64) file's header into a read-only record:
// its values, its time stamp and its list of chunks. Construction does the whole
// parse; a file that cannot be used throws BWFError and yields no parser.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "riff/BWFFormat.hpp"
#include "base/Bytes.hpp"
#include "riff/ChunkWalk.hpp"
#include "io/File.hpp"
#include "riff/HeadScan.hpp"
#include "meta/TimeReference.hpp"

namespace keeptime {

// What the recorder wrote about the take in its iXML, as a person reads it.
struct TakeNotes {
    std::optional<std::string> scene, take, tape, note;
    std::vector<std::string> trackNames;  // TRACK_LIST's tracks that have a NAME, in order
};

class BWFParser {
public:
    static constexpr std::int64_t MAXSEARCH = keeptime::MAXSEARCH;

    // Reads at most MAXSEARCH bytes of the file's head once, then the chunk
    // headers after its audio, and writes "Done" to out when given one.
    explicit BWFParser(const std::filesystem::path& url, std::ostream* out = nullptr);
    explicit BWFParser(const FileHandle& file, std::ostream* out = nullptr);

    const std::filesystem::path& url() const { return url_; }
    bool rf64() const { return info_.rf64; }
    // The header bytes in front of the data chunk ID: [0, D).
    const Bytes& preData() const { return preData_; }
    std::pair<std::int64_t, std::int64_t> preDataRange() const {
        return {0, static_cast<std::int64_t>(preData_.size())};
    }
    std::int64_t audioDataLength() const { return info_.audioDataLength; }
    std::int32_t bytesPerFrame() const { return info_.bytesPerFrame; }
    std::int32_t samplesPerSecond() const { return info_.samplesPerSecond; }
    // The sample layout, when the audio is integer PCM or float that can be decoded.
    const std::optional<SampleFormat>& sampleFormat() const { return info_.sampleFormat; }
    std::int64_t samplesSinceMidnight() const { return stamp_.value; }
    TimeReferenceSource timeReferenceSource() const { return stamp_.source; }
    // From the iXML, as written: TIMECODE_RATE ("24000/1001"), TIMECODE_FLAG ("DF",
    // "NDF") and TIMESTAMP_SAMPLE_RATE, the rate the stamp counts at.
    const std::optional<std::string>& timecodeRate() const { return timecodeRate_; }
    const std::optional<std::string>& timecodeFlag() const { return timecodeFlag_; }
    const std::optional<std::string>& stampSampleRate() const { return stampSampleRate_; }
    // The timecode rate the iXML names, when it is one that can be read.
    std::optional<TimecodeRate> namedTimecodeRate() const;
    // How this recording's frames read as times: labels at the rate it names,
    // else at the one chosen, else seconds (always, when seconds are chosen).
    Clock clock(const ClockChoice& choice = {}) const;
    // SCENE, TAKE, TAPE, NOTE and the track names: each from the first iXML that has it.
    const TakeNotes& takeNotes() const { return takeNotes_; }
    const Landmarks& landmarks() const { return info_.at; }
    // The chunks before the data chunk as far as the walk could follow them.
    const ChunkWalk& head() const { return info_.walk; }
    // Where the first audio byte stands.
    std::int64_t audioOffset() const { return static_cast<std::int64_t>(info_.at.data + layout::kAudioOffset); }

    // Every chunk found, in file order: those before the audio (when their sizes
    // lead to it), the data chunk, and those after it. A chunk after the audio
    // that the file ends inside is listed as not whole.
    const std::vector<Chunk>& chunks() const { return chunks_; }
    // Why bytes after the audio are not carried into a copy, and where they start.
    const std::optional<std::string>& notCarried() const { return notCarried_; }
    std::uint64_t notCarriedOffset() const { return notCarriedOffset_; }

    // Said of a recording that was never closed, or that is shorter than its
    // header says: the audio is then what the file holds.
    const std::optional<std::string>& notice() const { return notice_; }

    // Whole frames of audio; a trailing partial frame does not count.
    std::int64_t frames() const { return info_.audioDataLength / info_.bytesPerFrame; }

private:
    void parse(const FileHandle& file, std::ostream* out);
    void readHead(const FileHandle& file);
    void fitAudioToFile(const FileHandle& file);
    void findTrailingChunks(const FileHandle& file);
    void findStamp(const FileHandle& file);
    void checkRF64Size(const FileHandle& file);
    void addNotice(const std::string& notice);

    std::filesystem::path url_;
    HeadInfo info_;
    Bytes preData_;
    Bytes head_;
    std::vector<Chunk> chunks_;
    std::optional<std::string> notCarried_;
    std::uint64_t notCarriedOffset_ = 0;
    std::optional<std::string> notice_;
    Stamp stamp_;
    std::optional<std::string> timecodeRate_, timecodeFlag_, stampSampleRate_;
    TakeNotes takeNotes_;
};

// Reads of file for the chunk walks.
inline ReadAt fileReader(const FileHandle& file) {
    return [&file](std::uint64_t offset, std::size_t count) { return file.readAt(static_cast<std::int64_t>(offset), count); };
}

// The body of an iXML chunk that is searched for the stamp: at most this much.
inline constexpr std::size_t kMaxIXMLSearch = 1'000'000;

}  // namespace keeptime
