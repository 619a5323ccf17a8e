// The time language of one recording: how its frames read as times of day,
// offsets and lengths, and how typed text turns back into frames. With a
// timecode rate every time is a label at that rate (HH:MM:SS means HH:MM:SS:00,
// offsets count labels), so that what a person reads is what they can type;
// without one, times are clock seconds with fractions. All of it is integer
// arithmetic: no float decides a position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "timecode/Timecode.hpp"

namespace keeptime {

// The rate R the stamp counts at, samples per second as a fraction.
struct StampRate {
    std::int64_t num = 0;
    std::int64_t den = 1;
};

// What the user chose about times, for every file they open: weird-TC mode (the
// stamp counts 0.1 % fast), the timecode rate for files that name none, and
// whole seconds whatever the file says.
struct ClockChoice {
    bool weirdTC = false;
    std::optional<TimecodeRate> rate{};
    bool seconds = false;
};

// How a point is written.
enum class Notation {
    TimeOfDay,  // "10:00:05:12": the label of the day, wrapping at the label day's midnight
    FromStart,  // "0:00:05:00": labels (or seconds) from the recording's first frame
    FromEnd,    // "0:00:05:00": labels (or seconds) back from its end
};

// A typed text read as a point: its frame, or why it was refused, in words for the user.
struct Reading {
    std::optional<std::int64_t> frame;
    std::string refusal;
};

// How a copy's stamp fields move: by shift samples, a value that passes the day
// wrapping to its own midnight. The day is a fraction of samples (the label day
// at 29.97 drop-frame is no whole number of them); a wrapped value is rounded up.
struct StampMove {
    std::int64_t shift = 0;
    // The day in samples, dayNum / dayDen; dayNum 0: never wraps.
    std::int64_t dayNum = 0;
    std::int64_t dayDen = 1;
    // old + shift, wrapped; nothing when it passes 64 bits.
    std::optional<std::int64_t> apply(std::int64_t old) const;
};

class Clock {
public:
    std::int64_t frames = 0;      // whole frames of audio
    std::int32_t sampleRate = 1;  // frames per second
    std::int64_t stamp = 0;       // the first frame's time: samples since midnight at stampRate
    StampRate stampRate{1, 1};
    std::optional<TimecodeRate> rate{};  // labels; none: clock seconds

    // The text a field shows for frame. A label shows "+N" samples past its
    // first frame only when asked (points placed between labels).
    std::string text(Notation notation, std::int64_t frame, bool samplesPastLabel = false) const;
    // The length from frame to frame, "H:MM:SS:FF" in labels (so that in + length
    // = out, label for label), else whole seconds.
    std::string lengthText(std::int64_t from, std::int64_t to) const;

    // The point text names: the first frame at or after its time, inside the
    // recording. A time outside the recording is refused, naming its span. An out
    // point (out) at or past the last label, or in seconds the last whole second,
    // takes every frame.
    Reading read(Notation notation, std::string_view text, bool out) const;

    // The first frame of the label frame lies in (0 for the recording's first,
    // partial label); an out point in the last label is the end. Without a rate,
    // frame itself.
    std::int64_t snap(std::int64_t frame, bool out = false) const;
    // The first frame of the label count labels after (before, when negative) the
    // one frame lies in, inside the recording; without a rate, that many seconds on.
    std::int64_t stepLabels(std::int64_t frame, std::int64_t count) const;
    // Whether frame is the first frame of a label (always, without a rate).
    bool onLabel(std::int64_t frame) const;

    // The stamp's move for a copy that starts at frame: frame × R ÷ file rate,
    // rounded up so that the copy's stamp is never before its first frame's time,
    // wrapping at the label day (at the clock day without a rate).
    StampMove stampMove(std::int64_t frame) const;

    // The first frame of to at or after the time of day of frame here: the same
    // sample of the day in another file of a take, from each file's own stamp.
    // Stamps on either side of midnight are taken as the nearer day.
    std::int64_t frameAtSameTime(std::int64_t frame, const Clock& to) const;

    // The sliders step through the recording in labels (or seconds) from its
    // first: steps in all, and steps in a second.
    std::int64_t sliderSteps() const;
    std::int64_t stepsPerSecond() const { return rate ? rate->nominal() : 1; }
    // The step a frame lies in (the last step for the end), and a step's first frame.
    std::int64_t stepAtFrame(std::int64_t frame) const;
    std::int64_t frameAtStep(std::int64_t step) const;

    // The waveform ruler counts the time of day in units: label numbers at the
    // rate (round numbers are round labels, also in drop-frame), else
    // milliseconds. Either may lie outside the recording.
    std::int64_t rulerUnitAt(std::int64_t frame) const;
    std::int64_t frameAtRulerUnit(std::int64_t unit) const;
    std::int64_t rulerUnitsPerSecond() const { return rate ? rate->nominal() : 1000; }
    // A mark's text: a label, or HH:MM:SS with as many decimals as step needs.
    std::string rulerLabel(std::int64_t unit, std::int64_t step) const;

    // "12:40:04:00–12:40:14:00": the recording's span as times of day.
    std::string span() const;
};

// "23.976 fps", "29.97 fps drop-frame", "48000/1001 fps": a rate as people name it.
std::string rateName(const TimecodeRate& rate);

}  // namespace keeptime
