// Copies byte ranges from one open file to another through one reused buffer.
// Measured on ext4, copy_file_range made the final flush slower (smaller write
// requests) than plain reads and writes with writeback started after each block,
// which keep pace with `dd conv=fsync`; so the copy uses the latter.
#pragma once

#include <cstdint>
#include <system_error>

#include "bwf/Bytes.hpp"

namespace keeptime {

// A failed read of the input or write of the output.
struct CopyError {
    enum class Side { Reading, Writing };
    Side side;
    std::error_code code;
};

class BlockCopier {
public:
    BlockCopier(int in, int out) : in_(in), out_(out) {}

    // Copies up to length bytes from the input at inOffset to the output at
    // outOffset, and starts writing them to disk. Returns the bytes copied: fewer
    // than length only when the input ends first. Throws CopyError.
    std::int64_t copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length);

private:
    int in_;
    int out_;
    Bytes buffer_;
};

}  // namespace keeptime
