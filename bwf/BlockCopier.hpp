// Copies byte ranges from one open file to another through one reused buffer.
// Measured on ext4, copy_file_range made the final flush slower (smaller write
// requests) than plain reads and writes with writeback started after each block,
// which keep pace with `dd conv=fsync`; so the copy uses the latter.
#pragma once

#include <cstdint>
#include <filesystem>

#include "bwf/Bytes.hpp"
#include "bwf/File.hpp"

namespace keeptime {

class BlockCopier {
public:
    BlockCopier(const FileHandle& in, int out, std::filesystem::path outPath)
        : in_(in), out_(out), outPath_(std::move(outPath)) {}

    // Copies up to length bytes from the input at inOffset to the output at
    // outOffset, and starts writing them to disk. Returns the bytes copied: fewer
    // than length only when the input ends first. Throws BWFError.
    std::int64_t copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length);

private:
    const FileHandle& in_;
    int out_;
    std::filesystem::path outPath_;
    Bytes buffer_;
};

}  // namespace keeptime
