// The arithmetic of a trim range, shared by the window and keeptime-cli so that
// both always choose the same frames: the file's times, the three notations for
// a point, the two clamps and the slider positions. Seconds count from the
// file's first audio frame; the time of day is added only for display.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "bwf/BWFParser.hpp"

namespace keeptime {

struct FileTimes {
    double fileStart = 0.0;      // always the first frame
    double fileEnd = 0.0;        // length in seconds: whole frames ÷ sample rate
    double timecodeStart = 0.0;  // time of day of the first frame, seconds since midnight
    std::int64_t frames = 0;     // whole frames of audio
    std::int32_t sampleRate = 1;
};

FileTimes fileTimes(const BWFParser& parser, bool weirdTC);

// How a typed point is meant.
enum class Notation {
    TimeOfDay,  // "10:00:05": a time of day, not reduced modulo 24 hours
    FromStart,  // "0:05": an offset from the file's start
    FromEnd,    // "0:05": an offset back from the file's end
};

// The point that text names, or nothing when it cannot be read.
std::optional<double> pointFromText(Notation notation, std::string_view text, const FileTimes& file);

// The only two limits: the in point is raised to the file's start, the out point
// lowered to its end. Neither is compared with the other.
double clampStart(double newStart, const FileTimes& file);
double clampEnd(double newEnd, const FileTimes& file);

// The frames [first, end) that the points choose, seconds from the first frame.
// An out point in the last whole second, or past the end, takes every frame to
// the end, whatever the float error of the length it was computed from. Throws
// BWFError (naming file) for points that choose no frames of the audio.
std::pair<std::int64_t, std::int64_t> frameRange(double start, double end, const FileTimes& file,
                                                 const std::filesystem::path& path);

// Sliders run 0 to 100 percent of the file; the start slider runs backwards
// (100 at the file's start).
double startFromSlider(double value, const FileTimes& file);
double endFromSlider(double value, const FileTimes& file);
double startSliderValue(double newStart, const FileTimes& file);
double endSliderValue(double newEnd, const FileTimes& file);

}  // namespace keeptime
