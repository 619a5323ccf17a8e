// Copies that share the input's blocks instead of writing them again, on file
// systems that can (XFS with reflink, Btrfs, OpenZFS 2.2 and later). This is the
// one place that knows how a system does it; elsewhere the calls simply report
// that nothing was shared, and the copy goes through memory as before.
#pragma once

#include <cstdint>

namespace keeptime::shared {

// The block size that file system of fd shares in: its f_bsize, 4096 when that
// is no power of two from 512 to 64 KiB; 0 where sharing is not built in.
std::int64_t blockSize(int fd);

// Makes length bytes of out at outOffset the same blocks as in at inOffset
// (ioctl FICLONERANGE). Offsets and length are whole blocks. Returns 0, or the
// errno value it failed with.
int clone(int in, std::int64_t inOffset, int out, std::int64_t outOffset, std::int64_t length);

// Copies up to length bytes inside the kernel (copy_file_range), which may share
// them. Returns the bytes copied, or minus the errno value it failed with.
std::int64_t copyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset, std::int64_t length);

}  // namespace keeptime::shared
