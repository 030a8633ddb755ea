#include "streams.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

bool would_block(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Waits until a non-blocking `fd` is ready for `events`.  Gives 0, or the
// error number if poll itself fails.
int wait_until_ready(int fd, short events)
{
    pollfd ready{fd, events, 0};
    while (poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// Gives 0 once all of `text` is written, or the error number of the write
// that failed.
int write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t const n = ::write(fd, text.data(), text.size());
        if (n >= 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (would_block(errno)) {
            if (int const error = wait_until_ready(fd, POLLOUT)) {
                return error;
            }
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

} // namespace

int Input::refill()
{
    while (!ended_) {
        ssize_t const n = read(STDIN_FILENO, buffer_, sizeof buffer_);
        if (n > 0) {
            next_ = buffer_;
            end_ = buffer_ + n;
            return *next_++;
        }
        if (n == 0) {
            ended_ = true;
        } else if (would_block(errno)) {
            error_ = wait_until_ready(STDIN_FILENO, POLLIN);
            ended_ = error_ != 0;
        } else if (errno != EINTR) {
            error_ = errno;
            ended_ = true;
        }
    }
    return EOF;
}

void Input::leave_rest()
{
    if (next_ != end_) {
        // Fails (ESPIPE) on a pipe, a socket or a terminal, where what was
        // read is gone for good.
        if (lseek(STDIN_FILENO, next_ - end_, SEEK_CUR) >= 0) {
            end_ = next_;
        }
    }
}

void Output::write(std::string_view text)
{
    if (error_ == 0) {
        error_ = write_all(STDOUT_FILENO, text);
    }
}

void report(char const* what, int error)
{
    char line[256];
    int const length =
        std::snprintf(line, sizeof line, "addtwo: %s error: %s\n", what, std::strerror(error));
    if (length > 0) {
        write_all(STDERR_FILENO,
                  {line, std::min(static_cast<std::size_t>(length), sizeof line - 1)});
    }
}
