#include "bwf/OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace keeptime {

namespace {

[[noreturn]] void failed(const std::filesystem::path& path, const std::string& doing, int error = errno) {
    throwSystemError(BWFError::Kind::Output, error, path, doing);
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
    auto folder = path.parent_path();
    return folder.empty() ? "." : folder;
}

// Read once, before any copy's thread exists: changing the umask to read it
// would race with files other threads create.
const mode_t kUmask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

// A hidden name beside destination that no finished copy can have, short
// enough for any filesystem's 255-byte limit.
std::filesystem::path hiddenName(const std::filesystem::path& destination) {
    std::string base = destination.filename().string();
    constexpr std::size_t kRoom = 255 - 1 - 16;  // "." and ".keeptime-XXXXXX"
    if (base.size() > kRoom) {
        base.resize(kRoom);
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80) base.pop_back();
        if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xC0) base.pop_back();
    }
    return folderOf(destination) / ("." + base + ".keeptime-XXXXXX");
}

std::filesystem::path randomName(const std::filesystem::path& destination) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = hiddenName(destination).string();
    name.resize(name.size() - 6);
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < 6; ++i) name += letters[random() % 36];
    return name;
}

std::atomic<bool> unnamedFirst{true};

}  // namespace

void OutputFile::preferUnnamed(bool on) { unnamedFirst = on; }

std::filesystem::path checkOutput(const std::filesystem::path& destination, bool replace) {
    if (destination.empty()) throw BWFError(BWFError::Kind::Output, destination, "no output file name given");
    std::filesystem::path target = destination;
    struct stat info {};
    // Follow symbolic links, as editors do: the file they name is the one replaced.
    for (int hops = 0; ::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode); ++hops) {
        std::error_code error;
        const auto next = std::filesystem::read_symlink(target, error);
        if (error || hops == 40) failed(destination, "cannot follow the link", error ? error.value() : ELOOP);
        target = next.is_absolute() ? next : folderOf(target) / next;
    }
    if (::stat(target.c_str(), &info) != 0) {
        if (errno == ENOENT) return target;
        failed(destination, "cannot use the output");
    }
    if (S_ISDIR(info.st_mode)) throw BWFError(BWFError::Kind::Output, destination, "is a folder; the copy needs a file name");
    if (!S_ISREG(info.st_mode))
        throw BWFError(BWFError::Kind::Output, destination, "is a device, FIFO or socket, not a file; it is never replaced");
    if (!replace) throw BWFError(BWFError::Kind::Output, destination, "already exists; add --force to replace it");
    return target;
}

OutputFile::OutputFile(std::filesystem::path destination, bool replace)
    : destination_(std::move(destination)), replace_(replace) {
    const std::filesystem::path folder = folderOf(destination_);
    int fd = -1;
#ifdef O_TMPFILE
    // Unnamed until it is complete: nothing is left behind, even after a kill.
    if (unnamedFirst) fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0 && unnamedFirst && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        failed(destination_, "cannot create the copy");
#endif
    if (fd < 0) {
        std::string pattern = hiddenName(destination_).string();
        fd = ::mkstemp(pattern.data());
        if (fd < 0) failed(destination_, "cannot create the copy");
        named_ = pattern;
        ::fchmod(fd, 0666 & ~kUmask);
    }
    file_ = FileHandle(fd, named_.empty() ? destination_ : named_);
    // A replaced file keeps its permissions, and its owner where we may set it.
    struct stat old {};
    if (replace_ && ::stat(destination_.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        if (::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) == 0) ::fchmod(fd, old.st_mode & 07777);
    }
}

OutputFile::~OutputFile() {
    if (!done_) discard();
}

void OutputFile::writeAt(std::int64_t offset, ByteView bytes) { writeFully(file_.fd(), bytes, offset, destination_); }

bool OutputFile::commit(const std::function<bool()>& place) {
    if (::fsync(file_.fd()) != 0) failed(destination_, "cannot write the copy to disk");
    if (place && !place()) return false;
    std::filesystem::path linked = named_;
    if (named_.empty()) {
        // Give the unnamed file a name: the output's own, unless it may be replaced.
        const std::string self = "/proc/self/fd/" + std::to_string(file_.fd());
        linked = replace_ ? randomName(destination_) : destination_;
        int tries = 0;
        while (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, linked.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST && !replace_)
                throw BWFError(BWFError::Kind::Output, destination_, "appeared while copying; nothing was replaced");
            if (errno != EEXIST || ++tries == 10) failed(destination_, "cannot put the finished copy in place");
            linked = randomName(destination_);
        }
        if (!replace_) linked.clear();
    }
    if (!linked.empty()) {
        int placed = -1;
        if (replace_) {
            placed = ::rename(linked.c_str(), destination_.c_str());
        } else {
#ifdef RENAME_NOREPLACE
            placed = ::renameat2(AT_FDCWD, linked.c_str(), AT_FDCWD, destination_.c_str(), RENAME_NOREPLACE);
            if (placed != 0 && (errno == EINVAL || errno == ENOSYS)) placed = ::link(linked.c_str(), destination_.c_str());
#else
            placed = ::link(linked.c_str(), destination_.c_str());
#endif
        }
        const int error = errno;
        if (placed != 0 || !replace_) ::unlink(linked.c_str());  // after a link, the hidden name goes
        if (placed != 0 && error == EEXIST)
            throw BWFError(BWFError::Kind::Output, destination_, "appeared while copying; nothing was replaced");
        if (placed != 0) failed(destination_, "cannot put the finished copy in place", error);
    }
    named_.clear();
    done_ = true;
    file_.close();
    // Make the new name itself durable.
    int folder = ::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::optional<BWFError> OutputFile::discard() noexcept {
    if (done_) return std::nullopt;
    done_ = true;
    try {
        file_.close();
    } catch (const BWFError&) {
        // Being removed anyway.
    }
    if (named_.empty() || ::unlink(named_.c_str()) == 0 || errno == ENOENT) return std::nullopt;
    return BWFError(BWFError::Kind::Output, named_,
                    std::string("the unfinished copy could not be removed: ") + std::strerror(errno));
}

}  // namespace keeptime
