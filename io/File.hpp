// Thin POSIX file handles for the parser and the copy job, and the one place
// where reads and writes are looped until done. Failures become BWFError with
// the system's own reason and the file's path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <compare>
#include <filesystem>
#include <optional>

#include "base/BWFError.hpp"
#include "base/Bytes.hpp"

namespace keeptime {

class FileHandle {
public:
    FileHandle() = default;
    FileHandle(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    static FileHandle openForReading(const std::filesystem::path& path);

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Reads up to length bytes from offset; fewer only at the end of the file.
    Bytes readAt(std::int64_t offset, std::size_t length) const;
    std::int64_t size() const;
    // What changes whenever the file's bytes do: its length and its modification
    // and change times, to the nanosecond. Equal versions: nothing was written between.
    struct Version {
        std::int64_t size = 0, modified = 0, changed = 0;
        bool operator==(const Version&) const = default;
    };
    Version version() const;
    // Closes now, reporting a failed close (which can lose written data).
    void close();

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

// Reads into buffer from offset until it is full or the file ends; returns the
// bytes read. Throws BWFError (Unreadable) naming path.
std::size_t readFully(int fd, std::uint8_t* buffer, std::size_t length, std::int64_t offset,
                      const std::filesystem::path& path);
// Writes all of bytes at offset. Throws BWFError (Output) naming path.
void writeFully(int fd, ByteView bytes, std::int64_t offset, const std::filesystem::path& path);

// A reused buffer for large reads and writes that puts the data at a chosen offset
// within a page. The kernel's copy between the page cache and a process ran two to
// five times slower (AMD EPYC, Linux 6.18) when its destination sat 1 to 31 bytes past
// its source's offset within a page. A buffer from malloc starts 16 bytes into a
// page, so some files met that on every block: those whose audio starts on a page
// boundary, as recorders that pad their headers write it.
class PageBuffer {
public:
    // Room for length bytes, placed for a read from file offset from and, when to is
    // not negative, a write of the same bytes to file offset to.
    std::uint8_t* place(std::size_t length, std::int64_t from, std::int64_t to = -1);

private:
    Bytes memory_;
};

// A file's identity (device and inode), links followed; nothing when it is not there.
struct FileId {
    std::uint64_t device = 0, inode = 0;
    auto operator<=>(const FileId&) const = default;
};
std::optional<FileId> fileId(const std::filesystem::path& path);
// The folder a file stands in: "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& file);
// Whether two paths name the same file, also through hard or symbolic links.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// An error made of the caller's words and the system's reason for errno value error.
[[noreturn]] void throwSystemError(BWFError::Kind kind, int error,
                                   const std::filesystem::path& path, const std::string& doing);

}  // namespace keeptime
