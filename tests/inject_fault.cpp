// Preloaded into addtwo by the tests (LD_PRELOAD) to make its reads of
// standard input, writes of standard output and error, waits and close behave
// as rare devices and busy systems do.  INJECT_FAULT names the fault:
//   write-0            every write takes nothing and gives no error
//   write-eio-N        the Nth write fails with EIO
//   read-eio-N         each read before the Nth moves one byte at most; the Nth
//                      fails with EIO, having filled the buffer from the input's
//                      offset where it has one
//   read-eilseq        every read fails with EILSEQ
//   one-byte           every read and write moves one byte at most
//   read-short         every other read, from the first on, moves one byte at most
//   eintr              every other read and write is interrupted before it starts
//   eagain-poll-eintr  every other read, write and poll would block / is interrupted
//   read-poll-enomem   every other read would block, and poll fails with ENOMEM
//   write-poll-enomem  every other write would block, and poll fails with ENOMEM
//   write-poll-hup     every write would block, and poll reports a hang-up
//   close-eio          closing standard output fails with EIO (close-edquot: EDQUOT),
//                      also after another fault: write-eio-3+close-edquot
//   stderr-full        every write to standard error would block until it is polled
// It calls the system directly, since read, write, poll and close are its own.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

char const* const name = std::getenv("INJECT_FAULT");
std::string_view const fault = name != nullptr ? name : "";
char const* const log = std::getenv("INJECT_FAULT_LOG");

// Notes an injected fault on the descriptor INJECT_FAULT_LOG names, where the
// tests count them; returns `result`, with errno set to `error` unless that is 0.
ssize_t injected(ssize_t result, int error = 0)
{
    if (log != nullptr) {
        syscall(SYS_write, std::atoi(log), "!", 1);
    }
    if (error != 0) {
        errno = error;
    }
    return result;
}

// How many of `size` bytes a call may move, or -1 with errno set.
ssize_t allowed(std::size_t size, bool writing)
{
    static int calls[2] = {0, 0}; // reads, writes
    int const call = ++calls[writing];
    bool const odd = call % 2 == 1;
    bool const would_block =
        (odd && fault == "eagain-poll-eintr") ||
        (odd && fault == (writing ? "write-poll-enomem" : "read-poll-enomem")) ||
        (writing && fault == "write-poll-hup");
    std::string_view const eio_fault = writing ? "write-eio-" : "read-eio-";
    int const eio_call = fault.starts_with(eio_fault) ? std::atoi(name + eio_fault.size()) : 0;
    int const error = odd && fault == "eintr"              ? EINTR
                      : would_block                        ? EAGAIN
                      : call == eio_call                   ? EIO
                      : !writing && fault == "read-eilseq" ? EILSEQ
                                                           : 0;
    bool const one_byte = fault == "one-byte" || (!writing && odd && fault == "read-short") ||
                          (!writing && call < eio_call);
    bool const nothing = writing && fault == "write-0";
    std::size_t const moved = nothing ? 0 : one_byte ? std::min<std::size_t>(size, 1) : size;
    if (error != 0) {
        return injected(-1, error);
    }
    return moved < size ? injected(static_cast<ssize_t>(moved)) : static_cast<ssize_t>(size);
}

bool stderr_polled = false; // for stderr-full

} // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size)
{
    ssize_t const n = fd == STDIN_FILENO ? allowed(size, false) : static_cast<ssize_t>(size);
    if (n < 0 && errno == EIO) {
        pread(fd, buffer, size, lseek(fd, 0, SEEK_CUR));
        errno = EIO;
    }
    return n < 0 ? n : syscall(SYS_read, fd, buffer, n);
}

extern "C" ssize_t write(int fd, void const* buffer, std::size_t size)
{
    if (fd == STDERR_FILENO && fault == "stderr-full" && !stderr_polled) {
        return injected(-1, EAGAIN);
    }
    ssize_t const n = fd == STDOUT_FILENO ? allowed(size, true) : static_cast<ssize_t>(size);
    return n <= 0 ? n : syscall(SYS_write, fd, buffer, n);
}

extern "C" int poll(pollfd* fds, nfds_t count, int timeout)
{
    static int calls = 0;
    bool const fails = fault.ends_with("poll-enomem");
    if (fails || (fault == "eagain-poll-eintr" && ++calls % 2 == 1)) {
        return static_cast<int>(injected(-1, fails ? ENOMEM : EINTR));
    }
    timespec const limit{timeout / 1000, timeout % 1000 * 1'000'000L};
    int const ready = ppoll(fds, count, timeout < 0 ? nullptr : &limit, nullptr);
    stderr_polled = stderr_polled || (count > 0 && fds[0].fd == STDERR_FILENO);
    if (fault == "write-poll-hup" && count > 0) {
        injected(0);
        fds[0].revents |= POLLHUP;
    }
    return ready;
}

extern "C" int close(int fd)
{
    int const error = fault.ends_with("close-eio")      ? EIO
                      : fault.ends_with("close-edquot") ? EDQUOT
                                                        : 0;
    auto const closed = static_cast<int>(syscall(SYS_close, fd));
    if (closed == 0 && fd == STDOUT_FILENO && error != 0) {
        return static_cast<int>(injected(-1, error));
    }
    return closed;
}
