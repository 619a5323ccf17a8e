#include "bwf/BWFReconstructor.hpp"

#include <sys/stat.h>

#include <cmath>

#include "bwf/BWFError.hpp"
#include "bwf/BWFFormat.hpp"
#include "bwf/BlockCopier.hpp"
#include "bwf/OutputFile.hpp"
#include "bwf/TimeReference.hpp"
#include "bwf/TimeReferenceRewrite.hpp"
#include "timecode/Decimal.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {

namespace {

[[noreturn]] void refuse(const std::filesystem::path& path, const std::string& reason) {
    throw BWFError(BWFError::Kind::BadRange, path, reason);
}

// Whether two paths name the same file, also through links.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

BWFReconstructor::BWFReconstructor(std::filesystem::path input, std::filesystem::path output,
                                   double startSeconds, double endSeconds, std::ostream& out)
    : start(startSeconds),
      end(endSeconds),
      inputURL(std::move(input)),
      outputURL(std::move(output)),
      parser(inputURL, out),
      preData(parser.preData()),
      out_(out) {
    if (sameFile(inputURL, outputURL))
        throw BWFError(BWFError::Kind::Output, outputURL,
                       "is the input file; the copy needs another name");
    std::error_code ignored;
    if (std::filesystem::is_directory(outputURL, ignored))
        throw BWFError(BWFError::Kind::Output, outputURL, "is a folder; the copy needs a file name");
    frames_ = frameRange();
    audioLength = computeAudioLength();
    fileLength = plannedFileLength();
    timeReference_ = parser.samplesSinceMidnight();
    if (!parser.rf64()) checkFitsRIFF();
}

std::pair<std::int64_t, std::int64_t> BWFReconstructor::frameRange() const {
    const double rate = parser.samplesPerSecond();
    if (!std::isfinite(start) || !std::isfinite(end))
        refuse(inputURL, "the in or out point is not a number");
    auto startFrame = secondsToSamples(start, rate);
    auto endFrame = secondsToSamples(end, rate);
    if (!startFrame || !endFrame) refuse(inputURL, "the in or out point is out of range");
    if (start < 0) refuse(inputURL, "the in point lies before the start of the audio");
    if (start > end)
        refuse(inputURL, "the in point " + TimeString::durationString(start) +
                             " lies after the out point " + TimeString::durationString(end));
    const std::int64_t totalFrames = parser.frames();
    const std::int64_t fileSeconds = totalFrames / parser.samplesPerSecond();
    // An out point in the last whole second, or past the end, takes every frame
    // to the end, whatever the float error of the length it was computed from.
    if (static_cast<std::int64_t>(end) >= fileSeconds || *endFrame > totalFrames)
        endFrame = totalFrames;
    if (*startFrame > *endFrame)
        refuse(inputURL, "the in point " + TimeString::durationString(start) +
                             " lies after the end of the audio");
    return {*startFrame, *endFrame};
}

std::int64_t BWFReconstructor::computeAudioLength() const {
    return (frames_.second - frames_.first) * parser.bytesPerFrame();
}

std::int64_t BWFReconstructor::plannedFileLength() const {
    // Header, data chunk header, audio, and RIFF's pad byte after an odd-sized body.
    return static_cast<std::int64_t>(preData.size()) + static_cast<std::int64_t>(layout::kAudioOffset) +
           audioLength + (audioLength & 1);
}

void BWFReconstructor::checkFitsRIFF() const {
    if (fileLength > layout::kMaxRIFFFileLength)
        refuse(inputURL, "the copy would be " + std::to_string(fileLength) +
                             " bytes, more than a RIFF file can hold (4294967295); choose a shorter range");
}

void BWFReconstructor::writeRIFFSize() {
    checkFitsRIFF();
    writeLE<std::uint32_t>(preData, layout::kRIFFSizeOffset,
                           static_cast<std::uint32_t>(fileLength - 8));
}

void BWFReconstructor::writeDS64Sizes() {
    const std::size_t s = ds64Offset_;
    if (!fits(preData, s, layout::kDS64SampleCountOffset + 8))
        refuse(inputURL, "the \"ds64\" chunk is cut short");
    writeLE<std::int64_t>(preData, s + layout::kDS64RIFFSizeOffset, fileLength - 8);
    writeLE<std::int64_t>(preData, s + layout::kDS64DataSizeOffset, audioLength);
    writeLE<std::int64_t>(preData, s + layout::kDS64SampleCountOffset,
                          audioLength / parser.bytesPerFrame());
    if (fileLength <= layout::kMaxRIFFFileLength) {
        // Small enough for plain RIFF; the ds64 chunk stays, with true values.
        std::copy(layout::kRIFFId.begin(), layout::kRIFFId.end(), preData.begin());
        writeRIFFSize();
    }
}

void BWFReconstructor::shiftTimeReference() {
    ds64Offset_ = parser.landmarks().ds64.value_or(0);
    if (parser.timeReferenceSource() == TimeReferenceSource::None) return;
    const std::int64_t old = parser.samplesSinceMidnight();
    auto shift = secondsToSamples(start, timeReferenceRate(parser.samplesPerSecond(), weirdTC));
    std::int64_t moved = 0;
    if (!shift || __builtin_add_overflow(old, *shift, &moved))
        refuse(inputURL, "the time reference cannot be moved that far");
    const HeaderEdits edits = rewriteTimeReference(preData, parser.landmarks().bext, old, moved);
    ds64Offset_ = edits.moved(ds64Offset_);
    timeReference_ = moved;
    fileLength = plannedFileLength();
}

void BWFReconstructor::prepareHeader() {
    if (prepared_) return;
    shiftTimeReference();
    if (parser.rf64())
        writeDS64Sizes();
    else
        writeRIFFSize();
    prepared_ = true;
}

CopyOutcome BWFReconstructor::process(const std::function<void(std::int64_t)>& progress) {
    halt = false;
    processing = true;
    std::optional<OutputFile> output;
    // Every early end: the unfinished copy goes first, then the window hears of it.
    auto stop = [&](CopyOutcome::Status status, std::string message) {
        if (output) output->discard();
        processing = false;
        if (progress) progress(0);
        return CopyOutcome{status, std::move(message)};
    };

    std::int64_t bytesRead = 0;
    std::int64_t bytesWritten = 0;
    try {
        prepareHeader();
        Bytes dataHeader(layout::kDataId.begin(), layout::kDataId.end());
        dataHeader.resize(layout::kAudioOffset);
        writeLE<std::uint32_t>(dataHeader, layout::kDataSizeOffset,
                               static_cast<std::uint32_t>(std::min<std::int64_t>(
                                   audioLength, layout::kSizeNotRecorded)));
        // The input's own layout: its audio starts 8 bytes after its data chunk ID.
        const std::int64_t startBytes = frames_.first * parser.bytesPerFrame();
        const std::int64_t readFrom = static_cast<std::int64_t>(parser.preData().size()) +
                                      static_cast<std::int64_t>(layout::kAudioOffset) + startBytes;

        const FileHandle input = FileHandle::openForReading(inputURL);
        output.emplace(outputURL);
        output->writeAt(0, preData);
        output->writeAt(static_cast<std::int64_t>(preData.size()), dataHeader);
        const auto writeFrom = static_cast<std::int64_t>(preData.size() + dataHeader.size());

        BlockCopier copier(input.fd(), output->fd());
        std::int64_t blockSize = copyBlockSize;
        std::int64_t lastReported = -1;
        while (bytesWritten < audioLength) {
            const auto percent = static_cast<std::int64_t>(static_cast<double>(bytesWritten) /
                                                           static_cast<double>(audioLength) * 100.0);
            if (percent > lastReported && progress) progress(percent);
            lastReported = std::max(lastReported, percent);
            blockSize = std::min(blockSize, audioLength - bytesWritten);
            const std::int64_t copied =
                copier.copy(readFrom + bytesWritten, writeFrom + bytesWritten, blockSize);
            bytesRead += copied;
            bytesWritten += copied;
            if (halt) return stop(CopyOutcome::Status::Cancelled, {});
            if (copied < blockSize)
                return stop(CopyOutcome::Status::Failed,
                            inputURL.string() + ": the file ends before its audio does (" +
                                std::to_string(bytesWritten) + " of " +
                                std::to_string(audioLength) + " audio bytes copied)");
        }
        if (audioLength & 1) output->writeAt(writeFrom + audioLength, Bytes(1, 0));  // RIFF's pad byte
        output->commit();
    } catch (const BWFError& error) {
        return stop(CopyOutcome::Status::Failed, error.what());
    } catch (const CopyError& error) {
        const bool reading = error.side == CopyError::Side::Reading;
        return stop(CopyOutcome::Status::Failed,
                    (reading ? inputURL.string() + ": cannot read the audio: "
                             : outputURL.string() + ": cannot write the copy: ") +
                        error.code.message());
    }

    out_ << audioLength << " == " << bytesRead << " == " << bytesWritten << std::endl;
    processing = false;
    if (progress) progress(100);
    return {CopyOutcome::Status::Completed, {}};
}

}  // namespace keeptime
