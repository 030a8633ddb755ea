// addtwo: asks for two whole numbers on standard output, reads them from
// standard input and writes their 32-bit sum to standard output.
//
// The standard streams are used straight through their descriptors, with no
// stdio buffering, so each text leaves whole before the program goes on.
// Descriptors handed over non-blocking are waited on with poll(2); their flags
// belong to an open file description that others share, so they are never
// changed.  EINTR is retried although the program installs no signal handler:
// a stop and continue interrupts a call on a socket with a time limit, and a
// library preloaded into the program may install handlers of its own.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <span>
#include <string_view>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace {

// Returns whether a call on `fd` that failed with `error` is to be waited
// out.  EAGAIN fails the call only where `fd` is blocking now and is a socket
// whose time limit for the call's direction, `limit` (SO_RCVTIMEO or
// SO_SNDTIMEO), is set: that limit has run out.  A blocking descriptor gives
// EAGAIN in other ways too, none a failure: another holder of the open file
// may have cleared O_NONBLOCK since the call, or a terminal's line discipline
// may be being changed.  Where the flags or the limit cannot be asked, the
// call is waited out as well.
bool would_block(int fd, int error, int limit)
{
    if (error != EAGAIN && error != EWOULDBLOCK) {
        return false;
    }
    int const flags = fcntl(fd, F_GETFL);
    timeval time_limit{};
    socklen_t size = sizeof time_limit;
    bool const timed_out = flags >= 0 && (flags & O_NONBLOCK) == 0 &&
                           getsockopt(fd, SOL_SOCKET, limit, &time_limit, &size) == 0 &&
                           (time_limit.tv_sec != 0 || time_limit.tv_usec != 0);
    return !timed_out;
}

// Waits until poll reports `fd` ready for `events`, or gone, or in error; after
// an error reported alone, also for a pause, and `fd` may then be no readier
// than before.  Returns 0, or the error number if poll itself fails.  Sets
// `hung_up` to whether poll reported that the other side is gone: a call that
// still would block after that can never go through, and waiting again would
// spin.
int wait_until_ready(int fd, short events, bool& hung_up)
{
    pollfd ready{fd, events, 0};
    while (poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    hung_up = (ready.revents & (POLLHUP | POLLRDHUP)) != 0;
    if (ready.revents == POLLERR) {
        // An error and nothing else, which poll reports at once for as long
        // as it stands: a pipe whose reader has gone, where the write that
        // follows fails with EPIPE, or an entry on a socket's error queue,
        // such as a zero-copy completion, which reads and writes leave there.
        // A pause of 10 ms before the next try keeps such a wait from
        // spinning.  The queue belongs to whoever set the socket up.
        timespec const pause{0, 10'000'000};
        nanosleep(&pause, nullptr);
    }
    return 0;
}

// ---- Standard input ---------------------------------------------------------

// Standard input, read in blocks into storage its owner hands it: room for a
// block and for the NUL that is put after each block's text, so that the C
// library's strspn can scan a block whole.  next() is the per-character path
// and stays inline; refilling the block, waiting and errors are out of line.
class Input {
  public:
    explicit Input(std::span<char> storage) : storage_(storage)
    {
        storage_[0] = '\0';
    }

    // Returns the next character as an unsigned char, or EOF once the input
    // has ended or failed.  Both are for good: later calls return EOF too.
    int next()
    {
        if (next_ == end_ && !refill()) {
            return EOF;
        }
        return static_cast<unsigned char>(*next_++);
    }

    // Passes over the characters in `set` and returns the first one that is
    // not, as next() would.  strspn stops at the NUL after the block as well
    // as at a NUL in the input, which no set holds; only the first is the end.
    int next_after(char const* set)
    {
        do {
            next_ += std::strspn(next_, set);
        } while (next_ == end_ && refill());
        return next();
    }

    // Puts back `c`, the character that next() or next_after() returned last
    // (nothing for EOF).
    void put_back(int c)
    {
        if (c != EOF) {
            --next_;
        }
    }

    // Hands the unread rest of the current block back to the next reader,
    // where the input can seek: a file's offset then stands just after the
    // last character used.  Fails (ESPIPE) on a pipe, a socket or a
    // terminal, where what was read is gone for good.  A failure is not
    // reported: the dialogue has gone through all the same, and on those
    // streams it is the rule.
    void leave_rest() const
    {
        if (next_ != end_) {
            lseek(STDIN_FILENO, next_ - end_, SEEK_CUR);
        }
    }

    // Returns the error number of the read that failed, or 0.
    int error() const
    {
        return error_;
    }

  private:
    // Reads the next block; returns false once the input has ended or failed.
    [[gnu::noinline]] bool refill()
    {
        bool hung_up = false;
        while (!ended_) {
            ssize_t const n = read(STDIN_FILENO, storage_.data(), storage_.size() - 1);
            if (n > 0) {
                storage_[static_cast<std::size_t>(n)] = '\0';
                next_ = storage_.data();
                end_ = next_ + n;
                return true;
            }
            int const error = n < 0 ? errno : 0;
            if (error == EINTR) {
                continue;
            }
            if (error != 0 && !would_block(STDIN_FILENO, error, SO_RCVTIMEO)) {
                error_ = error;
                ended_ = true;
            } else if (n == 0 || hung_up) {
                // The end of the input; or readable by poll and still nothing
                // to read, as from a datagram socket whose reading side is
                // shut down, where nothing can come.
                ended_ = true;
            } else {
                error_ = wait_until_ready(STDIN_FILENO, POLLIN | POLLRDHUP, hung_up);
                ended_ = error_ != 0;
            }
        }
        // A read that failed may have written into the block all the same:
        // it is emptied, so that none of that is ever scanned or handed back.
        storage_[0] = '\0';
        next_ = end_ = storage_.data();
        return false;
    }

    std::span<char> const storage_;
    char const* next_ = storage_.data();
    char const* end_ = next_;
    bool ended_ = false;
    int error_ = 0;
};

// ---- Standard output and errors ---------------------------------------------

// Writes all of `text` to `fd`.  Returns 0, or the error number of the write
// or the poll that failed: ENOSPC for a write that takes nothing, and EPIPE
// for one that would block after poll has reported a hang-up.
int write_all(int fd, std::string_view text)
{
    bool hung_up = false;
    while (!text.empty()) {
        ssize_t const n = write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            // A device that takes nothing and says nothing would be asked
            // again for ever; it is full as far as this program can tell.
            return ENOSPC;
        }
        int const error = errno;
        if (error == EINTR) {
            continue;
        }
        if (!would_block(fd, error, SO_SNDTIMEO)) {
            return error;
        }
        if (hung_up) {
            return EPIPE; // the other side is gone, and there is still no room
        }
        if (int const failed = wait_until_ready(fd, POLLOUT, hung_up)) {
            return failed;
        }
    }
    return 0;
}

// Writes "addtwo: <what> error: <the system's text for error>" and a newline
// to standard error.
void report(char const* what, int error)
{
    char line[256];
    // The precision bounds the system's text, so the line always fits whole.
    int const length =
        std::snprintf(line, sizeof line, "addtwo: %s error: %.200s\n", what, std::strerror(error));
    if (length > 0) {
        write_all(STDERR_FILENO, {line, static_cast<std::size_t>(length)});
    }
}

// Ends a run: hands the unread input back, says what failed, and returns the
// exit status.  Nothing is read once a write has failed, so a read error was
// met first and is said first.
int finish(Input& input, int write_error)
{
    input.leave_rest();
    if (input.error() != 0) {
        report("read", input.error());
    }
    if (write_error != 0) {
        report("write", write_error);
    }
    return input.error() != 0 || write_error != 0 ? 1 : 0;
}

// ---- The reading rule -------------------------------------------------------

bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

// Reads one number the way the "%d" conversion of scanf does: white space
// is skipped, then an optional sign and decimal digits.  The character that
// ends the number is put back for the next read.  A read that finds
// no digits returns 0, and a number beyond the int32_t range saturates at the
// nearest limit; either way every digit of the run is consumed.  Memory use
// does not grow with the input.
std::int32_t read_number(Input& in)
{
    // White space as isspace defines it in the C locale, which this program
    // never leaves.
    int c = in.next_after(" \t\n\v\f\r");

    bool const negative = c == '-';
    if (c == '+' || c == '-') {
        c = in.next();
    }
    // Leading zeros add nothing and never count towards the limit.
    if (c == '0') {
        c = in.next_after("0");
    }

    // With the leading zeros gone, the limit is passed within 11 digits, so
    // these are taken one at a time.
    std::uint64_t const limit = negative ? 2147483648U : 2147483647U;
    std::uint64_t magnitude = 0;
    while (is_digit(c) && magnitude <= limit) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        c = in.next();
    }
    // Past the limit only the length of the run is left to consume.
    if (is_digit(c)) {
        c = in.next_after("0123456789");
    }
    magnitude = std::min(magnitude, limit);
    in.put_back(c);

    // The negation is done in unsigned arithmetic so that -2147483648 needs
    // no signed overflow; the conversion back to int32_t is modular.
    auto const bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0U - bits : bits);
}

} // namespace

// Once a write has failed, nothing more is read or written to standard
// output; the failure is reported on standard error.
int main()
{
    // A 64 KiB block and the NUL after it.  Static, since that would not fit
    // on a small stack; aligned to a page, so that an input opened with
    // O_DIRECT can be read into it.
    alignas(4096) static char storage[(1 << 16) + 1];
    Input input(storage);

    if (int const error = write_all(STDOUT_FILENO, "Enter the first number please:")) {
        return finish(input, error);
    }
    std::int32_t const num1 = read_number(input);
    if (int const error = write_all(STDOUT_FILENO, "Enter the second number: ")) {
        return finish(input, error);
    }
    std::int32_t const num2 = read_number(input);

    // The sum wraps modulo 2^32, so it is formed in unsigned arithmetic where
    // wrapping is defined, and converted back (modular since C++20).
    auto const sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(num1) +
                                               static_cast<std::uint32_t>(num2));
    std::string_view const text = "Sum of the two numbers is ";
    char line[64];
    char* const digits = std::copy(text.begin(), text.end(), line);
    char* const end = std::to_chars(digits, std::end(line), sum).ptr;
    int error = write_all(STDOUT_FILENO, {line, end});
    // Some file systems report a write that failed only when the file is
    // closed.
    if (error == 0 && close(STDOUT_FILENO) != 0) {
        error = errno;
    }
    return finish(input, error);
}
