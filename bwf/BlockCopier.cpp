#include "bwf/BlockCopier.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace keeptime {

namespace {
[[noreturn]] void fail(CopyError::Side side) {
    throw CopyError{side, std::error_code(errno, std::generic_category())};
}
}  // namespace

std::int64_t BlockCopier::copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length) {
    buffer_.resize(static_cast<std::size_t>(length));
    std::int64_t got = 0;
    while (got < length) {
        ssize_t n = ::pread(in_, buffer_.data() + got, static_cast<std::size_t>(length - got),
                            static_cast<off_t>(inOffset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(CopyError::Side::Reading);
        }
        if (n == 0) break;
        got += n;
    }
    std::int64_t put = 0;
    while (put < got) {
        ssize_t n = ::pwrite(out_, buffer_.data() + put, static_cast<std::size_t>(got - put),
                             static_cast<off_t>(outOffset + put));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(CopyError::Side::Writing);
        }
        put += n;
    }
#ifdef __linux__
    // Start writeback now, so that the flush before the rename does not find a
    // whole file of dirty pages. Only a hint: the flush reports any failure.
    ::sync_file_range(out_, outOffset, got, SYNC_FILE_RANGE_WRITE);
#endif
    return got;
}

}  // namespace keeptime
