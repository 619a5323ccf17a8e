// Decimal text, as it stands in iXML tags and typed time fields: signed 64-bit
// numbers are an optional sign, then ASCII digits only. No blanks, no separators.
// Also the integer wide enough for the products of two such numbers.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keeptime {

// Wide enough for any label number or product of two 64-bit fields.
__extension__ using Wide = __int128;

// One or more ASCII digits and nothing else.
inline bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

inline std::optional<std::int64_t> parseInt64(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulate toward the sign so that INT64_MIN is reachable.
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (__builtin_mul_overflow(value, 10, &value)) return std::nullopt;
        if (negative ? __builtin_sub_overflow(value, digit, &value)
                     : __builtin_add_overflow(value, digit, &value))
            return std::nullopt;
    }
    return value;
}

inline std::string toDecimal(std::int64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A clock field of at least two digits: 7 is "07".
inline std::string padded(std::int64_t field) {
    std::string text = toDecimal(field);
    if (field >= 0 && field <= 9) text.insert(text.begin(), '0');
    return text;
}

}  // namespace keeptime
