// addtwo: asks for two whole numbers on standard input and writes their
// 32-bit sum to standard output.
//
// The standard streams are used straight through their descriptors, with no
// stdio buffering, so each text leaves whole before the program goes on.
// Descriptors handed over non-blocking are waited on with poll(2); their flags
// belong to an open file description that others share, so they are never
// changed.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <poll.h>
#include <span>
#include <string_view>
#include <unistd.h>

namespace {

bool would_block(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Waits until a non-blocking `fd` is ready for `events`.  Gives 0, or the
// error number if poll itself fails.  `hung_up` tells whether poll reported
// that the other side is gone or the descriptor failed: a call that still
// would block after that can never go through, and waiting again would spin.
int wait_until_ready(int fd, short events, bool& hung_up)
{
    pollfd ready{fd, events, 0};
    while (poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    hung_up = (ready.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
    return 0;
}

// ---- Standard input ---------------------------------------------------------

// Standard input, read in blocks into storage its owner hands it.  next() and
// next_after() are the per-character paths and stay inline; refilling the
// block, waiting and errors are out of line.
class Input {
  public:
    explicit Input(std::span<unsigned char> block) : block_(block)
    {
    }

    // The next character as an unsigned char, or EOF once the input has ended
    // or failed.  Both are for good: later calls give EOF as well.
    int next()
    {
        if (next_ != end_) [[likely]] {
            return *next_++;
        }
        return refill();
    }

    // Passes over the characters for which `skip` holds and gives the first
    // one for which it does not, as next() would.  `skip(EOF)` must be false.
    // The scan runs on local pointers and the object is updated once a block:
    // stepping next_ itself would store and reload it at every character,
    // since a load through an unsigned char pointer may alias it.
    template <typename Skip> int next_after(Skip skip)
    {
        int c = EOF;
        do {
            unsigned char const* const found = std::find_if_not(next_, end_, skip);
            if (found != end_) {
                next_ = found + 1;
                return *found;
            }
            next_ = end_;
            c = refill();
        } while (skip(c));
        return c;
    }

    // Puts back `c`, the character that next() or next_after() gave last
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
    // terminal, where what was read is gone for good.
    void leave_rest() const
    {
        if (next_ != end_) {
            lseek(STDIN_FILENO, next_ - end_, SEEK_CUR);
        }
    }

    // The error number of the read that failed, or 0.
    int error() const
    {
        return error_;
    }

  private:
    [[gnu::noinline]] int refill()
    {
        bool hung_up = false;
        while (!ended_) {
            ssize_t const n = read(STDIN_FILENO, block_.data(), block_.size());
            if (n > 0) {
                next_ = block_.data();
                end_ = next_ + n;
                return *next_++;
            }
            if (n == 0) {
                ended_ = true;
            } else if (errno == EINTR) {
                continue;
            } else if (!would_block(errno)) {
                error_ = errno;
                ended_ = true;
            } else if (hung_up) {
                // Readable by poll and still nothing to read: a datagram
                // socket whose reading side is shut down.  Nothing can come.
                ended_ = true;
            } else {
                error_ = wait_until_ready(STDIN_FILENO, POLLIN | POLLRDHUP, hung_up);
                ended_ = error_ != 0;
            }
        }
        return EOF;
    }

    std::span<unsigned char> const block_;
    unsigned char const* next_ = block_.data();
    unsigned char const* end_ = next_;
    bool ended_ = false;
    int error_ = 0;
};

// ---- Standard output and errors ---------------------------------------------

// Gives 0 once all of `text` is written to `fd`, or the error number of the
// write that failed.
int write_all(int fd, std::string_view text)
{
    bool hung_up = false;
    while (!text.empty()) {
        ssize_t const n = write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n == 0) {
            // A device that takes nothing and says nothing would be asked
            // again for ever; it is full as far as this program can tell.
            return ENOSPC;
        } else if (errno == EINTR) {
            continue;
        } else if (!would_block(errno)) {
            return errno;
        } else if (hung_up) {
            return EPIPE; // writable by poll after a hang-up, and still no room
        } else if (int const error = wait_until_ready(fd, POLLOUT, hung_up)) {
            return error;
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

// Ends a run: hands the unread input back, says what failed, and gives the
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

// White space and digits as isspace and isdigit define them in the C locale,
// which this program never leaves.  They are function objects, not functions,
// so that the scanning loops compile them in rather than call them: a call
// per character would cost more than the check itself.
constexpr auto is_space = [](int c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
constexpr auto is_digit = [](int c) { return c >= '0' && c <= '9'; };
constexpr auto is_zero = [](int c) { return c == '0'; };

// Reads one number the way the "%d" conversion of scanf does: white space
// is skipped, then an optional sign and decimal digits.  The character that
// ends the number is put back for the next read.  A read that finds
// no digits gives 0, and a number beyond the int32_t range saturates at the
// nearest limit; either way every digit of the run is consumed.  Memory use
// does not grow with the input.
std::int32_t read_number(Input& in)
{
    int c = in.next_after(is_space);

    bool const negative = c == '-';
    if (c == '+' || c == '-') {
        c = in.next();
    }
    // Leading zeros add nothing and never count towards the limit.
    if (is_zero(c)) {
        c = in.next_after(is_zero);
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
        c = in.next_after(is_digit);
    }
    magnitude = std::min(magnitude, limit);
    in.put_back(c);

    // The negation is done in unsigned arithmetic so that -2147483648 needs
    // no signed overflow; the conversion back to int32_t is modular.
    auto const bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0U - bits : bits);
}

} // namespace

// Once a write has failed, nothing more is read or written: no answer could
// reach anyone, and what followed the gap could only mislead.
int main()
{
    // Static, since 64 KiB would not fit on a small stack; aligned to a page,
    // so that an input opened with O_DIRECT can be read into it.
    alignas(4096) static unsigned char block[1 << 16];
    Input input(block);

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
