// Preloaded into addtwo by the tests (LD_PRELOAD) to make its reads of
// standard input and writes of standard output behave as rare devices and
// busy systems do.  INJECT_FAULT names the fault:
//   write-0      every write takes nothing and gives no error
//   write-eio-N  the Nth write fails with EIO
//   one-byte     every read and write moves one byte at most
//   eintr        every other read and write is interrupted before it starts
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// How many of `size` bytes a call may move, or -1 with errno set.
ssize_t allowed(std::size_t size, bool writing)
{
    static int calls = 0;
    static int writes = 0;
    ++calls;
    writes += writing;
    char const* const name = std::getenv("INJECT_FAULT");
    std::string_view const fault = name != nullptr ? name : "";
    if (fault == "write-0" && writing) {
        return 0;
    }
    if (writing && fault.starts_with("write-eio-") && std::atoi(name + 10) == writes) {
        errno = EIO;
        return -1;
    }
    if (fault == "eintr" && calls % 2 == 1) {
        errno = EINTR;
        return -1;
    }
    return static_cast<ssize_t>(fault == "one-byte" ? std::min<std::size_t>(size, 1) : size);
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size)
{
    ssize_t const n = fd == STDIN_FILENO ? allowed(size, false) : static_cast<ssize_t>(size);
    return n < 0 ? n : syscall(SYS_read, fd, buffer, n);
}

extern "C" ssize_t write(int fd, void const* buffer, std::size_t size)
{
    ssize_t const n = fd == STDOUT_FILENO ? allowed(size, true) : static_cast<ssize_t>(size);
    return n <= 0 ? n : syscall(SYS_write, fd, buffer, n);
}
