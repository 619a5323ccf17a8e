#include "io/File.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace keeptime {

void throwSystemError(BWFError::Kind kind, int error, const std::filesystem::path& path,
                      const std::string& doing) {
    throw BWFError(kind, path, doing + ": " + std::strerror(error));
}

namespace {
[[noreturn]] void unreadable(const std::filesystem::path& path, const std::string& doing) {
    throwSystemError(BWFError::Kind::Unreadable, errno, path, doing);
}
}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

FileHandle FileHandle::openForReading(const std::filesystem::path& path) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) unreadable(path, "cannot open the file");
    FileHandle file(fd, path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) unreadable(path, "cannot read the file");
    if (S_ISDIR(info.st_mode)) throw BWFError(BWFError::Kind::Unreadable, path, "is a folder, not a file");
    if (!S_ISREG(info.st_mode))
        throw BWFError(BWFError::Kind::Unreadable, path, "is a device, FIFO or socket, not a recording file");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

std::size_t readFully(int fd, std::uint8_t* buffer, std::size_t length, std::int64_t offset,
                      const std::filesystem::path& path) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, buffer + done, length - done,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
            unreadable(path, "cannot read the file");
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void writeFully(int fd, ByteView bytes, std::int64_t offset, const std::filesystem::path& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                       static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (wrote < 0) {
            if (errno == EINTR) continue;
            throwSystemError(BWFError::Kind::Output, errno, path, "cannot write the copy");
        }
        done += static_cast<std::size_t>(wrote);
    }
}

Bytes FileHandle::readAt(std::int64_t offset, std::size_t length) const {
    Bytes buffer(length);
    buffer.resize(readFully(fd_, buffer.data(), length, offset, path_));
    return buffer;
}

std::int64_t FileHandle::size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) unreadable(path_, "cannot read the file's length");
    return static_cast<std::int64_t>(info.st_size);
}

FileHandle::Version FileHandle::version() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) unreadable(path_, "cannot read the file's times");
    const auto ns = [](const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
    return {static_cast<std::int64_t>(info.st_size), ns(info.st_mtim), ns(info.st_ctim)};
}

void FileHandle::close() {
    if (fd_ < 0) return;
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR)
        throwSystemError(BWFError::Kind::Output, errno, path_, "cannot finish writing the file");
}

std::uint8_t* PageBuffer::place(std::size_t length, std::int64_t from, std::int64_t to) {
    constexpr std::int64_t kPage = 4096, kNear = 32;
    const auto phase = [](std::int64_t offset) { return (offset % kPage + kPage) % kPage; };
    std::int64_t at = phase(from);  // the read's destination at its source's offset
    if (to >= 0 && phase(to - from) > 0 && phase(to - from) < kNear)
        at = phase(at + kNear);  // the write's destination would sit just past its source
    memory_.resize(std::max(memory_.size(), length + 2 * kPage));
    const auto base = (reinterpret_cast<std::uintptr_t>(memory_.data()) + kPage - 1) / kPage * kPage;
    return reinterpret_cast<std::uint8_t*>(base) + at;
}

std::optional<FileId> fileId(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.parent_path().empty() ? "." : file.parent_path();
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace keeptime
