// The program as another party waits on it: a person at a terminal, a program
// at the other end of a socket, and descriptors shared non-blocking.  Each
// prompt must arrive before the program waits for its answer.
#include "run_addtwo.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::literals;

namespace {

void type(int fd, std::string_view keys)
{
    ASSERT_EQ(write(fd, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

} // namespace

// The terminal echoes what is typed, so the screen shows prompts and answers
// interleaved.
TEST(Interactive, ATerminalShowsEachPromptBeforeTheProgramWaits)
{
    int const master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string const terminal = ptsname(master);

    pid_t const pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setsid();
        int const slave = open(terminal.c_str(), O_RDWR); // becomes the controlling terminal
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        execl(ADDTWO_PATH, ADDTWO_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }

    EXPECT_EQ(read_some(master, 30), "Enter the first number please:");
    type(master, "5\n");
    EXPECT_EQ(read_some(master, 28), "5\r\nEnter the second number: ");
    type(master, "7\n");
    EXPECT_EQ(read_some(master, 1000), "7\r\nSum of the two numbers is 12");

    // Closing the terminal hangs up a program that would still be waiting.
    close(master);
    EXPECT_EQ(wait_for(pid), 0);
}

// A program that drives addtwo through one socket answers each prompt only
// once it has arrived; a prompt held back would leave both sides waiting.
TEST(Interactive, APeerOnASocketGetsEachPromptBeforeItAnswers)
{
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    pid_t const pid = start_addtwo(ends[1], ends[1], STDERR_FILENO);
    close(ends[1]);

    EXPECT_EQ(read_some(ends[0], 30), "Enter the first number please:");
    type(ends[0], "5\n");
    EXPECT_EQ(read_some(ends[0], 25), "Enter the second number: ");
    type(ends[0], "7\n");
    EXPECT_EQ(read_some(ends[0], 1000), "Sum of the two numbers is 12");

    close(ends[0]);
    EXPECT_EQ(wait_for(pid), 0);
}

// A caller may share its pipe ends with O_NONBLOCK set.  The program must wait
// for input that comes late and for room in a full pipe, and leave the flags
// as they are: they belong to the caller too.
TEST(Interactive, NonBlockingStreamsAreWaitedOn)
{
    int in[2];
    int out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(in[0], F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(out[1], F_SETFL, O_NONBLOCK), 0);

    // The first prompt meets a full pipe and has to wait for room.
    std::size_t filled = 0;
    char const block[4096] = {};
    while (ssize_t const n = write(out[1], block, sizeof block)) {
        if (n < 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    ASSERT_EQ(errno, EAGAIN);

    pid_t const pid = start_addtwo(in[0], out[1], STDERR_FILENO);
    std::this_thread::sleep_for(100ms);
    std::string const first = read_some(out[0], filled + 30);
    EXPECT_EQ(first.substr(std::min(filled, first.size())), "Enter the first number please:");

    // The first number comes in two parts, the second part late.
    type(in[1], "12");
    std::this_thread::sleep_for(300ms);
    type(in[1], "34 5");
    close(in[1]);
    auto const rest = "Enter the second number: Sum of the two numbers is 1239"sv;
    EXPECT_EQ(read_some(out[0], rest.size()), rest);
    EXPECT_EQ(wait_for(pid), 0);

    EXPECT_EQ(fcntl(in[0], F_GETFL) & O_NONBLOCK, O_NONBLOCK);
    EXPECT_EQ(fcntl(out[1], F_GETFL) & O_NONBLOCK, O_NONBLOCK);
}
