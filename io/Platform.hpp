// The system calls that differ between systems, each with the portable way
// beside it. Every #if for a system in the core is here or in SharedBlocks.cpp.
// Built with KEEPTIME_PORTABLE (cmake -DKEEPTIME_LINUX_CALLS=OFF), Linux takes
// the portable ways too, so that the paths other systems take are tested here.
#pragma once

#include <cstdint>
#include <filesystem>

#if defined(__linux__) && !defined(KEEPTIME_PORTABLE)
#define KEEPTIME_LINUX_CALLS 1
#endif

namespace keeptime::platform {

// A file with no name yet in folder (Linux O_TMPFILE), open for reading and
// writing: nothing is left behind if the process dies. -1 with errno set where
// the system or the file system has none (EOPNOTSUPP, EISDIR or EINVAL).
int openUnnamed(const std::filesystem::path& folder);
// Gives the unnamed file fd the name to; -1 with errno (EEXIST when it is taken).
int nameUnnamed(int fd, const std::filesystem::path& to);

// Renames from to to unless a file stands there (-1 with EEXIST): renameat2's
// RENAME_NOREPLACE on Linux, renamex_np's RENAME_EXCL on macOS, else a hard
// link and an unlink.
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes fd's data durable: fsync; on macOS fcntl F_FULLFSYNC, which also
// empties the drive's own cache (fsync there does not).
int flush(int fd);

// Hints that change no result: drop a file's cached pages in [from, from + length),
// and start writing back a range now so that the final flush finds less to do.
void dropCache(int fd, std::int64_t from, std::int64_t length);
void startWriteback(int fd, std::int64_t offset, std::int64_t length);

}  // namespace keeptime::platform
