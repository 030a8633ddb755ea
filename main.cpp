// addtwo: asks for two whole numbers on standard input and writes their
// 32-bit sum to standard output.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// White space as isspace defines it in the C locale, which this program
// never leaves.  Checked inline: a library call per character would triple
// the time spent skipping long runs of blanks.
bool is_space(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads one number the way the "%d" conversion of scanf does: white space
// is skipped, then an optional sign and decimal digits.  The character that
// ends the number stays in the stream for the next read.  A read that finds
// no digits gives 0, and a number beyond the int32_t range saturates at the
// nearest limit; either way every digit of the run is consumed.  Memory use
// does not grow with the input.
std::int32_t read_number(std::FILE* in)
{
    int c = getc_unlocked(in);
    while (is_space(c)) {
        c = getc_unlocked(in);
    }

    bool const negative = c == '-';
    if (c == '+' || c == '-') {
        c = getc_unlocked(in);
    }

    std::uint64_t const limit = negative ? 2147483648U : 2147483647U;
    std::uint64_t magnitude = 0;
    while (std::isdigit(c) && magnitude <= limit) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        c = getc_unlocked(in);
    }
    // Past the limit only the length of the run is left to consume.
    while (std::isdigit(c)) {
        c = getc_unlocked(in);
    }
    magnitude = std::min(magnitude, limit);
    std::ungetc(c, in); // does nothing at end of input

    // The negation is done in unsigned arithmetic so that -2147483648 needs
    // no signed overflow; the conversion back to int32_t is modular.
    auto const bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0U - bits : bits);
}

} // namespace

int main()
{
    std::fputs("Enter the first number please:", stdout);
    std::int32_t const num1 = read_number(stdin);
    std::fputs("Enter the second number: ", stdout);
    std::int32_t const num2 = read_number(stdin);

    // The sum wraps modulo 2^32, so it is formed in unsigned arithmetic where
    // wrapping is defined, and converted back (modular since C++20).
    auto const sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(num1) +
                                               static_cast<std::uint32_t>(num2));
    std::printf("Sum of the two numbers is %d", sum);

    // A lost result must not look like success.  The error indicator also
    // covers a prompt whose write failed when it was flushed before a read;
    // that write's error number may be gone by now, hence the fallback.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        int const error = errno != 0 ? errno : EIO;
        std::fprintf(stderr, "addtwo: write error: %s\n", std::strerror(error));
        return 1;
    }
    return 0;
}
