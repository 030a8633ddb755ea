// addtwo: asks for two whole numbers on standard input and writes their
// 32-bit sum to standard output.

#include "streams.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace {

// White space and digits as isspace and isdigit define them in the C locale,
// which this program never leaves.  Checked inline: a library call per
// character would triple the time spent on long runs of blanks or digits.
bool is_space(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

// Reads one number the way the "%d" conversion of scanf does: white space
// is skipped, then an optional sign and decimal digits.  The character that
// ends the number is put back for the next read.  A read that finds
// no digits gives 0, and a number beyond the int32_t range saturates at the
// nearest limit; either way every digit of the run is consumed.  Memory use
// does not grow with the input.
std::int32_t read_number(Input& in)
{
    int c = in.next();
    while (is_space(c)) {
        c = in.next();
    }

    bool const negative = c == '-';
    if (c == '+' || c == '-') {
        c = in.next();
    }

    std::uint64_t const limit = negative ? 2147483648U : 2147483647U;
    std::uint64_t magnitude = 0;
    while (is_digit(c) && magnitude <= limit) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        c = in.next();
    }
    // Past the limit only the length of the run is left to consume.
    while (is_digit(c)) {
        c = in.next();
    }
    magnitude = std::min(magnitude, limit);
    in.put_back(c);

    // The negation is done in unsigned arithmetic so that -2147483648 needs
    // no signed overflow; the conversion back to int32_t is modular.
    auto const bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0U - bits : bits);
}

} // namespace

int main()
{
    Input input;
    Output output;

    output.write("Enter the first number please:");
    std::int32_t const num1 = read_number(input);
    output.write("Enter the second number: ");
    std::int32_t const num2 = read_number(input);
    input.leave_rest();

    // The sum wraps modulo 2^32, so it is formed in unsigned arithmetic where
    // wrapping is defined, and converted back (modular since C++20).
    auto const sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(num1) +
                                               static_cast<std::uint32_t>(num2));
    std::string_view const text = "Sum of the two numbers is ";
    char line[64];
    char* const digits = std::copy(text.begin(), text.end(), line);
    char* const end = std::to_chars(digits, std::end(line), sum).ptr;
    output.write({line, end});

    // A failed read or a lost result must not look like success.
    if (input.error() != 0) {
        report("read", input.error());
    }
    if (output.error() != 0) {
        report("write", output.error());
    }
    return input.error() != 0 || output.error() != 0 ? 1 : 0;
}
