// Little-endian field access and byte search over header buffers. Every read and
// write is bounds-checked: a field that does not fit gives nothing instead of
// touching memory outside the buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace keeptime {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline bool fits(ByteView bytes, std::size_t offset, std::size_t width) {
    return offset <= bytes.size() && width <= bytes.size() - offset;
}

// Reads an integer of type T stored little-endian at offset, or nothing when it
// would run past the end of the buffer.
template <typename T>
std::optional<T> readLE(ByteView bytes, std::size_t offset) {
    static_assert(std::is_integral_v<T>);
    if (!fits(bytes, offset, sizeof(T))) return std::nullopt;
    std::make_unsigned_t<T> value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<std::make_unsigned_t<T>>(bytes[offset + i]) << (8 * i);
    return static_cast<T>(value);
}

// Writes value little-endian at offset; false (and nothing written) when it does not fit.
template <typename T>
bool writeLE(Bytes& bytes, std::size_t offset, T value) {
    static_assert(std::is_integral_v<T>);
    if (!fits(bytes, offset, sizeof(T))) return false;
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return true;
}

inline ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Position of the first occurrence of needle in bytes[from, bytes.size()).
inline std::optional<std::size_t> find(ByteView bytes, std::string_view needle,
                                       std::size_t from = 0) {
    if (needle.empty() || from > bytes.size()) return std::nullopt;
    auto hay = bytes.subspan(from);
    auto it = std::search(hay.begin(), hay.end(),
                          std::boyer_moore_horspool_searcher(asBytes(needle).begin(),
                                                             asBytes(needle).end()));
    if (it == hay.end()) return std::nullopt;
    return from + static_cast<std::size_t>(it - hay.begin());
}

inline bool startsWith(ByteView bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace keeptime
