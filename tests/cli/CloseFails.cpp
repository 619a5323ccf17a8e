// Preloaded into keeptime-cli by CloseFailsTest: close() of the file at
// $KEEPTIME_FAIL_CLOSE closes it, then says it failed (EIO), as a network or
// full file system can after the data was flushed.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" int close(int fd) {
    using Close = int (*)(int);
    static const auto real = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "close"));
    bool fail = false;
    // By identity: an unnamed file linked in place still reads as "#N (deleted)" in /proc.
    struct stat open {}, named {};
    if (const char* target = std::getenv("KEEPTIME_FAIL_CLOSE"))
        fail = fstat(fd, &open) == 0 && stat(target, &named) == 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
    const int result = real(fd);
    if (!fail) return result;
    errno = EIO;
    return -1;
}
