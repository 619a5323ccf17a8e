// The arithmetic of a trim range, shared by the window and keeptime-cli so that
// both always choose the same frames. Points are whole frames of the audio; a
// time of day or a timecode label is worked out from them exactly, in integers,
// and typed text is turned back into the first frame at or after its time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bwf/BWFParser.hpp"
#include "bwf/TimeReference.hpp"
#include "timecode/Timecode.hpp"

namespace keeptime {

// How a recording's frames read as times.
struct FileTimes {
    std::int64_t frames = 0;        // whole frames of audio
    std::int32_t sampleRate = 1;    // frames per second
    std::int64_t stamp = 0;         // the first frame's time: samples since midnight at stampRate
    StampRate stampRate{1, 1};
    std::optional<TimecodeRate> rate;  // labels with frames; none: seconds
};

// The timecode rate the file names in its iXML, if any.
std::optional<TimecodeRate> fileTimecodeRate(const BWFParser& parser);

// The times of a parsed file. Labels use the file's own timecode rate, else
// fallback (none: seconds); seconds forces whole seconds whatever the file says.
FileTimes fileTimes(const BWFParser& parser, bool weirdTC, std::optional<TimecodeRate> fallback = {},
                    bool seconds = false);

// How a typed point is meant.
enum class Notation {
    TimeOfDay,  // "10:00:05" or "10:00:05:12": a time of day, shown modulo 24 hours
    FromStart,  // "0:05": an offset from the file's start
    FromEnd,    // "0:05": an offset back from the file's end
};

// The text a field shows for frame: a label with frames at the rate, else
// seconds, with as many decimals as it takes to name exactly this frame.
std::string pointText(Notation notation, std::int64_t frame, const FileTimes& file);
// A length of so many frames: "H:MM:SS:FF", or seconds.
std::string lengthText(std::int64_t frames, const FileTimes& file);

// The first frame at or after the time that text names, or nothing when text is
// not a time ("H:MM:SS:FF" at the rate, "H:MM:SS", "M:SS" or "S", each with an
// optional decimal fraction of a second). A time of day is the occurrence within
// the recording (the next day's for a take that crosses midnight). Not clamped.
std::optional<std::int64_t> frameFromText(Notation notation, std::string_view text, const FileTimes& file);
// An out point at or past the label of the file's end takes every frame.
std::int64_t snapEnd(std::int64_t frame, const FileTimes& file);

// The first frame of to at or after the time of day of from's frame (not clamped):
// the same sample of the day in another file of the take, from each file's own stamp.
// Stamps on either side of midnight are taken as the nearer day.
std::int64_t frameAtSameTime(std::int64_t frame, const FileTimes& from, const FileTimes& to);

// The only two limits: the in point is raised to the file's start, the out point
// lowered to its end. Neither is compared with the other.
std::int64_t clampStart(std::int64_t frame, const FileTimes& file);
std::int64_t clampEnd(std::int64_t frame, const FileTimes& file);

// The sliders step through the file in timecode frames when a rate is known,
// else in seconds, counted from its start: steps in all, and steps in a second.
struct SliderScale {
    std::int64_t steps = 0;
    std::int64_t perSecond = 1;
};
SliderScale sliderScale(const FileTimes& file);
// The step a frame lies in (the last step for the file's end), and the first frame of a step.
std::int64_t stepAtFrame(std::int64_t frame, const FileTimes& file);
std::int64_t frameAtStep(std::int64_t step, const FileTimes& file);

// The waveform ruler counts the time of day in units: timecode frames at the rate,
// else milliseconds. The unit a frame lies in, and the first frame at or after a
// unit (either may lie outside the file).
std::int64_t rulerUnitAt(std::int64_t frame, const FileTimes& file);
std::int64_t frameAtRulerUnit(std::int64_t unit, const FileTimes& file);
// Units in a second of the ruler (the nominal rate, or 1000).
std::int64_t rulerUnitsPerSecond(const FileTimes& file);
// A ruler mark's text: a timecode label, or HH:MM:SS with as many decimals as step needs.
std::string rulerLabel(std::int64_t unit, std::int64_t step, const FileTimes& file);

}  // namespace keeptime
