#include "trim/TrimRange.hpp"

#include "bwf/TimeReference.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {

FileTimes fileTimes(const BWFParser& parser, bool weirdTC) {
    FileTimes file;
    file.fileEnd = static_cast<double>(parser.frames()) / static_cast<double>(parser.samplesPerSecond());
    file.timecodeStart = static_cast<double>(parser.samplesSinceMidnight()) /
                         timeReferenceRate(parser.samplesPerSecond(), weirdTC);
    return file;
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
