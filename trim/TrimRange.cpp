#include "trim/TrimRange.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "timecode/Decimal.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {

namespace {

__extension__ using Wide = __int128;  // products of counts and rates pass 64 bits

Wide floorDiv(Wide a, Wide b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
Wide ceilDiv(Wide a, Wide b) { return -floorDiv(-a, b); }

// An exact number of seconds.
struct Seconds {
    Wide num;
    Wide den;
};

constexpr Wide kDay = 86400;
constexpr std::int64_t kMaxTypedSeconds = 1'000'000'000;  // keeps every product inside 128 bits

// Seconds from midnight to frame, or from the file's start to frame.
Seconds timeOfDay(std::int64_t frame, const FileTimes& file) {
    const StampRate& r = file.stampRate;
    return {Wide{file.stamp} * r.den * file.sampleRate + Wide{frame} * r.num, Wide{r.num} * file.sampleRate};
}
Seconds offset(std::int64_t frames, const FileTimes& file) { return {frames, file.sampleRate}; }

// Timecode frames in s at the rate, rounded down or up.
Wide labelCount(Seconds s, const TimecodeRate& rate, bool up = false) {
    const Wide num = s.num * rate.num, den = s.den * rate.den;
    return up ? ceilDiv(num, den) : floorDiv(num, den);
}

// The first frame at or after typed seconds, in a notation.
// A time of day is typed within a day: 86400 s of clock, or for a label the time
// its count takes to pass 24:00:00:00 (at 23.976 that is 86486.4 s of stamp time).
Seconds dayOf(const FileTimes& file, bool label) {
    if (!label) return {kDay, 1};
    const auto count = labelFrames(file.rate->dropFrame ? "24:00:00;00" : "24:00:00:00", *file.rate);
    return {Wide{count.value_or(0)} * file.rate->den, file.rate->num};
}

std::int64_t frameAt(Notation notation, Seconds s, const FileTimes& file, Seconds day = {kDay, 1}) {
    const Wide fs = file.sampleRate;
    switch (notation) {
        case Notation::FromStart:
            return static_cast<std::int64_t>(ceilDiv(s.num * fs, s.den));
        case Notation::FromEnd:
            return file.frames - static_cast<std::int64_t>(floorDiv(s.num * fs, s.den));
        case Notation::TimeOfDay:
            break;
    }
    // The typed time on the day the recording starts; the next day's for a take that crosses midnight.
    const StampRate& r = file.stampRate;
    const Wide startDay = floorDiv(Wide{file.stamp} * r.den * day.den, Wide{r.num} * day.num);
    auto frameOn = [&](Wide days) {  // (s + days × day − stamp ÷ R) × fs, over one denominator
        const Wide den = s.den * day.den * r.num;
        const Wide num = (s.num * day.den + days * day.num * s.den) * r.num - den / r.num * Wide{file.stamp} * r.den;
        return static_cast<std::int64_t>(ceilDiv(num * fs, den));
    };
    // A time past a day (a label's hours need not stop at 23) names the same time of day.
    const Wide base = startDay - floorDiv(s.num * day.den, s.den * day.num);
    const std::int64_t frame = frameOn(base);
    if (frame < 0 && frameOn(base + 1) <= file.frames) return frameOn(base + 1);
    return frame;
}

// "H:MM:SS", "M:SS" or "S", the last with an optional fraction: exact seconds, or nothing.
std::optional<Seconds> parseClock(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::size_t from = 0;;) {
        const std::size_t colon = std::min(text.find(':', from), text.size());
        fields.push_back(text.substr(from, colon - from));
        if (colon == text.size()) break;
        from = colon + 1;
    }
    if (fields.size() > 3) return std::nullopt;
    Wide whole = 0, fraction = 0, scale = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string_view field = fields[i];
        if (i + 1 == fields.size()) {
            if (auto dot = field.find('.'); dot != field.npos) {
                const std::string_view digits = field.substr(dot + 1);
                if (digits.empty() || digits.size() > 9) return std::nullopt;
                auto value = parseInt64(digits);
                if (!value || digits.front() == '+' || digits.front() == '-') return std::nullopt;
                fraction = *value;
                for (std::size_t d = 0; d < digits.size(); ++d) scale *= 10;
                field = field.substr(0, dot);
            }
        }
        const bool digits = !field.empty() && std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
        auto value = digits ? parseInt64(field) : std::nullopt;
        if (!value || (i > 0 && *value >= 60) || *value > kMaxTypedSeconds) return std::nullopt;
        whole = whole * (i > 0 ? 60 : 1) + *value;
    }
    if (whole > kMaxTypedSeconds) return std::nullopt;
    return Seconds{whole * scale + fraction, scale};
}

std::string twoDigits(Wide value) { return (value < 10 ? "0" : "") + toDecimal(static_cast<std::int64_t>(value)); }

// Seconds with d decimals: a time of day (HH:MM:SS, modulo a day) or a length (M:SS, H:MM:SS).
std::string secondsText(Seconds s, int decimals, bool timeOfDay) {
    Wide scale = 1;
    for (int d = 0; d < decimals; ++d) scale *= 10;
    const bool negative = s.num < 0 && !timeOfDay;
    Wide units = (negative ? -s.num : s.num) * scale / s.den;  // already rounded by the caller
    Wide whole = units / scale, fraction = units % scale;
    if (timeOfDay) whole = (whole % kDay + kDay) % kDay;
    std::string text = timeOfDay ? twoDigits(whole / 3600) + ":" + twoDigits(whole / 60 % 60) + ":" + twoDigits(whole % 60)
                                 : TimeString::durationString(static_cast<double>(whole));
    if (decimals > 0) {
        std::string digits = toDecimal(static_cast<std::int64_t>(fraction));
        digits.insert(0, static_cast<std::size_t>(decimals) - digits.size(), '0');
        text += "." + digits;
    }
    return negative && units != 0 ? "-" + text : text;
}

}  // namespace

std::optional<TimecodeRate> fileTimecodeRate(const BWFParser& parser) {
    if (!parser.timecodeRate()) return std::nullopt;
    return parseTimecodeRate(*parser.timecodeRate(), parser.timecodeFlag().value_or(""));
}

FileTimes fileTimes(const BWFParser& parser, bool weirdTC, std::optional<TimecodeRate> fallback, bool seconds) {
    FileTimes file;
    file.frames = parser.frames();
    file.sampleRate = parser.samplesPerSecond();
    file.stamp = parser.samplesSinceMidnight();
    file.stampRate = stampRate(parser.samplesPerSecond(), parser.stampSampleRate(), weirdTC);
    if (!seconds) {
        file.rate = fileTimecodeRate(parser);
        if (!file.rate) file.rate = fallback;
    }
    return file;
}

std::string pointText(Notation notation, std::int64_t frame, const FileTimes& file) {
    const Seconds s = notation == Notation::TimeOfDay ? timeOfDay(frame, file)
                      : notation == Notation::FromStart ? offset(frame, file)
                                                        : offset(file.frames - frame, file);
    if (file.rate) {
        if (notation == Notation::TimeOfDay) return timeOfDayLabel(static_cast<std::int64_t>(labelCount(s, *file.rate)), *file.rate);
        // Rounded so that typing the label back gives this frame: down from the start, up back from the end.
        return lengthLabel(static_cast<std::int64_t>(labelCount(s, *file.rate, notation == Notation::FromEnd)), *file.rate);
    }
    // As few decimals as name this frame exactly.
    for (int decimals = 0;; ++decimals) {
        Wide scale = 1;
        for (int d = 0; d < decimals; ++d) scale *= 10;
        const Wide units = notation == Notation::FromEnd ? ceilDiv(s.num * scale, s.den) : floorDiv(s.num * scale, s.den);
        const Seconds shown{units, scale};
        if (decimals == 7 || frameAt(notation, shown, file) == frame)
            return secondsText(shown, decimals, notation == Notation::TimeOfDay);
    }
}

std::string lengthText(std::int64_t frames, const FileTimes& file) {
    if (file.rate) return lengthLabel(static_cast<std::int64_t>(labelCount(offset(frames, file), *file.rate)), *file.rate);
    return TimeString::durationString(static_cast<double>(floorDiv(frames, file.sampleRate)));
}

std::optional<std::int64_t> frameFromText(Notation notation, std::string_view text, const FileTimes& file) {
    std::optional<Seconds> s;
    const bool label = file.rate && (std::count(text.begin(), text.end(), ':') == 3 || text.find(';') != text.npos);
    if (label) {
        auto count = labelFrames(text, *file.rate);
        if (!count || *count > (std::int64_t{1} << 40)) return std::nullopt;
        s = Seconds{Wide{*count} * file.rate->den, file.rate->num};
    } else {
        s = parseClock(text);
    }
    if (!s) return std::nullopt;
    return frameAt(notation, *s, file, dayOf(file, label));
}

std::int64_t frameAtSameTime(std::int64_t frame, const FileTimes& from, const FileTimes& to) {
    const Seconds at = timeOfDay(frame, from), start = timeOfDay(0, to);
    const Wide den = at.den * start.den;
    Wide num = at.num * start.den - start.num * at.den;
    // The nearer day: a take that starts just before midnight in one file and just after in another.
    num -= floorDiv(num + kDay / 2 * den, kDay * den) * kDay * den;
    return static_cast<std::int64_t>(ceilDiv(num * to.sampleRate, den));
}

std::int64_t snapEnd(std::int64_t frame, const FileTimes& file) {
    if (frame >= file.frames) return file.frames;
    if (file.rate)
        return labelCount(timeOfDay(frame, file), *file.rate) == labelCount(timeOfDay(file.frames, file), *file.rate)
                   ? file.frames
                   : frame;
    // Without a rate, as texts in whole seconds always did: the last whole second takes every frame.
    return frame / file.sampleRate == file.frames / file.sampleRate ? file.frames : frame;
}

std::int64_t clampStart(std::int64_t frame, const FileTimes&) { return std::max<std::int64_t>(frame, 0); }
std::int64_t clampEnd(std::int64_t frame, const FileTimes& file) { return std::min(frame, file.frames); }

namespace {
// Timecode frames (or seconds) per audio frame, as num / den.
Seconds stepRate(const FileTimes& file) {
    if (file.rate) return {file.rate->num, Wide{file.sampleRate} * file.rate->den};
    return {1, file.sampleRate};
}
}  // namespace

SliderScale sliderScale(const FileTimes& file) {
    const Seconds rate = stepRate(file);
    const Wide steps = ceilDiv(Wide{file.frames} * rate.num, rate.den);
    return {static_cast<std::int64_t>(std::min<Wide>(steps, INT32_MAX)), file.rate ? file.rate->nominal() : 1};
}

std::int64_t stepAtFrame(std::int64_t frame, const FileTimes& file) {
    if (frame >= file.frames) return sliderScale(file).steps;
    const Seconds rate = stepRate(file);
    return static_cast<std::int64_t>(floorDiv(Wide{std::max<std::int64_t>(frame, 0)} * rate.num, rate.den));
}

std::int64_t frameAtStep(std::int64_t step, const FileTimes& file) {
    if (step >= sliderScale(file).steps) return file.frames;
    const Seconds rate = stepRate(file);
    return static_cast<std::int64_t>(ceilDiv(Wide{std::max<std::int64_t>(step, 0)} * rate.den, rate.num));
}

std::int64_t rulerUnitAt(std::int64_t frame, const FileTimes& file) {
    const Seconds s = timeOfDay(frame, file);
    if (file.rate) return labelNumber(static_cast<std::int64_t>(labelCount(s, *file.rate)), *file.rate);
    return static_cast<std::int64_t>(floorDiv(s.num * 1000, s.den));
}

std::int64_t frameAtRulerUnit(std::int64_t unit, const FileTimes& file) {
    // (s − stamp ÷ R) × fs, rounded up, with s the unit's exact time of day.
    const Seconds s = file.rate ? Seconds{Wide{framesAtLabelNumber(unit, *file.rate)} * file.rate->den, file.rate->num}
                                : Seconds{unit, 1000};
    const StampRate& r = file.stampRate;
    const Wide num = (s.num * r.num - Wide{file.stamp} * r.den * s.den) * file.sampleRate;
    return static_cast<std::int64_t>(ceilDiv(num, s.den * r.num));
}

std::int64_t rulerUnitsPerSecond(const FileTimes& file) { return file.rate ? file.rate->nominal() : 1000; }

std::string rulerLabel(std::int64_t unit, std::int64_t step, const FileTimes& file) {
    if (file.rate) return timeOfDayLabel(framesAtLabelNumber(unit, *file.rate), *file.rate);
    int decimals = 0;
    for (std::int64_t tenth = 1000; step % tenth != 0 && decimals < 3; tenth /= 10) ++decimals;
    return secondsText(Seconds{unit, 1000}, decimals, true);
}

}  // namespace keeptime
