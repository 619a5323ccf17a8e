// Writes a trimmed copy of one Broadcast-WAV file: its header chunks with the
// sizes and the time reference rewritten, a new data chunk header, and the chosen
// whole frames copied byte for byte.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include "bwf/BWFParser.hpp"
#include "bwf/Bytes.hpp"

namespace keeptime {

// How a copy job ended. Nothing is left at the output unless it completed.
struct CopyOutcome {
    enum class Status { Completed, Cancelled, Failed };
    Status status = Status::Failed;
    std::string message;  // why it failed, naming the file concerned

    bool completed() const { return status == Status::Completed; }
};

class BWFReconstructor {
public:
    static constexpr std::int64_t copyBlockSize = 1'048'576;

    // Parses inputURL again (its own "Done" line goes to out) and plans the copy of
    // [start, end), seconds from the first audio frame. Throws BWFError when the
    // input cannot be used or the range cannot be copied; nothing is written then.
    BWFReconstructor(std::filesystem::path inputURL, std::filesystem::path outputURL, double start,
                     double end, std::ostream& out = std::cout);

    // The plan.
    const double start;
    const double end;
    const std::filesystem::path inputURL;
    const std::filesystem::path outputURL;
    const BWFParser parser;
    Bytes preData;                 // the header as it will be written
    std::int64_t audioLength = 0;  // audio bytes the copy receives
    std::int64_t fileLength = 0;   // the copy's length, pad byte included

    std::atomic<bool> halt{false};        // cancel request, tested after every block
    std::atomic<bool> processing{false};  // the job is running
    bool weirdTC = false;                 // set before process(): 48.048 kHz time code

    std::int64_t startFrame() const { return frames_.first; }
    std::int64_t frames() const { return frames_.second - frames_.first; }
    // The copy's time reference once the header is prepared (the input's before).
    std::int64_t timeReference() const { return timeReference_; }

    // Byte length of the chosen range of whole frames.
    std::int64_t computeAudioLength() const;
    void writeRIFFSize();
    void writeDS64Sizes();
    void shiftTimeReference();

    // Rewrites the header for the copy, once: time reference first, then the
    // sizes that depend on the header's final length. Throws BWFError when the
    // copy cannot be written in this form.
    void prepareHeader();

    // Runs the whole copy on the calling thread, reporting whole percents through
    // progress: 0, each new percent at a block boundary, then 100 on completion or
    // 0 after a cancel or a failure.
    CopyOutcome process(const std::function<void(std::int64_t)>& progress = {});

private:
    std::pair<std::int64_t, std::int64_t> frameRange() const;
    std::int64_t plannedFileLength() const;
    // Refuses a copy whose sizes would not fit RIFF's 32-bit fields.
    void checkFitsRIFF() const;

    std::ostream& out_;
    std::pair<std::int64_t, std::int64_t> frames_;  // [first, last) frame copied
    std::int64_t timeReference_ = 0;
    std::size_t ds64Offset_ = 0;
    bool prepared_ = false;
};

}  // namespace keeptime
