#include "bwf/OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "bwf/BWFError.hpp"

namespace keeptime {

namespace {

[[noreturn]] void failed(const std::filesystem::path& path, const std::string& doing) {
    throwSystemError(BWFError::Kind::Output, errno, path, doing);
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
    auto folder = path.parent_path();
    return folder.empty() ? "." : folder;
}

// Permissions a newly created file would get: 0666 less the umask.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(std::filesystem::path destination) : destination_(std::move(destination)) {
    // Name the temporary file so that it cannot pass for the finished copy.
    std::string name = destination_.filename().string();
    name.insert(name.begin(), '.');
    name += ".keeptime-XXXXXX";
    std::string pattern = (folderOf(destination_) / name).string();
    int fd = ::mkstemp(pattern.data());
    if (fd >= 0) {
        file_ = FileHandle(fd, pattern);
        ::fchmod(fd, newFileMode());
        return;
    }
    if (errno == ENOENT || errno == ENOTDIR) failed(destination_, "cannot create the copy");
    // A folder that refuses a second file (a sandbox, a drop box) may still
    // accept the output itself.
    fd = ::open(destination_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) failed(destination_, "cannot create the copy");
    file_ = FileHandle(fd, destination_);
    direct_ = true;
}

OutputFile::~OutputFile() {
    if (!done_) discard();
}

void OutputFile::writeAt(std::int64_t offset, ByteView bytes) {
    writeFully(file_.fd(), bytes, offset, destination_);
}

void OutputFile::commit() {
    if (::fsync(file_.fd()) != 0) failed(destination_, "cannot write the copy to disk");
    file_.close();
    if (!direct_) {
        if (::rename(file_.path().c_str(), destination_.c_str()) != 0)
            failed(destination_, "cannot put the finished copy in place");
        // Make the new name itself durable.
        int folder = ::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
    done_ = true;
}

void OutputFile::discard() noexcept {
    if (done_) return;
    done_ = true;
    try {
        file_.close();
    } catch (const BWFError&) {
        // Being removed anyway.
    }
    ::unlink(file_.path().c_str());
}

}  // namespace keeptime
