#include "timecode/Clock.hpp"

#include <algorithm>
#include <climits>
#include <numeric>
#include <utility>
#include <vector>

#include "timecode/Decimal.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {

namespace {

Wide floorDiv(Wide a, Wide b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
Wide ceilDiv(Wide a, Wide b) { return -floorDiv(-a, b); }
Wide gcdWide(Wide a, Wide b) {
    a = a < 0 ? -a : a, b = b < 0 ? -b : b;
    while (b != 0) a = std::exchange(b, a % b);
    return a == 0 ? 1 : a;
}

// An exact number of seconds, kept reduced so that products of two stay inside 128 bits.
struct Seconds {
    Wide num;
    Wide den;
};
Seconds reduced(Wide num, Wide den) {
    const Wide g = gcdWide(num, den);
    return {num / g, den / g};
}
Seconds minus(Seconds a, Seconds b) { return reduced(a.num * b.den - b.num * a.den, a.den * b.den); }

constexpr std::int64_t kClockDay = 86400;
constexpr std::int64_t kMaxTypedSeconds = 1'000'000'000;  // keeps every product inside 128 bits

// Labels in a label day: the count of 24:00:00:00.
std::int64_t dayLabels(const TimecodeRate& rate) {
    return labelFrames(rate.dropFrame ? "24:00:00;00" : "24:00:00:00", rate).value_or(0);
}

std::string twoDigits(Wide value) { return (value < 10 ? "0" : "") + toDecimal(static_cast<std::int64_t>(value)); }

// Seconds with d decimals (already rounded by the caller): a time of day (HH:MM:SS,
// modulo a day) or an offset (M:SS, H:MM:SS).
std::string secondsText(Seconds s, int decimals, bool timeOfDay) {
    Wide scale = 1;
    for (int d = 0; d < decimals; ++d) scale *= 10;
    const Wide units = s.num * scale / s.den;
    Wide whole = units / scale;
    const Wide fraction = units % scale;
    if (timeOfDay) whole = (whole % kClockDay + kClockDay) % kClockDay;
    std::string text = timeOfDay ? twoDigits(whole / 3600) + ":" + twoDigits(whole / 60 % 60) + ":" + twoDigits(whole % 60)
                                 : TimeString::durationString(static_cast<double>(whole));
    if (decimals > 0) {
        std::string digits = toDecimal(static_cast<std::int64_t>(fraction));
        digits.insert(0, static_cast<std::size_t>(decimals) - digits.size(), '0');
        text += "." + digits;
    }
    return text;
}

bool digitsOnly(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A typed time before it is placed in the recording: labels and samples past
// the label's first frame, or exact clock seconds.
struct Typed {
    std::int64_t labels = 0;
    std::int64_t samples = 0;
    Seconds seconds{0, 1};
};

struct Parsed {
    std::optional<Typed> typed;
    std::string refusal;
};

Parsed refuse(std::string_view text, const std::string& why) { return {std::nullopt, "\"" + std::string(text) + "\": " + why}; }

// The fields of "H:MM:SS:FF", "H:MM:SS;FF", "H:MM:SS", "M:SS" or "S": at most four,
// ';' only before the frames. Empty when the text has another shape.
std::vector<std::string_view> fieldsOf(std::string_view text, bool& semicolon) {
    std::vector<std::string_view> fields;
    semicolon = false;
    for (std::size_t from = 0;;) {
        const std::size_t at = std::min(text.find_first_of(":;", from), text.size());
        fields.push_back(text.substr(from, at - from));
        if (at == text.size()) break;
        if (text[at] == ';') semicolon = true;
        from = at + 1;
    }
    const bool shaped = fields.size() <= 4 && (!semicolon || (fields.size() == 4 && text.find(';') > text.rfind(':')));
    if (!shaped || !std::all_of(fields.begin(), fields.end(), digitsOnly)) fields.clear();
    return fields;
}

}  // namespace

std::string rateName(const TimecodeRate& rate) {
    for (const auto& [name, standard] : standardRates()) {
        if (standard != rate) continue;
        const std::string_view text = name.substr(0, name.find(' '));
        const std::string_view kind = name.find(' ') == name.npos ? "" : rate.dropFrame ? " drop-frame" : " non-drop";
        return std::string(text) + " fps" + std::string(kind);
    }
    // num/den with up to three decimals, as few as it needs: 48000/1001 -> "47.952".
    const std::int64_t milli = rate.num * 1000 / rate.den;
    std::string fraction = toDecimal(1000 + milli % 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return toDecimal(milli / 1000) + (fraction.empty() ? "" : "." + fraction) + " fps" +
           (rate.dropFrame ? " drop-frame" : "");
}

std::optional<std::int64_t> StampMove::apply(std::int64_t old) const {
    std::int64_t moved = 0;
    if (__builtin_add_overflow(old, shift, &moved)) return std::nullopt;
    if (dayNum > 0 && Wide{moved} * dayDen >= dayNum) {
        // Whole days off, the rest rounded up: the wrapped stamp is never before the frame's time.
        const Wide days = floorDiv(Wide{moved} * dayDen, dayNum);
        moved -= static_cast<std::int64_t>(floorDiv(days * dayNum, dayDen));
    }
    return moved;
}

namespace {

// The arithmetic of one clock, kept out of the header.
struct Math {
    const Clock& c;

    // Seconds from midnight to frame.
    Seconds timeOf(std::int64_t frame) const {
        const StampRate& r = c.stampRate;
        return reduced(Wide{c.stamp} * r.den * c.sampleRate + Wide{frame} * r.num, Wide{r.num} * c.sampleRate);
    }
    // The label s lies in (or, up, the first label at or after it).
    Wide labelOf(Seconds s, bool up = false) const {
        const Wide num = s.num * c.rate->num, den = s.den * c.rate->den;
        return up ? ceilDiv(num, den) : floorDiv(num, den);
    }
    Wide labelAt(std::int64_t frame) const { return labelOf(timeOf(frame)); }
    // The first frame at or after a label's time (may lie outside the recording).
    std::int64_t frameOfLabel(Wide label) const {
        const StampRate& r = c.stampRate;
        const Wide num = (label * c.rate->den * r.num - Wide{c.stamp} * r.den * c.rate->num) * c.sampleRate;
        return static_cast<std::int64_t>(ceilDiv(num, Wide{c.rate->num} * r.num));
    }
    // The first frame at or after a time of day.
    std::int64_t frameOfTime(Seconds s) const {
        const Seconds from = minus(s, timeOf(0));
        return static_cast<std::int64_t>(ceilDiv(from.num * c.sampleRate, from.den));
    }
    Seconds day() const {
        if (c.rate) return reduced(Wide{dayLabels(*c.rate)} * c.rate->den, c.rate->num);
        return {kClockDay, 1};
    }
    std::int64_t clamp(Wide frame) const { return static_cast<std::int64_t>(std::clamp<Wide>(frame, 0, c.frames)); }

    Parsed parse(Notation notation, std::string_view text) const;
    Reading place(Notation notation, const Typed& typed, std::string_view text, bool out) const;
    std::string spanOf(Notation notation) const {
        if (notation == Notation::TimeOfDay) return c.span();
        return c.text(Notation::FromStart, 0) + "–" + c.lengthText(0, c.frames);
    }
};

Parsed Math::parse(Notation notation, std::string_view text) const {
    if (text.empty()) return {std::nullopt, "empty: type a time"};
    const std::string forms = c.rate ? " (HH:MM:SS:FF or HH:MM:SS at " + rateName(*c.rate) + ")"
                                     : " (H:MM:SS, M:SS or S, with a fraction if you like)";
    Typed typed;
    std::string_view labelText = text;
    if (const std::size_t plus = text.find('+'); c.rate && plus != text.npos && plus > 0) {
        const std::string_view samples = text.substr(plus + 1);
        const auto value = digitsOnly(samples) ? parseInt64(samples) : std::nullopt;
        if (!value || *value > kMaxTypedSeconds) return refuse(text, "not a time" + forms);
        typed.samples = *value;
        labelText = text.substr(0, plus);
    }
    std::string_view whole = labelText;
    std::string_view fraction;
    if (const std::size_t dot = labelText.find('.'); dot != labelText.npos) {
        if (c.rate)
            return refuse(text, "a fraction of a second is not a time at " + rateName(*c.rate) +
                                    ": give frames (HH:MM:SS:FF), or choose seconds");
        whole = labelText.substr(0, dot), fraction = labelText.substr(dot + 1);
        if (!digitsOnly(fraction) || fraction.size() > 9) return refuse(text, "not a time" + forms);
    }
    bool semicolon = false;
    const auto fields = fieldsOf(whole, semicolon);
    const bool framesGiven = fields.size() == 4;
    if (fields.empty() || (framesGiven && !c.rate) || (framesGiven && !fraction.empty()))
        return refuse(text, "not a time" + forms);
    // Hours, minutes, seconds, frames; fields not typed are 0.
    std::int64_t hms[4] = {0, 0, 0, 0};
    const std::size_t clockFields = framesGiven ? 3 : fields.size();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        auto value = parseInt64(fields[i]);
        if (!value || *value > kMaxTypedSeconds) return refuse(text, "not a time" + forms);
        hms[i < clockFields ? 3 - clockFields + i : 3] = *value;
    }
    auto [hours, minutes, seconds, ff] = hms;
    if (clockFields > 1 && (seconds >= 60 || (clockFields > 2 && minutes >= 60)))
        return refuse(text, "minutes and seconds run 00–59");
    if (notation == Notation::TimeOfDay && (hours * 3600 + minutes * 60 + seconds) >= kClockDay)
        return refuse(text, "a time of day runs 00:00:00 to 23:59:59");
    const Wide clockSeconds = Wide{hours} * 3600 + Wide{minutes} * 60 + seconds;
    if (clockSeconds > kMaxTypedSeconds) return refuse(text, "not a time" + forms);
    if (!c.rate) {
        Wide scale = 1;
        for (std::size_t d = 0; d < fraction.size(); ++d) scale *= 10;
        typed.seconds = reduced(clockSeconds * scale + (fraction.empty() ? 0 : *parseInt64(fraction)), scale);
        return {typed, {}};
    }
    const std::int64_t nominal = c.rate->nominal();
    if (semicolon && !c.rate->dropFrame)
        return refuse(text, "\";\" marks a drop-frame label, and " + rateName(*c.rate) + " is not drop-frame: write " +
                                std::string(whole.substr(0, whole.rfind(';'))) + ":" + std::string(whole.substr(whole.rfind(';') + 1)));
    if (ff >= nominal)
        return refuse(text, "frames run 00–" + twoDigits(nominal - 1) + " at " + rateName(*c.rate));
    const std::int64_t drop = c.rate->dropFrame ? nominal / 15 : 0;
    const Wide allMinutes = clockSeconds / 60;
    if (drop > 0 && allMinutes % 10 != 0 && clockSeconds % 60 == 0 && ff < drop) {
        // A second whose first labels are skipped starts at its first label that exists.
        if (framesGiven)
            return refuse(text, std::string(labelText) + " does not exist in drop-frame: that minute starts at ;" +
                                    twoDigits(drop));
        ff = drop;
    }
    typed.labels = static_cast<std::int64_t>(clockSeconds * nominal + ff - drop * (allMinutes - allMinutes / 10));
    return {typed, {}};
}

Reading Math::place(Notation notation, const Typed& typed, std::string_view text, bool out) const {
    const auto outside = [&] {
        return Reading{std::nullopt, "\"" + std::string(text) + "\" lies outside the recording (" + spanOf(notation) + ")"};
    };
    if (c.rate) {
        const Wide first = labelAt(0), last = labelAt(c.frames), past = labelOf(timeOf(c.frames), true);
        Wide label = 0;
        switch (notation) {
            case Notation::TimeOfDay: {
                // The occurrence of that label within the recording: the next day's for a take past midnight.
                const Wide days = dayLabels(*c.rate);
                label = typed.labels + ceilDiv(first - typed.labels, days) * days;
                break;
            }
            case Notation::FromStart: label = first + typed.labels; break;
            case Notation::FromEnd: label = last - typed.labels; break;
        }
        if (label < first || label > past) return outside();
        std::int64_t frame = frameOfLabel(label);
        if (typed.samples > 0) {
            const std::int64_t next = frameOfLabel(label + 1);
            if (frame + typed.samples >= next)
                return {std::nullopt, "\"" + std::string(text) + "\": a frame at " + rateName(*c.rate) + " holds " +
                                          toDecimal(next - frame) + " samples or fewer"};
            frame += typed.samples;
        }
        // An out point at or past the last label takes every frame, also the last label's part.
        if (out && typed.samples == 0 && label >= last) return {c.frames, {}};
        return {clamp(frame), {}};
    }
    const Seconds length = reduced(c.frames, c.sampleRate);
    const Wide lastSecond = ceilDiv(length.num, length.den);
    Wide frame = 0;
    const Seconds s = typed.seconds;
    switch (notation) {
        case Notation::TimeOfDay: {
            const Seconds start = timeOf(0), end = timeOf(c.frames);
            const Wide from = floorDiv(start.num, start.den), until = ceilDiv(end.num, end.den);
            const Wide days = ceilDiv(from * s.den - s.num, kClockDay * s.den);
            const Seconds at = reduced(s.num + days * kClockDay * s.den, s.den);
            if (at.num > until * at.den) return outside();
            frame = frameOfTime(at);
            break;
        }
        case Notation::FromStart:
            if (s.num > lastSecond * s.den) return outside();
            frame = ceilDiv(s.num * c.sampleRate, s.den);
            break;
        case Notation::FromEnd:
            if (s.num > lastSecond * s.den) return outside();
            frame = c.frames - floorDiv(s.num * c.sampleRate, s.den);
            break;
    }
    const std::int64_t point = clamp(frame);
    // As whole seconds always did: an out point in the last whole second takes every frame.
    if (out && point / c.sampleRate == c.frames / c.sampleRate) return {c.frames, {}};
    return {point, {}};
}

}  // namespace

Reading Clock::read(Notation notation, std::string_view text, bool out) const {
    const Math math{*this};
    const Parsed parsed = math.parse(notation, text);
    if (!parsed.typed) return {std::nullopt, parsed.refusal};
    return math.place(notation, *parsed.typed, text, out);
}

std::string Clock::text(Notation notation, std::int64_t frame, bool samplesPastLabel) const {
    const Math math{*this};
    if (rate) {
        const Wide label = math.labelAt(frame);
        std::string text;
        switch (notation) {
            case Notation::TimeOfDay: text = timeOfDayLabel(static_cast<std::int64_t>(label), *rate); break;
            case Notation::FromStart: text = lengthLabel(static_cast<std::int64_t>(label - math.labelAt(0)), *rate); break;
            case Notation::FromEnd: text = lengthLabel(static_cast<std::int64_t>(math.labelAt(frames) - label), *rate); break;
        }
        const std::int64_t past = frame - math.frameOfLabel(label);
        return samplesPastLabel && past > 0 ? text + "+" + toDecimal(past) : text;
    }
    // Seconds with as few decimals as name this frame exactly: typed back, they give it.
    const Seconds at = notation == Notation::TimeOfDay ? math.timeOf(frame)
                       : notation == Notation::FromStart ? reduced(frame, sampleRate)
                                                         : reduced(frames - frame, sampleRate);
    for (int decimals = 0;; ++decimals) {
        Wide scale = 1;
        for (int d = 0; d < decimals; ++d) scale *= 10;
        const bool fromEnd = notation == Notation::FromEnd;
        const Wide units = fromEnd ? ceilDiv(at.num * scale, at.den) : floorDiv(at.num * scale, at.den);
        const Seconds shown{units, scale};
        const Wide back = notation == Notation::TimeOfDay ? math.frameOfTime(shown)
                          : fromEnd                        ? frames - floorDiv(units * sampleRate, scale)
                                                           : ceilDiv(units * sampleRate, scale);
        if (decimals == 7 || back == frame) return secondsText(shown, decimals, notation == Notation::TimeOfDay);
    }
}

std::string Clock::lengthText(std::int64_t from, std::int64_t to) const {
    const Math math{*this};
    if (rate) return lengthLabel(static_cast<std::int64_t>(math.labelAt(to) - math.labelAt(from)), *rate);
    return TimeString::durationString(static_cast<double>(floorDiv(to - from, sampleRate)));
}

std::string Clock::span() const { return text(Notation::TimeOfDay, 0) + "–" + text(Notation::TimeOfDay, frames); }

std::int64_t Clock::snap(std::int64_t frame, bool out) const {
    const Math math{*this};
    if (frame >= frames) return frames;
    if (!rate) return math.clamp(frame);
    const Wide label = math.labelAt(frame);
    if (out && label >= math.labelAt(frames)) return frames;
    return math.clamp(math.frameOfLabel(label));
}

bool Clock::onLabel(std::int64_t frame) const {
    const Math math{*this};
    return !rate || math.frameOfLabel(math.labelAt(frame)) == frame;
}

std::int64_t Clock::stepLabels(std::int64_t frame, std::int64_t count) const {
    const Math math{*this};
    if (!rate) return math.clamp(Wide{frame} + Wide{count} * sampleRate);
    // Back from between labels, the first step is to the label's own first frame.
    const Wide label = math.labelAt(frame) + count + (count < 0 && !onLabel(frame));
    if (count > 0 && label > math.labelAt(frames)) return frames;
    return math.clamp(math.frameOfLabel(label));
}

StampMove Clock::stampMove(std::int64_t frame) const {
    const Math math{*this};
    StampMove move;
    move.shift = static_cast<std::int64_t>(ceilDiv(Wide{frame} * stampRate.num, Wide{sampleRate} * stampRate.den));
    // The day in samples: its seconds × R.
    const Seconds day = math.day();
    const Seconds samples = reduced(day.num * stampRate.num, day.den * stampRate.den);
    if (samples.num > 0 && samples.num <= INT64_MAX && samples.den <= INT64_MAX) {
        move.dayNum = static_cast<std::int64_t>(samples.num);
        move.dayDen = static_cast<std::int64_t>(samples.den);
    }
    return move;
}

std::int64_t Clock::frameAtSameTime(std::int64_t frame, const Clock& to) const {
    Seconds d = minus(Math{*this}.timeOf(frame), Math{to}.timeOf(0));
    // The nearer day: a take that starts just before midnight in one file and just after in another.
    const Seconds day = Math{*this}.day();
    const Wide days = floorDiv(2 * d.num * day.den + day.num * d.den, 2 * day.num * d.den);
    d = reduced(d.num * day.den - days * day.num * d.den, d.den * day.den);
    return static_cast<std::int64_t>(ceilDiv(d.num * to.sampleRate, d.den));
}

std::int64_t Clock::sliderSteps() const {
    const Math math{*this};
    const Wide steps = rate ? math.labelOf(math.timeOf(frames), true) - math.labelAt(0) : ceilDiv(frames, sampleRate);
    return static_cast<std::int64_t>(std::clamp<Wide>(steps, 0, INT32_MAX));
}

std::int64_t Clock::stepAtFrame(std::int64_t frame) const {
    const Math math{*this};
    if (frame >= frames) return sliderSteps();
    frame = std::max<std::int64_t>(frame, 0);
    return static_cast<std::int64_t>(rate ? math.labelAt(frame) - math.labelAt(0) : Wide{frame / sampleRate});
}

std::int64_t Clock::frameAtStep(std::int64_t step) const {
    const Math math{*this};
    if (step >= sliderSteps()) return frames;
    step = std::max<std::int64_t>(step, 0);
    return rate ? math.clamp(math.frameOfLabel(math.labelAt(0) + step)) : math.clamp(Wide{step} * sampleRate);
}

std::int64_t Clock::rulerUnitAt(std::int64_t frame) const {
    const Math math{*this};
    const Seconds s = math.timeOf(frame);
    if (rate) return labelNumber(static_cast<std::int64_t>(math.labelOf(s)), *rate);
    return static_cast<std::int64_t>(floorDiv(s.num * 1000, s.den));
}

std::int64_t Clock::frameAtRulerUnit(std::int64_t unit) const {
    const Math math{*this};
    if (rate) return math.frameOfLabel(framesAtLabelNumber(unit, *rate));
    return math.frameOfTime({unit, 1000});
}

std::string Clock::rulerLabel(std::int64_t unit, std::int64_t step) const {
    if (rate) return timeOfDayLabel(framesAtLabelNumber(unit, *rate), *rate);
    int decimals = 0;
    for (std::int64_t tenth = 1000; step % tenth != 0 && decimals < 3; tenth /= 10) ++decimals;
    return secondsText(Seconds{unit, 1000}, decimals, true);
}

}  // namespace keeptime
