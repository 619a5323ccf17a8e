#include "timecode/TimeString.hpp"

#include <algorithm>
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

std::string TimeString::durationString(double seconds) {
    return withSign(seconds, "--:--", [](std::int64_t t) {
        if (t < 3600) return toDecimal(t / 60) + ":" + padded(t % 60);
        return toDecimal(t / 3600) + ":" + padded(t / 60 % 60) + ":" + padded(t % 60);
    });
}

}  // namespace keeptime
