#include "timecode/TimeString.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include "timecode/Decimal.hpp"

namespace keeptime {

namespace {

// Whole seconds, truncated toward zero; nothing when the value cannot be an int64.
std::optional<std::int64_t> wholeSeconds(double seconds) {
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(seconds) || seconds >= kLimit || seconds <= -kLimit) return std::nullopt;
    return static_cast<std::int64_t>(seconds);  // conversion truncates toward zero
}

std::string padded(std::int64_t field) {
    std::string text = toDecimal(field);
    if (field <= 9) text.insert(text.begin(), '0');
    return text;
}

// Formats a whole-second value, writing negative values as "-" and their magnitude.
template <typename Format>
std::string withSign(double seconds, std::string_view unreadable, Format format) {
    auto t = wholeSeconds(seconds);
    if (!t) return std::string(unreadable);
    if (*t >= 0) return format(*t);
    std::string text = format(-*t);
    text.insert(text.begin(), '-');
    return text;
}

}  // namespace

std::string TimeString::timecodeString(double seconds) {
    return withSign(seconds, "--:--:--", [](std::int64_t t) {
        return padded(t / 3600) + ":" + padded(t / 60 % 60) + ":" + padded(t % 60);
    });
}

std::string TimeString::durationString(double seconds) {
    return withSign(seconds, "--:--", [](std::int64_t t) {
        if (t < 3600) return toDecimal(t / 60) + ":" + padded(t % 60);
        return toDecimal(t / 3600) + ":" + padded(t / 60 % 60) + ":" + padded(t % 60);
    });
}

std::optional<double> TimeString::parseSeconds(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t colon = std::min(text.find(':', from), text.size());
        if (colon > from) pieces.push_back(text.substr(from, colon - from));
        from = colon + 1;
    }
    // Seconds, minutes, hours, counted from the right.
    std::int64_t fields[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 3 && i < pieces.size(); ++i) {
        auto value = parseInt64(pieces[pieces.size() - 1 - i]);
        if (!value) return std::nullopt;
        fields[i] = *value;
    }
    std::int64_t minutes = 0, hours = 0, total = 0;
    if (__builtin_mul_overflow(fields[1], 60, &minutes) ||
        __builtin_mul_overflow(fields[2], 3600, &hours) ||
        __builtin_add_overflow(fields[0], minutes, &total) ||
        __builtin_add_overflow(total, hours, &total))
        return std::nullopt;
    return static_cast<double>(total);
}

}  // namespace keeptime
