#include "io/OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/Platform.hpp"

namespace keeptime {

using platform::renameNoReplace;

namespace {

[[noreturn]] void failed(const std::filesystem::path& path, const std::string& doing, int error = errno) {
    throwSystemError(BWFError::Kind::Output, error, path, doing);
}

// Read once, before any copy's thread exists: changing the umask to read it
// would race with files other threads create.
const mode_t kUmask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

// A hidden name beside destination that no finished copy can have, short
// enough for any filesystem's 255-byte limit: ".NAME.TAG-XXXXXX".
std::filesystem::path hiddenName(const std::filesystem::path& destination, std::string_view tag) {
    std::string base = destination.filename().string();
    const std::size_t room = 255 - 1 - (tag.size() + 8);  // "." and ".TAG-XXXXXX"
    if (base.size() > room) {
        base.resize(room);
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80) base.pop_back();
        if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xC0) base.pop_back();
    }
    return folderOf(destination) / ("." + base + "." + std::string(tag) + "-XXXXXX");
}

std::filesystem::path randomName(const std::filesystem::path& destination, std::string_view tag) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = hiddenName(destination, tag).string();
    name.resize(name.size() - 6);
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < 6; ++i) name += letters[random() % 36];
    return name;
}

// Names a copy has before it is put in place, and the file a save replaces
// until the save is whole: a person who finds one after a crash can tell which.
constexpr std::string_view kCopyTag = "keeptime", kOriginalTag = "keeptime-original";

void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        platform::flush(fd);
        ::close(fd);
    }
}

std::atomic<bool> unnamedFirst{true};

}  // namespace

void OutputFile::preferUnnamed(bool on) { unnamedFirst = on; }

std::vector<std::filesystem::path> leftovers(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        for (std::string_view tag : {kCopyTag, kOriginalTag}) {
            const std::string mark = "." + std::string(tag) + "-";
            // ".NAME" + mark + six letters or digits
            if (name.size() > mark.size() + 7 && name.front() == '.' &&
                name.compare(name.size() - 6 - mark.size(), mark.size(), mark) == 0 &&
                std::all_of(name.end() - 6, name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
                found.push_back(entry.path());
                break;
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

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
    // Unnamed until it is complete: nothing is left behind, even after a kill.
    if (unnamedFirst) fd = platform::openUnnamed(folder);
    if (fd < 0 && unnamedFirst && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        failed(destination_, "cannot create the copy");
    if (fd < 0) {
        std::string pattern = hiddenName(destination_, kCopyTag).string();
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
    if (platform::flush(file_.fd()) != 0) failed(destination_, "cannot write the copy to disk");
    if (place && !place()) return false;
    std::filesystem::path linked = named_;
    if (named_.empty()) {
        // Give the unnamed file a name: the output's own, unless it may be replaced.
        linked = replace_ ? randomName(destination_, kCopyTag) : destination_;
        int tries = 0;
        while (platform::nameUnnamed(file_.fd(), linked) != 0) {
            if (errno == EEXIST && !replace_)
                throw BWFError(BWFError::Kind::Output, destination_, "appeared while copying; nothing was replaced");
            if (errno != EEXIST || ++tries == 10) failed(destination_, "cannot put the finished copy in place");
            linked = randomName(destination_, kCopyTag);
        }
        if (!replace_) linked.clear();
    }
    if (!linked.empty()) {
        // What stands at the output now, not what stood there when the copy began: a FIFO,
        // socket, folder or link put there meanwhile is never replaced.
        struct stat there {};
        if (replace_ && ::lstat(destination_.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {
            ::unlink(linked.c_str());
            throw BWFError(BWFError::Kind::Output, destination_,
                           "is no longer a file (something else took its place while copying); it is never replaced");
        }
        const int placed = replace_ ? ::rename(linked.c_str(), destination_.c_str()) : renameNoReplace(linked, destination_);
        const int error = errno;
        if (placed != 0) ::unlink(linked.c_str());
        if (placed != 0 && error == EEXIST)
            throw BWFError(BWFError::Kind::Output, destination_, "appeared while copying; nothing was replaced");
        if (placed != 0) failed(destination_, "cannot put the finished copy in place", error);
    }
    named_.clear();
    done_ = true;
    // The copy is in place and was flushed before: a close that fails now loses nothing, and
    // reporting a failure would tell of a copy that is not there.
    try {
        file_.close();
    } catch (const BWFError&) {
    }
    syncFolder(folderOf(destination_));  // the new name itself made durable
    return true;
}

std::filesystem::path OutputFile::stage() {
    if (platform::flush(file_.fd()) != 0) failed(destination_, "cannot write the copy to disk");
    if (named_.empty()) {
        for (int tries = 0;; ++tries) {
            const std::filesystem::path name = randomName(destination_, kCopyTag);
            if (platform::nameUnnamed(file_.fd(), name) == 0) {
                named_ = name;
                break;
            }
            if (errno != EEXIST || tries == 9) failed(destination_, "cannot keep the finished copy beside the output");
        }
    }
    file_.close();  // a failed close leaves named_ for discard() to remove
    done_ = true;
    return std::exchange(named_, {});
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

Placement::~Placement() {
    if (!finished_) undo();
}

void Placement::place(const std::filesystem::path& staged, const std::filesystem::path& destination, bool replace) {
    struct stat copy {};
    if (::stat(staged.c_str(), &copy) != 0) failed(destination, "cannot find the finished copy at " + staged.string());
    Placed entry{destination, {}, static_cast<std::uint64_t>(copy.st_dev), static_cast<std::uint64_t>(copy.st_ino)};
    if (renameNoReplace(staged, destination) == 0) return placed_.push_back(entry);
    if (errno != EEXIST) failed(destination, "cannot put the finished copy in place");
    if (!replace) throw BWFError(BWFError::Kind::Output, destination, "appeared while copying; nothing was replaced");
    struct stat there {};
    if (::lstat(destination.c_str(), &there) == 0 && !S_ISREG(there.st_mode))
        throw BWFError(BWFError::Kind::Output, destination,
                       "is no longer a file (something else took its place while copying); it is never replaced");

    // The file there stays under a hidden name until the whole save is in place:
    // a second name for it, or where the file system has none (FAT, exFAT), the
    // file itself moved there, its name free for a moment.
    bool moved = false;
    for (int tries = 0;; ++tries) {
        entry.kept = randomName(destination, kOriginalTag);
        if (::link(destination.c_str(), entry.kept.c_str()) == 0) break;
        if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK || errno == ENOSYS) {
            moved = renameNoReplace(destination, entry.kept) == 0;
            if (moved) break;
        }
        if (errno == ENOENT && renameNoReplace(staged, destination) == 0) {  // removed meanwhile: nothing to keep
            entry.kept.clear();
            return placed_.push_back(entry);
        }
        if (errno != EEXIST || tries == 9) failed(destination, "cannot keep the file the copy replaces");
    }
    if (::rename(staged.c_str(), destination.c_str()) != 0) {
        const int error = errno;
        if (moved) ::rename(entry.kept.c_str(), destination.c_str());
        else ::unlink(entry.kept.c_str());
        failed(destination, "cannot put the finished copy in place", error);
    }
    placed_.push_back(entry);
}

void Placement::finish() noexcept {
    finished_ = true;
    std::vector<std::filesystem::path> folders;
    for (const Placed& entry : placed_) {
        if (!entry.kept.empty()) ::unlink(entry.kept.c_str());
        if (std::find(folders.begin(), folders.end(), folderOf(entry.destination)) == folders.end())
            folders.push_back(folderOf(entry.destination));
    }
    for (const auto& folder : folders) syncFolder(folder);
    placed_.clear();
}

std::optional<BWFError> Placement::undo() noexcept {
    finished_ = true;
    std::optional<BWFError> problem;
    auto report = [&](const std::filesystem::path& path, const std::string& what, const std::string& then = "") {
        if (!problem) problem = BWFError(BWFError::Kind::Output, path, what + " (" + std::strerror(errno) + ")" + then);
    };
    std::vector<std::filesystem::path> folders;
    for (auto entry = placed_.rbegin(); entry != placed_.rend(); ++entry) {
        const std::filesystem::path& destination = entry->destination;
        struct stat now {};
        if (!entry->kept.empty()) {
            if (::rename(entry->kept.c_str(), destination.c_str()) != 0)
                report(destination, "the file this save replaced could not be put back", "; it is kept as " + entry->kept.string());
        } else if (::stat(destination.c_str(), &now) == 0 && static_cast<std::uint64_t>(now.st_dev) == entry->device &&
                   static_cast<std::uint64_t>(now.st_ino) == entry->inode && ::unlink(destination.c_str()) != 0) {
            report(destination, "the copy could not be removed after the save stopped");
        }
        if (std::find(folders.begin(), folders.end(), folderOf(destination)) == folders.end())
            folders.push_back(folderOf(destination));
    }
    for (const auto& folder : folders) syncFolder(folder);
    placed_.clear();
    return problem;
}

}  // namespace keeptime
