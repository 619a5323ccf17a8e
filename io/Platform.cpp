#include "io/Platform.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace keeptime::platform {

int openUnnamed([[maybe_unused]] const std::filesystem::path& folder) {
#if defined(KEEPTIME_LINUX_CALLS) && defined(O_TMPFILE)
    return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#else
    errno = EOPNOTSUPP;
    return -1;
#endif
}

int nameUnnamed([[maybe_unused]] int fd, [[maybe_unused]] const std::filesystem::path& to) {
#ifdef KEEPTIME_LINUX_CALLS
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW);
#else
    errno = EOPNOTSUPP;  // no unnamed file was ever opened
    return -1;
#endif
}

int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
#if defined(KEEPTIME_LINUX_CALLS) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#elif defined(__APPLE__) && !defined(KEEPTIME_PORTABLE)
    if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) return 0;
    if (errno != ENOTSUP) return -1;
#endif
    // A second name, then the first removed: the link fails where a file stands.
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    ::unlink(from.c_str());
    return 0;
}

int flush(int fd) {
#if defined(__APPLE__) && defined(F_FULLFSYNC)
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;  // some file systems have no full flush: fsync then
#endif
    return ::fsync(fd);
}

void dropCache([[maybe_unused]] int fd, [[maybe_unused]] std::int64_t from, [[maybe_unused]] std::int64_t length) {
#ifdef KEEPTIME_LINUX_CALLS
    ::posix_fadvise(fd, from, length, POSIX_FADV_DONTNEED);
#endif
}

void startWriteback([[maybe_unused]] int fd, [[maybe_unused]] std::int64_t offset, [[maybe_unused]] std::int64_t length) {
#ifdef KEEPTIME_LINUX_CALLS
    ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
#endif
}

}  // namespace keeptime::platform
