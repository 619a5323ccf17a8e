// Moves a header's time reference from one value to another, only where it
// holds that value: the decimal text between the iXML time-reference tags and
// the bext chunk's 64-bit TimeReference. Other numbers are left alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "bwf/Bytes.hpp"

namespace keeptime {

// Where the rewrite inserted or removed bytes, so that offsets found before it
// can be carried over.
class HeaderEdits {
public:
    // Bytes at original offsets from `from` on moved by delta.
    void add(std::size_t from, std::ptrdiff_t delta) { edits_.push_back({from, delta}); }
    // The position that byte `offset` of the original header has now.
    std::size_t moved(std::size_t offset) const;
    int replaced = 0;  // occurrences rewritten

private:
    struct Edit {
        std::size_t from;
        std::ptrdiff_t delta;
    };
    std::vector<Edit> edits_;
};

// Rewrites header (everything before the data chunk ID). When the decimal text
// changes length, the size of the chunk holding it is corrected and its pad byte
// added or removed, as long as the header's chunk sizes add up.
HeaderEdits rewriteTimeReference(Bytes& header, std::optional<std::size_t> bextOffset,
                                 std::int64_t oldValue, std::int64_t newValue);

}  // namespace keeptime
