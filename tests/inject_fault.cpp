// Preloaded into addtwo by the tests (LD_PRELOAD) to make its reads of
// standard input and writes of standard output behave as rare devices and
// busy systems do.  INJECT_FAULT names the fault:
//   write-0      every write takes nothing and gives no error
//   write-eio-2  the second write fails with EIO
//   one-byte     every read and write moves one byte at most
//   eintr        every other read and write is interrupted before it starts
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string_view fault()
{
    char const* const name = std::getenv("INJECT_FAULT");
    return name != nullptr ? name : "";
}

bool interrupted()
{
    static bool interrupt = false;
    interrupt = !interrupt;
    if (fault() == "eintr" && interrupt) {
        errno = EINTR;
        return true;
    }
    return false;
}

std::size_t allowed(std::size_t size)
{
    return fault() == "one-byte" ? std::min<std::size_t>(size, 1) : size;
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size)
{
    if (fd == STDIN_FILENO && interrupted()) {
        return -1;
    }
    return syscall(SYS_read, fd, buffer, fd == STDIN_FILENO ? allowed(size) : size);
}

extern "C" ssize_t write(int fd, void const* buffer, std::size_t size)
{
    if (fd == STDOUT_FILENO) {
        static int writes = 0;
        ++writes;
        if (fault() == "write-0") {
            return 0;
        }
        if (fault() == "write-eio-2" && writes == 2) {
            errno = EIO;
            return -1;
        }
        if (interrupted()) {
            return -1;
        }
        size = allowed(size);
    }
    return syscall(SYS_write, fd, buffer, size);
}
