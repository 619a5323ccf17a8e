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
    std::vector<std::string_view> fields;
    for (std::size_t from = 0;;) {
        const std::size_t colon = std::min(text.find(':', from), text.size());
        fields.push_back(text.substr(from, colon - from));
        if (colon == text.size()) break;
        from = colon + 1;
    }
    if (fields.size() > 3) return std::nullopt;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const bool digits = !fields[i].empty() &&
                            std::all_of(fields[i].begin(), fields[i].end(), [](char c) { return c >= '0' && c <= '9'; });
        auto value = digits ? parseInt64(fields[i]) : std::nullopt;
        // Minutes and seconds after the first field count up to 59.
        if (!value || (i > 0 && *value >= 60)) return std::nullopt;
        if (__builtin_mul_overflow(total, i > 0 ? 60 : 1, &total) || __builtin_add_overflow(total, *value, &total))
            return std::nullopt;
    }
    return static_cast<double>(total);
}

std::string TimeString::notATime(std::string_view text) {
    return "\"" + std::string(text) + "\" is not a time (H:MM:SS, M:SS or S)";
}

}  // namespace keeptime
