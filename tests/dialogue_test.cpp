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
        SCOPED_TRACE(testing::PrintToString(input.substr(0, 40)));
        Outcome const run = run_addtwo(input);
        EXPECT_EQ(run.out, transcript(sum));
        EXPECT_EQ(run.err, "");
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

TEST(Dialogue, ReportsAResultThatCouldNotBeWritten)
{
    struct Case {
        Stdout where;
        std::string_view message;
    } const cases[] = {
        {Stdout::full_device, "addtwo: write error: No space left on device\n"},
        {Stdout::closed, "addtwo: write error: Bad file descriptor\n"},
    };
    for (auto const& [where, message] : cases) {
        SCOPED_TRACE(message);
        Outcome const run = run_addtwo("5\n7\n", {}, where);
        EXPECT_EQ(run.err, message);
        EXPECT_EQ(run.exit_code, 1);
    }
}
