#include "bwf/BlockCopier.hpp"

#include <unistd.h>

#include <cerrno>

namespace keeptime {

namespace {
[[noreturn]] void fail(CopyError::Side side) {
    throw CopyError{side, std::error_code(errno, std::generic_category())};
}
}  // namespace

std::int64_t BlockCopier::copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length) {
    if (inKernel_) {
        const std::int64_t copied = copyInKernel(inOffset, outOffset, length);
        if (inKernel_) return copied;
        // Not supported here: the rest goes through the buffer.
        return copied + copyThroughBuffer(inOffset + copied, outOffset + copied, length - copied);
    }
    return copyThroughBuffer(inOffset, outOffset, length);
}

std::int64_t BlockCopier::copyInKernel(std::int64_t inOffset, std::int64_t outOffset,
                                       std::int64_t length) {
#ifdef __linux__
    std::int64_t done = 0;
    while (done < length) {
        loff_t from = inOffset + done;
        loff_t to = outOffset + done;
        ssize_t copied = ::copy_file_range(in_, &from, out_, &to,
                                           static_cast<std::size_t>(length - done), 0);
        if (copied < 0) {
            if (errno == EINTR) continue;
            if (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == ETXTBSY || errno == EPERM || errno == EBADF) {
                inKernel_ = false;
                return done;
            }
            fail(CopyError::Side::Either);
        }
        if (copied == 0) break;
        done += copied;
    }
    return done;
#else
    (void)inOffset;
    (void)outOffset;
    (void)length;
    inKernel_ = false;
    return 0;
#endif
}

std::int64_t BlockCopier::copyThroughBuffer(std::int64_t inOffset, std::int64_t outOffset,
                                            std::int64_t length) {
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
    return got;
}

}  // namespace keeptime
