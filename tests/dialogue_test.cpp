#include "run_addtwo.hpp"

#include <gtest/gtest.h>

using namespace std::literals;

TEST(Dialogue, FiveAndSevenWriteExactlyTheThreeTexts)
{
    Outcome const run = run_addtwo("5\n7\n");
    EXPECT_EQ(run.out, transcript("12"));
    EXPECT_EQ(run.out.size(), 83U);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_code, 0);
}

TEST(Dialogue, ReadsTwoNumbersAndWritesTheirWrappedSum)
{
    std::string const long_nines(1 << 20, '9');
    std::string const long_zeros(1 << 20, '0');
    std::string const long_blanks(1 << 20, ' ');
    struct Case {
        std::string input;
        std::string_view sum;
    } const cases[] = {
        {"5 7", "12"},
        {"\n\n \t5\n\t\n  7", "12"},
        {"\v\f\r5\r\n7", "12"},
        {"5 7 9", "12"},
        {"-5 2", "-3"},
        {"+7 0", "7"},
        {"010 0", "10"},
        {"7-3", "4"},
        {"-0 -0", "0"},
        {"2147483647 1", "-2147483648"},
        {"-2147483648 -1", "2147483647"},
        {"-2147483648 -2147483648", "0"},
        // no number: it counts as 0, and the character that stopped the
        // read is left for the next one
        {"", "0"},
        {"5", "5"},
        {"12abc", "12"},
        {"abc 5", "0"},
        {"0x10 5", "0"},
        {"+-5", "-5"},
        {"- 5", "5"},
        {"5\0 7"s, "5"},
        {"\xa0 5 7", "0"},
        // out of range: the nearest limit, and the whole digit run is gone
        {"2147483648 0", "2147483647"},
        {"4294967301 0", "2147483647"},
        {"-2147483649 0", "-2147483648"},
        {"99999999999999999999 -1", "2147483646"},
        {"18446744073709551616 0", "2147483647"}, // 2^64
        {"-18446744073709551617 0", "-2147483648"},
        {long_nines + " 5", "-2147483644"},
        {"-" + long_nines + " -1", "2147483647"},
        // leading zeros never count towards the limit
        {long_blanks + "-" + long_zeros + "3\n" + long_zeros + "4", "1"},
    };
    for (auto const& [input, sum] : cases) {
        for (Stdin const from : {Stdin::piped, Stdin::file}) {
            SCOPED_TRACE(testing::PrintToString(input.substr(0, 40)) +
                         (from == Stdin::file ? " from a file" : " through a pipe"));
            Outcome const run = run_addtwo(input, {}, {from});
            EXPECT_EQ(run.out, transcript(sum));
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.exit_code, 0);
        }
    }
}

// Input is read in blocks, but a file keeps what was not used for the next
// reader, as in `{ addtwo; cat; } < file`.
TEST(Dialogue, LeavesTheRestOfAFileForTheNextReader)
{
    std::string const blanks(100'000, ' ');
    std::string const to_block_end(65'534, ' '); // 1234 straddles a 64 KiB boundary
    struct Case {
        std::string input;
        std::string_view sum;
        std::string_view rest;
    } const cases[] = {
        {"1 2 rest", "3", " rest"},
        {"5\n7\n", "12", "\n"},
        {"1 2", "3", ""},
        {"12abc", "12", "abc"},
        {blanks + "1 2 rest", "3", " rest"},
        {to_block_end + "1234 5 x", "1239", " x"},
    };
    for (auto const& [input, sum, rest] : cases) {
        SCOPED_TRACE(testing::PrintToString(input.substr(input.find_first_not_of(' '))));
        Outcome const run = run_addtwo(input, {}, {Stdin::file});
        EXPECT_EQ(run.out, transcript(sum));
        EXPECT_EQ(run.rest, rest);
        EXPECT_EQ(run.exit_code, 0);
    }
}

TEST(Dialogue, IgnoresItsArguments)
{
    Outcome const run = run_addtwo("5\n7\n", {"--help", "-h", "--version", "1", "2", "", "-"});
    EXPECT_EQ(run.out, transcript("12"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_code, 0);
}

// A failed read ends its number as the end of the input would, and the run
// goes on; once a write has failed, nothing more is read or written.  Either
// is said on standard error and exits 1.  Reads and writes that are cut short
// or interrupted are no failure.
TEST(Dialogue, ReportsStreamsThatFailAndBearsWithShortOnes)
{
    struct Case {
        Streams streams;
        std::string out;
        std::string_view err;
        std::string_view rest;
        int exit_code = 1;
    } const cases[] = {
        {{Stdin::file, Stdout::full_device},
         "",
         "addtwo: write error: No space left on device\n",
         "5\n7\n"},
        {{Stdin::file, Stdout::captured, "write-0"},
         "",
         "addtwo: write error: No space left on device\n",
         "5\n7\n"},
        {{Stdin::file, Stdout::captured, "write-eio-2"},
         "Enter the first number please:",
         "addtwo: write error: Input/output error\n",
         "\n7\n"},
        {{Stdin::piped, Stdout::closed}, "", "addtwo: write error: Bad file descriptor\n", ""},
        {{Stdin::closed}, transcript("0"), "addtwo: read error: Bad file descriptor\n", ""},
        {{Stdin::directory}, transcript("0"), "addtwo: read error: Is a directory\n", ""},
        {{Stdin::directory, Stdout::captured, "write-eio-2"},
         "Enter the first number please:",
         "addtwo: read error: Is a directory\naddtwo: write error: Input/output error\n",
         ""},
        {{Stdin::file, Stdout::captured, "one-byte"}, transcript("12"), "", "\n", 0},
        {{Stdin::piped, Stdout::captured, "one-byte"}, transcript("12"), "", "", 0},
        {{Stdin::file, Stdout::captured, "eintr"}, transcript("12"), "", "\n", 0},
        {{Stdin::piped, Stdout::captured, "eintr"}, transcript("12"), "", "", 0},
    };
    for (auto const& [streams, out, err, rest, exit_code] : cases) {
        SCOPED_TRACE(std::string(err) + (streams.fault ? streams.fault : ""));
        Outcome const run = run_addtwo("5\n7\n", {}, streams);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.rest, rest);
        EXPECT_EQ(run.exit_code, exit_code);
    }
}
