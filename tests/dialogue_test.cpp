#include "run_addtwo.hpp"

#include <gtest/gtest.h>

using namespace std::literals;

TEST(Dialogue, FiveAndSevenWriteExactlyTheThreeTexts)
{
    auto const expected =
        "Enter the first number please:Enter the second number: Sum of the two numbers is 12"sv;
    ASSERT_EQ(expected.size(), 83U);

    Outcome const run = run_addtwo("5\n7\n");
    EXPECT_EQ(run.out, expected);
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

// A run whose input could not be read or whose output could not be written
// still goes to its end, then says why on standard error and exits 1.
TEST(Dialogue, ReportsStreamsThatFail)
{
    struct Case {
        Streams streams;
        std::string out;
        std::string_view err;
    } const cases[] = {
        {{Stdin::piped, Stdout::full_device}, "", "addtwo: write error: No space left on device\n"},
        {{Stdin::piped, Stdout::closed}, "", "addtwo: write error: Bad file descriptor\n"},
        {{Stdin::closed, Stdout::captured},
         transcript("0"),
         "addtwo: read error: Bad file descriptor\n"},
        {{Stdin::directory, Stdout::captured},
         transcript("0"),
         "addtwo: read error: Is a directory\n"},
        {{Stdin::directory, Stdout::full_device},
         "",
         "addtwo: read error: Is a directory\naddtwo: write error: No space left on device\n"},
    };
    for (auto const& [streams, out, err] : cases) {
        SCOPED_TRACE(err);
        Outcome const run = run_addtwo("5\n7\n", {}, streams);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.exit_code, 1);
    }
}
