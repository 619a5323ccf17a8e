#include "bwf/BlockCopier.hpp"

#include <fcntl.h>

namespace keeptime {

std::int64_t BlockCopier::copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length) {
    buffer_.resize(static_cast<std::size_t>(length));
    const std::size_t got = readFully(in_.fd(), buffer_.data(), buffer_.size(), inOffset, in_.path());
    writeFully(out_, ByteView(buffer_).first(got), outOffset, outPath_);
#ifdef __linux__
    // Start writeback now, so that the flush before the rename does not find a
    // whole file of dirty pages. Only a hint: the flush reports any failure.
    ::sync_file_range(out_, outOffset, static_cast<off_t>(got), SYNC_FILE_RANGE_WRITE);
#endif
    return static_cast<std::int64_t>(got);
}

}  // namespace keeptime
