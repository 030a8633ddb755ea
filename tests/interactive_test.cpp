// The program as another party waits on it: a person at a terminal, a program
// at the other end of a socket, and descriptors shared non-blocking.  Each
// prompt must arrive before the program waits for its answer.
#include "run_addtwo.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::literals;

namespace {

void type(int fd, std::string_view keys)
{
    ASSERT_EQ(write(fd, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

// Whether, within two seconds, the program has taken all that waits for it in
// the pipe of `sent` (if given) and then sleeps, waiting for something.
bool waits(pid_t pid, int sent = -1)
{
    auto const deadline = std::chrono::steady_clock::now() + 2s;
    do {
        int unread = 0;
        if (sent < 0 || (ioctl(sent, FIONREAD, &unread) == 0 && unread == 0)) {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string const line(std::istreambuf_iterator<char>(stat), {});
            auto const state = line.rfind(") ");
            if (state != std::string::npos && line[state + 2] == 'S') {
                return true;
            }
        }
        std::this_thread::sleep_for(1ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// The status flags of the program's descriptor `fd`, as it sees them.
int status_flags(pid_t pid, int fd)
{
    std::ifstream fdinfo("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
    std::string field;
    int flags = -1;
    while (fdinfo >> field && field != "flags:") {
    }
    fdinfo >> std::oct >> flags;
    return flags;
}

} // namespace

// The terminal echoes what is typed, so the screen shows prompts and answers
// interleaved.  Ctrl-D at the first prompt ends the input: the second read
// finds the end again and does not wait.
TEST(Interactive, ATerminalShowsEachPromptBeforeTheProgramWaits)
{
    struct Step {
        std::string_view keys;
        std::string_view screen;
    };
    std::vector<Step> const sessions[] = {
        {{"", "Enter the first number please:"},
         {"5\n", "5\r\nEnter the second number: "},
         {"7\n", "7\r\nSum of the two numbers is 12"}},
        {{"", "Enter the first number please:"},
         {"\x04", "Enter the second number: Sum of the two numbers is 0"}},
    };
    for (auto const& steps : sessions) {
        int const master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0) {
            GTEST_SKIP() << "no pseudo-terminal to be had: " << std::strerror(errno);
        }
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        std::string const terminal = ptsname(master);

        pid_t const pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setsid();
            int const slave = open(terminal.c_str(), O_RDWR); // the controlling terminal
            dup2(slave, STDIN_FILENO);
            dup2(slave, STDOUT_FILENO);
            dup2(slave, STDERR_FILENO);
            execl(ADDTWO_PATH, ADDTWO_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }

        for (auto const& [keys, screen] : steps) {
            SCOPED_TRACE(testing::PrintToString(keys));
            type(master, keys);
            EXPECT_EQ(read_some(master, screen.size()), screen);
        }
        // Nothing more comes: the program has closed its side by the time the
        // terminal is closed, which would hang up a program still waiting.
        EXPECT_EQ(read_some(master, 1), "");
        close(master);
        EXPECT_EQ(wait_for(pid), 0);
    }
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
// in poll, not spin, for room in a full pipe and for input that comes late,
// and leave the flags as they are: they belong to the caller too.  Each part
// is sent only once the program sleeps, so every wait does happen.
TEST(Interactive, NonBlockingStreamsAreWaitedOn)
{
    int in[2];
    int out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(in[0], F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(out[1], F_SETFL, O_NONBLOCK), 0);

    // The first prompt meets a full pipe.
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
    close(in[0]);
    close(out[1]);
    EXPECT_TRUE(waits(pid));
    EXPECT_EQ(read_some(out[0], filled).size(), filled);
    EXPECT_EQ(read_some(out[0], 30), "Enter the first number please:");

    // The first number comes in two parts.
    EXPECT_TRUE(waits(pid));
    type(in[1], "12");
    EXPECT_TRUE(waits(pid, in[1]));
    EXPECT_EQ(status_flags(pid, STDIN_FILENO) & O_NONBLOCK, O_NONBLOCK);
    EXPECT_EQ(status_flags(pid, STDOUT_FILENO) & O_NONBLOCK, O_NONBLOCK);
    type(in[1], "34 5");
    close(in[1]);

    auto const rest = "Enter the second number: Sum of the two numbers is 1239"sv;
    EXPECT_EQ(read_some(out[0], rest.size() + 1), rest);
    close(out[0]);
    rusage usage{};
    EXPECT_EQ(wait_for(pid, &usage), 0);
    EXPECT_LT(usage.ru_utime.tv_sec * 1'000'000 + usage.ru_utime.tv_usec +
                  usage.ru_stime.tv_sec * 1'000'000 + usage.ru_stime.tv_usec,
              200'000)
        << "microseconds of processor time, for a few bytes";
}
