// Copies byte ranges from one open file to another through one reused buffer.
// Measured on ext4, copy_file_range made the final flush slower (smaller write
// requests) than plain reads and writes with writeback started after each block,
// which keep pace with `dd conv=fsync`; so the copy uses the latter, except for
// whole blocks that the file system can share between the files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "base/Bytes.hpp"
#include "io/File.hpp"

namespace keeptime {

class BlockCopier {
public:
    BlockCopier(const FileHandle& in, int out, std::filesystem::path outPath)
        : in_(in), out_(out), outPath_(std::move(outPath)) {}

    // Copies up to length bytes from the input at inOffset to the output at
    // outOffset, and starts writing them to disk. Returns the bytes copied: fewer
    // than length only when the input ends first. Throws BWFError.
    std::int64_t copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length);

    // The file the copy will replace: before copy() writes a block, this file's
    // cached pages over the same bytes are dropped (dirty ones are written out
    // instead); the file itself stays whole. The copy's new pages then come from
    // memory just freed rather than memory left idle, which a virtual machine
    // hands back to its host and then pays a fault per page to touch again; and
    // placing the copy no longer drops the old file's whole cache at once. The
    // old file is released when the copier goes. Nothing happens for a file
    // that cannot be opened for reading.
    void releaseAsCopied(const std::filesystem::path& replaced);

    // Before a system call that shares or copies in the kernel ("FICLONERANGE",
    // "copy_file_range"): a nonzero errno value makes it fail as if the system said so.
    using Fault = std::function<int(std::string_view call)>;
    struct Shared {
        std::int64_t copied = 0;  // as copy() counts
        std::int64_t shared = 0;  // of them, bytes that are now the input's blocks
    };
    // Copies whole blocks at offsets that agree within a block: cloned, else
    // copied in the kernel. After a failure the next way is kept for good; once
    // neither works, sharing() is false and fewer than length bytes may have been
    // copied: the rest is for copy(), so that a copy that cannot share goes on as before.
    Shared share(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length, const Fault& fault = {});
    bool sharing() const { return way_ != Way::Buffer; }

private:
    enum class Way { Clone, CopyRange, Buffer };
    const FileHandle& in_;
    int out_;
    std::filesystem::path outPath_;
    PageBuffer buffer_;
    FileHandle replaced_;
    Way way_ = Way::Clone;
};

}  // namespace keeptime
