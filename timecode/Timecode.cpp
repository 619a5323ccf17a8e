#include "timecode/Timecode.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <numeric>

#include "timecode/Decimal.hpp"

namespace keeptime {

namespace {

constexpr std::array<std::pair<std::string_view, TimecodeRate>, 9> kStandard{{
    {"23.976", {24000, 1001, false}},
    {"24", {24, 1, false}},
    {"25", {25, 1, false}},
    {"29.97 DF", {30000, 1001, true}},
    {"29.97 ND", {30000, 1001, false}},
    {"30", {30, 1, false}},
    {"50", {50, 1, false}},
    {"59.94 DF", {60000, 1001, true}},
    {"60", {60, 1, false}},
}};

// How labels count: nominal frames per label second, and labels skipped per minute in drop-frame.
struct Counting {
    std::int64_t nominal;
    std::int64_t drop;
    std::int64_t perMinute() const { return 60 * nominal - drop; }  // in a minute that skips
    std::int64_t perTenMinutes() const { return 600 * nominal - 9 * drop; }
};

std::optional<Counting> counting(const TimecodeRate& rate) {
    const std::int64_t nominal = rate.nominal();
    if (nominal == 0) return std::nullopt;
    if (!rate.dropFrame) return Counting{nominal, 0};
    // 2 labels a minute at 30, 4 at 60; no other rate has a drop-frame numbering.
    if (nominal != 30 && nominal != 60) return std::nullopt;
    return Counting{nominal, nominal / 15};
}

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == y;
           });
}

// "num/den" with both positive, reduced so that "50/2" is the standard 25.
std::optional<TimecodeRate> rational(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::string_view numText = text.substr(0, slash), denText = text.substr(slash + 1);
    if (!allDigits(numText) || !allDigits(denText)) return std::nullopt;
    auto num = parseInt64(numText), den = parseInt64(denText);
    if (!num || !den || *num == 0 || *den == 0) return std::nullopt;
    const std::int64_t divisor = std::gcd(*num, *den);
    TimecodeRate rate{*num / divisor, *den / divisor, false};
    if (rate.nominal() == 0) return std::nullopt;
    return rate;
}

// "29.97" as 2997/100, then the standard rate nearest to it, if it is within 0.5%.
std::optional<TimecodeRate> nearestStandard(std::string_view text) {
    const std::size_t dot = std::min(text.find('.'), text.size());
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction = dot < text.size() ? text.substr(dot + 1) : std::string_view("0");
    // 18 digits keep the value and its scale within 64 bits.
    if (!allDigits(whole) || !allDigits(fraction) || whole.size() + fraction.size() > 18) return std::nullopt;
    const std::int64_t value = *parseInt64(std::string(whole) + std::string(fraction));
    std::int64_t scale = 1;
    for (std::size_t i = 0; i < fraction.size(); ++i) scale *= 10;
    // value/scale - num/den = (value*den - num*scale) / (scale*den); scale is common to all.
    auto distance = [&](const TimecodeRate& r) {
        const Wide d = Wide(value) * r.den - Wide(r.num) * scale;
        return d < 0 ? -d : d;
    };
    std::optional<TimecodeRate> best;
    for (auto [name, rate] : kStandard) {
        rate.dropFrame = false;  // the caller's flag decides; 59.94 is listed only as drop-frame
        if (!best || distance(rate) * best->den < distance(*best) * rate.den) best = rate;
    }
    if (distance(*best) * 200 > Wide(best->num) * scale) return std::nullopt;
    return best;
}

std::optional<TimecodeRate> rateNumber(std::string_view text) {
    return text.find('/') != std::string_view::npos ? rational(text) : nearestStandard(text);
}

std::optional<TimecodeRate> withFlag(std::optional<TimecodeRate> rate, bool dropFrame) {
    if (!rate || !dropFrame) return rate;
    rate->dropFrame = true;
    if (!counting(*rate) || rate->den != 1001) return std::nullopt;
    return rate;
}


// A non-negative frame count with the labels skipped before it added back.
Wide withSkipped(Wide frames, const Counting& c) {
    if (c.drop > 0) {
        // Ten-minute blocks skip 9 * drop labels; inside one, every minute after the first skips drop.
        const Wide blocks = frames / c.perTenMinutes(), rest = frames % c.perTenMinutes();
        frames += 9 * c.drop * blocks;
        if (rest >= c.drop) frames += c.drop * ((rest - c.drop) / c.perMinute());
    }
    return frames;
}

// A non-negative frame count as "H:MM:SS:FF", hours as the caller pads them.
std::string label(Wide frames, const Counting& c, bool padHours) {
    frames = withSkipped(frames, c);
    const auto ff = std::int64_t(frames % c.nominal);
    const Wide seconds = frames / c.nominal;
    const auto hours = std::int64_t(seconds / 3600);
    return (padHours ? padded(hours) : toDecimal(hours)) + ":" + padded(std::int64_t(seconds / 60 % 60)) +
           ":" + padded(std::int64_t(seconds % 60)) + (c.drop > 0 ? ";" : ":") + padded(ff);
}

}  // namespace

int TimecodeRate::nominal() const {
    if (num <= 0 || den <= 0) return 0;
    const std::int64_t rounded = num / den + (num % den != 0);
    return rounded <= INT_MAX ? static_cast<int>(rounded) : 0;
}

std::span<const std::pair<std::string_view, TimecodeRate>> standardRates() { return kStandard; }

std::optional<TimecodeRate> parseTimecodeRate(std::string_view rate, std::string_view flag) {
    const bool drop = sameLetters(flag, "df");
    if (!drop && !flag.empty() && !sameLetters(flag, "ndf")) return std::nullopt;
    return withFlag(rateNumber(rate), drop);
}

std::optional<TimecodeRate> parseRateOption(std::string_view text) {
    bool drop = false;
    for (std::string_view suffix : {"ndf", "nd", "df"}) {
        if (text.size() > suffix.size() && sameLetters(text.substr(text.size() - suffix.size()), suffix)) {
            drop = suffix == "df";
            text.remove_suffix(suffix.size());
            if (text.back() == ' ') text.remove_suffix(1);
            break;
        }
    }
    return withFlag(rateNumber(text), drop);
}

std::string rateText(const TimecodeRate& rate) { return toDecimal(rate.num) + "/" + toDecimal(rate.den); }

std::string timeOfDayLabel(std::int64_t frames, const TimecodeRate& rate) {
    auto c = counting(rate);
    if (!c) return "--:--:--:--";
    const std::int64_t day = 144 * c->perTenMinutes();
    return label((frames % day + day) % day, *c, true);
}

std::string lengthLabel(std::int64_t frames, const TimecodeRate& rate) {
    auto c = counting(rate);
    if (!c) return "--:--:--:--";
    // Wide so that the magnitude of the most negative count fits.
    return (frames < 0 ? "-" : "") + label(frames < 0 ? -Wide(frames) : Wide(frames), *c, false);
}

std::optional<std::int64_t> labelFrames(std::string_view text, const TimecodeRate& rate) {
    auto c = counting(rate);
    if (!c) return std::nullopt;
    std::array<std::int64_t, 4> fields{};  // hours, minutes, seconds, frames
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t end = i < 2 ? text.find(':') : i == 2 ? text.find_first_of(":;") : text.size();
        if (end == std::string_view::npos) return std::nullopt;
        auto value = allDigits(text.substr(0, end)) ? parseInt64(text.substr(0, end)) : std::nullopt;
        if (!value) return std::nullopt;
        fields[i] = *value;
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    const auto [hours, minutes, seconds, ff] = fields;
    if (minutes >= 60 || seconds >= 60 || ff >= c->nominal) return std::nullopt;
    // Labels ;00 .. ;drop-1 do not exist at the start of a minute that is not a tenth minute.
    if (minutes % 10 != 0 && seconds == 0 && ff < c->drop) return std::nullopt;
    const Wide allMinutes = Wide(hours) * 60 + minutes;
    const Wide skipped = c->drop * (allMinutes - allMinutes / 10);
    const Wide frames = (allMinutes * 60 + seconds) * c->nominal + ff - skipped;
    if (frames > INT64_MAX) return std::nullopt;
    return std::int64_t(frames);
}

std::int64_t labelNumber(std::int64_t frames, const TimecodeRate& rate) {
    auto c = counting(rate);
    if (!c || frames < 0) return frames;
    return static_cast<std::int64_t>(withSkipped(frames, *c));
}

std::int64_t framesAtLabelNumber(std::int64_t number, const TimecodeRate& rate) {
    auto c = counting(rate);
    if (!c || c->drop == 0 || number < 0) return number;
    const std::int64_t minutes = number / (60 * c->nominal);
    if (minutes % 10 != 0 && number % (60 * c->nominal) < c->drop)
        number = minutes * 60 * c->nominal + c->drop;  // a skipped label: the minute's first
    return number - c->drop * (minutes - minutes / 10);
}

}  // namespace keeptime
