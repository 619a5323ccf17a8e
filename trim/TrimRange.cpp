#include "trim/TrimRange.hpp"

#include <cmath>

#include "bwf/BWFError.hpp"
#include "bwf/TimeReference.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {

FileTimes fileTimes(const BWFParser& parser, bool weirdTC) {
    FileTimes file;
    file.fileEnd = static_cast<double>(parser.frames()) / static_cast<double>(parser.samplesPerSecond());
    file.timecodeStart = static_cast<double>(parser.samplesSinceMidnight()) /
                         timeReferenceRate(parser.samplesPerSecond(), weirdTC);
    file.frames = parser.frames();
    file.sampleRate = parser.samplesPerSecond();
    return file;
}

std::pair<std::int64_t, std::int64_t> frameRange(double start, double end, const FileTimes& file,
                                                 const std::filesystem::path& path) {
    auto refuse = [&](const std::string& reason) { throw BWFError(BWFError::Kind::BadRange, path, reason); };
    if (!std::isfinite(start) || !std::isfinite(end)) refuse("the in or out point is not a number");
    auto startFrame = secondsToSamples(start, file.sampleRate);
    auto endFrame = secondsToSamples(end, file.sampleRate);
    if (!startFrame || !endFrame) refuse("the in or out point is out of range");
    if (start < 0) refuse("the in point lies before the start of the audio");
    if (start > end)
        refuse("the in point " + TimeString::durationString(start) + " lies after the out point " +
               TimeString::durationString(end));
    const std::int64_t fileSeconds = file.frames / file.sampleRate;
    if (static_cast<std::int64_t>(end) >= fileSeconds || *endFrame > file.frames) endFrame = file.frames;
    if (*startFrame > *endFrame)
        refuse("the in point " + TimeString::durationString(start) + " lies after the end of the audio");
    return {*startFrame, *endFrame};
}

std::optional<double> pointFromText(Notation notation, std::string_view text, const FileTimes& file) {
    auto seconds = TimeString::parseSeconds(text);
    if (!seconds) return std::nullopt;
    switch (notation) {
        case Notation::TimeOfDay:
            return *seconds - file.timecodeStart;
        case Notation::FromStart:
            return *seconds;
        case Notation::FromEnd:
            return file.fileEnd - *seconds;
    }
    return std::nullopt;
}

double clampStart(double newStart, const FileTimes& file) {
    return newStart < file.fileStart ? file.fileStart : newStart;
}

double clampEnd(double newEnd, const FileTimes& file) {
    return newEnd > file.fileEnd ? file.fileEnd : newEnd;
}

double startFromSlider(double value, const FileTimes& file) {
    return ((100.0 - value) * file.fileEnd) / 100.0;
}

double endFromSlider(double value, const FileTimes& file) { return (value * file.fileEnd) / 100.0; }

// An empty file has no proportions: both handles stand at its one point.
double startSliderValue(double newStart, const FileTimes& file) {
    return file.fileEnd > 0 ? (1.0 - newStart / file.fileEnd) * 100.0 : 100.0;
}

double endSliderValue(double newEnd, const FileTimes& file) {
    return file.fileEnd > 0 ? (newEnd / file.fileEnd) * 100.0 : 100.0;
}

}  // namespace keeptime
