// Copies byte ranges from one open file to another, inside the kernel where the
// platform can (copy_file_range), else through one reused buffer.
#pragma once

#include <cstdint>
#include <system_error>

#include "bwf/Bytes.hpp"

namespace keeptime {

// A failed read of the input or write of the output.
struct CopyError {
    enum class Side { Reading, Writing, Either };  // Either: the kernel copy does not say
    Side side;
    std::error_code code;
};

class BlockCopier {
public:
    BlockCopier(int in, int out) : in_(in), out_(out) {}

    // Copies up to length bytes from the input at inOffset to the output at
    // outOffset. Returns the bytes copied: fewer than length only when the input
    // ends first. Throws CopyError.
    std::int64_t copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length);

private:
    std::int64_t copyInKernel(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length);
    std::int64_t copyThroughBuffer(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length);

    int in_;
    int out_;
    bool inKernel_ = true;
    Bytes buffer_;
};

}  // namespace keeptime
