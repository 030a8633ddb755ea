#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Reads from the terminal's master side until `count` bytes have come, the
// program has closed the terminal, or nothing has come for ten seconds.
std::string read_terminal(int master, std::size_t count)
{
    std::string text;
    while (text.size() < count) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 10'000) != 1) {
            break;
        }
        char buffer[256];
        ssize_t const n = read(master, buffer, std::min(sizeof buffer, count - text.size()));
        if (n <= 0) { // EIO once the program's side is closed
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

void type(int master, std::string_view keys)
{
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

} // namespace

// On a terminal each prompt must be on the screen before the program waits
// for its answer, although no prompt ends in a newline.  The terminal echoes
// what is typed, so the screen shows prompts and answers interleaved.
TEST(Terminal, ShowsEachPromptBeforeWaitingForItsAnswer)
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

    EXPECT_EQ(read_terminal(master, 30), "Enter the first number please:");
    type(master, "5\n");
    EXPECT_EQ(read_terminal(master, 28), "5\r\nEnter the second number: ");
    type(master, "7\n");
    EXPECT_EQ(read_terminal(master, 1000), "7\r\nSum of the two numbers is 12");

    // Closing the terminal hangs up a program that would still be waiting.
    close(master);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
