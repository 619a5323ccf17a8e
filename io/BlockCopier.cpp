#include "io/BlockCopier.hpp"

#include "io/Platform.hpp"
#include "io/SharedBlocks.hpp"

namespace keeptime {

void BlockCopier::releaseAsCopied(const std::filesystem::path& replaced) {
    try {
        replaced_ = FileHandle::openForReading(replaced);
    } catch (const BWFError&) {
        // Gone, unreadable or no file: its cache, if any, is freed when it is replaced.
    }
}

std::int64_t BlockCopier::copy(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length) {
    if (replaced_) {
        // Whole pages: the kernel keeps any page the range only partly covers.
        constexpr std::int64_t kPage = 4096;
        const std::int64_t from = outOffset / kPage * kPage;
        const std::int64_t to = (outOffset + length + kPage - 1) / kPage * kPage;
        platform::dropCache(replaced_.fd(), from, to - from);
    }
    std::uint8_t* buffer = buffer_.place(static_cast<std::size_t>(length), inOffset, outOffset);
    const std::size_t got = readFully(in_.fd(), buffer, static_cast<std::size_t>(length), inOffset, in_.path());
    writeFully(out_, ByteView(buffer, got), outOffset, outPath_);
    // Start writeback now, so that the flush before the rename does not find a
    // whole file of dirty pages. Only a hint: the flush reports any failure.
    platform::startWriteback(out_, outOffset, static_cast<std::int64_t>(got));
    return static_cast<std::int64_t>(got);
}

BlockCopier::Shared BlockCopier::share(std::int64_t inOffset, std::int64_t outOffset, std::int64_t length,
                                       const Fault& fault) {
    auto injected = [&](std::string_view call) { return fault ? fault(call) : 0; };
    if (way_ == Way::Clone) {
        int error = injected("FICLONERANGE");
        if (error == 0) error = shared::clone(in_.fd(), inOffset, out_, outOffset, length);
        if (error == 0) return {length, length};
        way_ = Way::CopyRange;
    }
    // Any failure here (EXDEV, EOPNOTSUPP, EINVAL, ENOSPC…) leaves the rest to
    // copy(), whose reads and writes report what is really wrong.
    std::int64_t done = 0;
    while (way_ == Way::CopyRange && done < length) {
        const std::int64_t copied = injected("copy_file_range")
                                        ? -1
                                        : shared::copyRange(in_.fd(), inOffset + done, out_, outOffset + done,
                                                            length - done);
        if (copied > 0) done += copied;
        else way_ = Way::Buffer;  // 0: the input ended, which the buffered copy finds too
    }
    return {done, 0};
}

}  // namespace keeptime
