#include "io/SharedBlocks.hpp"

#include <cerrno>

#include "io/Platform.hpp"

#ifdef KEEPTIME_LINUX_CALLS
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace keeptime::shared {

#ifdef KEEPTIME_LINUX_CALLS

std::int64_t blockSize(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return 4096;
    const auto size = static_cast<std::int64_t>(info.f_bsize);
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0 ? size : 4096;
}

int clone(int in, std::int64_t inOffset, int out, std::int64_t outOffset, std::int64_t length) {
    const file_clone_range range{in, static_cast<__u64>(inOffset), static_cast<__u64>(length),
                                 static_cast<__u64>(outOffset)};
    return ::ioctl(out, FICLONERANGE, &range) == 0 ? 0 : errno;
}

std::int64_t copyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset, std::int64_t length) {
    off_t from = inOffset, to = outOffset;
    const ssize_t copied = ::copy_file_range(in, &from, out, &to, static_cast<std::size_t>(length), 0);
    return copied >= 0 ? copied : -errno;
}

#else

// Elsewhere, and in the portable build, a stretch is always written anew: macOS
// clones only whole files (clonefile), and a copy is never the whole input.
std::int64_t blockSize(int) { return 0; }
int clone(int, std::int64_t, int, std::int64_t, std::int64_t) { return ENOTSUP; }
std::int64_t copyRange(int, std::int64_t, int, std::int64_t, std::int64_t) { return -ENOTSUP; }

#endif

}  // namespace keeptime::shared
