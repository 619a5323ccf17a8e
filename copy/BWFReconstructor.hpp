// Writes a trimmed copy of one Broadcast-WAV file from its list of chunks: the
// chunks before the audio, a new data chunk header, the chosen whole frames
// byte for byte, RIFF's pad byte, and every whole chunk that stood after the
// audio. Chunks holding the time stamp or markers are rewritten; every other
// chunk is carried as it was. The RIFF and ds64 sizes are computed last, from
// what is written. Where the file system can share blocks between files, the
// copy's audio is lined up with the input's and its whole blocks are shared.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/BWFError.hpp"
#include "recording/BWFParser.hpp"
#include "base/Bytes.hpp"
#include "io/File.hpp"
#include "meta/TimeReference.hpp"

namespace keeptime {

// One copy to make: frames [startFrame, endFrame) of the input's audio.
struct CopyRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    std::int64_t startFrame = 0;
    std::int64_t endFrame = 0;
    ClockChoice times{};   // weird-TC, and the timecode rate whose midnight the copy's stamp wraps at
    bool replace = false;  // an existing file at output may be replaced
    bool share = true;     // the copy may share the input's blocks where the file system allows
};

// Points where tests make faults happen: after each block of audio is written,
// and after the copy is flushed, just before it is put in place (for a copy a
// save puts in place with others, just before the save puts it in place).
struct CopyHooks {
    std::function<void(std::int64_t bytesWritten)> afterBlock;
    std::function<void()> beforePlace;
    // Before each system call that would share the audio's blocks ("FICLONERANGE",
    // "copy_file_range"), with the audio bytes written so far: a nonzero errno
    // value makes that call fail as if the system had said so.
    std::function<int(std::string_view call, std::int64_t bytesWritten)> shareFault;
};

// What the copy will hold.
struct CopyPlan {
    std::int64_t startFrame = 0;
    std::int64_t frames = 0;
    std::int64_t audioBytes = 0;
    std::int64_t fileBytes = 0;  // the copy's length, pad bytes included
    TimeReferenceSource stampSource = TimeReferenceSource::None;
    std::optional<std::int64_t> stampBefore;  // none when the input has no time reference
    std::optional<std::int64_t> stampAfter;   // read from the header bytes the copy writes
    std::vector<std::string> chunks;          // the IDs the copy holds, in order ("data" among them)
    std::int64_t shareBlock = 0;  // the copy's audio agrees with the input's within blocks this size; 0: not shared
};

// How a copy job ended. Nothing is left at the output unless it completed.
struct CopyOutcome {
    enum class Status { Completed, Cancelled, Failed };
    Status status = Status::Failed;
    std::optional<BWFError> error;  // why it failed, naming the file concerned
    std::int64_t bytesRead = 0;     // audio bytes
    std::int64_t bytesWritten = 0;
    std::int64_t sharedBytes = 0;   // of them, bytes that are the input's own blocks

    bool completed() const { return status == Status::Completed; }
    std::string message() const { return error ? error->what() : std::string(); }
};

class BWFReconstructor {
public:
    static constexpr std::int64_t copyBlockSize = 1'048'576;
    // Sharing a block costs no data transfer: larger pieces keep the system calls
    // few, yet progress and cancel still come many times a second.
    static constexpr std::int64_t sharePieceSize = 64 * copyBlockSize;

    // Opens the input once, parses it (its "Done" line goes to log, when given)
    // and plans the whole copy. Throws BWFError when the input cannot be used or
    // the range cannot be copied; nothing is written then.
    explicit BWFReconstructor(CopyRequest request, std::ostream* log = nullptr);
    ~BWFReconstructor();
    BWFReconstructor(const BWFReconstructor&) = delete;
    BWFReconstructor& operator=(const BWFReconstructor&) = delete;

    const CopyRequest& request() const { return request_; }
    const CopyPlan& plan() const { return plan_; }
    const BWFParser& parser() const { return parser_; }

    // Asks a running (or not yet started) copy to stop after the block it is
    // writing. False when it is too late: the copy is already in place.
    bool cancel();
    bool cancelled() const { return state_ == kCancelled || (stopFlag_ && stopFlag_->load()); }
    // A flag that stops the copy as cancel() does once it is set: a save's, which
    // a signal handler may set while the save's copies come and go.
    void stopWith(const std::atomic<bool>& flag) { stopFlag_ = &flag; }
    void setHooks(CopyHooks hooks) { hooks_ = std::move(hooks); }
    // For a copy that a save puts in place with others: process() leaves the
    // finished copy, flushed, under a hidden name beside its destination
    // (staged()) instead of putting it in place. The caller then owns that file.
    void stageOnly() { stage_ = true; }
    const std::filesystem::path& staged() const { return staged_; }
    // Where the copy is put: the output, or the file its symbolic link names.
    const std::filesystem::path& destination() const { return output_; }

    // Runs the whole copy on the calling thread, reading the input through the
    // descriptor it was planned from, and reporting whole percents through
    // progress: 0, each new percent at a block boundary, then 100 on completion or
    // 0 after a cancel or a failure. On completion the line "N == N == N" (audio
    // bytes planned, read and written) goes to log.
    CopyOutcome process(const std::function<void(std::int64_t)>& progress = {});

    // One chunk, or the raw rest of a header whose sizes do not add up, as the copy writes it.
    struct Piece {
        std::string id;             // "" for raw header bytes
        Bytes bytes;                // header, body and pad byte, held in memory
        bool fromInput = false;     // or copied unchanged from the input:
        std::uint64_t from = 0;     //   at this offset,
        std::uint64_t length = 0;   //   this many bytes
        std::uint64_t size() const { return fromInput ? length : bytes.size(); }
    };

private:
    void planHeader(const StampMove& stamp);
    void planTrailing(const StampMove& stamp);
    void planSharing();
    void finishSizes();
    std::uint64_t copyLength() const;
    std::int64_t stretchOffset() const;  // of the first audio byte copied, in the input

    enum : int { kRunning, kCancelled, kPlaced };

    CopyRequest request_;
    std::filesystem::path output_;  // where the copy goes: the output, or the file its link names
    std::ostream* log_;
    FileHandle input_;
    FileHandle::Version inputVersion_;  // as it was opened: a copy of a file rewritten meanwhile is refused
    BWFParser parser_;
    Bytes fileHeader_;            // "RIFF"/"RF64", size, "WAVE"
    std::vector<Piece> before_;   // in front of the data chunk
    Bytes dataHeader_;
    std::vector<Piece> after_;    // behind the audio
    std::vector<std::uint32_t> removedCues_;
    std::map<std::uint32_t, std::uint32_t> regionRoom_;  // kept cue ID -> frames from it to the copy's end
    CopyPlan plan_;
    std::atomic<int> state_{kRunning};
    CopyHooks hooks_;
    const std::atomic<bool>* stopFlag_ = nullptr;
    bool stage_ = false;
    std::filesystem::path staged_;
};

}  // namespace keeptime
