// The built addtwo, run the way a shell, a person at a terminal or another
// program runs it: real bytes on its standard input, its standard output
// compared byte for byte, its standard error and exit status checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::literals;

namespace {

// ---- Running the program ----------------------------------------------------

// A program that stops reading early must fail a test, not kill the tests.
[[maybe_unused]] auto const sigpipe_ignored = std::signal(SIGPIPE, SIG_IGN);

template <typename Result> Result check(Result result, char const* what)
{
    if (result < 0) {
        throw std::system_error(errno, std::generic_category(), what);
    }
    return result;
}

// Turns this child process into the program.  It gets an environment of its
// own rather than the caller's, since the kernel counts the environment
// against the stack limit.  The limit leaves room for the dynamic loader, a
// preloaded fault and the sanitizers' run-time, but not for a 64 KiB block.
// A program that spins is stopped after a second of processor time.
[[noreturn]] void become_addtwo(std::vector<std::string> const& args = {},
                                char const* fault = nullptr)
{
    std::signal(SIGPIPE, SIG_DFL);
    rlimit const stack{32 << 10, 32 << 10};
    setrlimit(RLIMIT_STACK, &stack);
    rlimit const processor{1, 1};
    setrlimit(RLIMIT_CPU, &processor);

    std::vector<char const*> argv{ADDTWO_PATH};
    for (auto const& arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    std::string const inject = "INJECT_FAULT="s + (fault != nullptr ? fault : "");
    std::vector<char const*> env{nullptr};
    if (fault != nullptr) {
        // The sanitizers' run-time would rather be loaded first.
        env = {inject.c_str(), "LD_PRELOAD=" INJECT_FAULT_PATH,
               "ASAN_OPTIONS=verify_asan_link_order=0", nullptr};
    }
    execve(ADDTWO_PATH, const_cast<char* const*>(argv.data()),
           const_cast<char* const*>(env.data()));
    _exit(127);
}

// Starts the program with `in`, `out` and `err` as its standard streams; a
// negative one is left closed.
pid_t start_addtwo(int in, int out, int err, std::vector<std::string> const& args = {},
                   char const* fault = nullptr)
{
    pid_t const pid = check(fork(), "fork");
    if (pid == 0) {
        int const streams[] = {in, out, err};
        for (int target = 0; target < 3; ++target) {
            if (streams[target] < 0) {
                close(target);
            } else if (streams[target] != target) {
                dup2(streams[target], target);
            }
        }
        become_addtwo(args, fault);
    }
    return pid;
}

// Waits for the program to end, and kills it if it has not ended within five
// seconds; its exit status as a shell reports it.  `usage`, if given, gets the
// resources it used.
int wait_for(pid_t pid, rusage* usage = nullptr)
{
    auto const deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (check(wait4(pid, &status, WNOHANG, usage), "wait4") == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            check(wait4(pid, &status, 0, usage), "wait4");
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void send(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t const n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EPIPE) {
            return; // the program may stop reading before the end
        }
        text.remove_prefix(static_cast<std::size_t>(check(n, "write")));
    }
}

// Reads from `fd` until `count` bytes have come, the other side has closed, or
// nothing has come for five seconds.
std::string read_some(int fd, std::size_t count)
{
    std::string text;
    char buffer[4096];
    pollfd ready{fd, POLLIN, 0};
    while (text.size() < count && poll(&ready, 1, 5'000) == 1) {
        ssize_t const n = read(fd, buffer, std::min(sizeof buffer, count - text.size()));
        if (n <= 0) { // a terminal gives EIO once the program's side is closed
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// What is left in `fd` from `offset` on; closes it.
std::string rest_of(int fd, off_t offset = -1)
{
    if (offset >= 0) {
        check(lseek(fd, offset, SEEK_SET), "lseek");
    }
    std::string const text = read_some(fd, SIZE_MAX);
    close(fd);
    return text;
}

enum class Stdin { pipe, file, closed, directory };
enum class Stdout { captured, full_device, closed };

struct Outcome {
    std::string out;
    std::string err;
    int exit_code;    // as a shell reports it: 128 + N for a death by signal N
    std::string rest; // from a file: what the next reader of it gets
};

// Feeds `input` to the program through `from`, and waits for it to end.  A
// fault, if named, is what tests/inject_fault.cpp does to its streams.
Outcome run_addtwo(std::string_view input, Stdin from = Stdin::pipe, Stdout to = Stdout::captured,
                   char const* fault = nullptr, std::vector<std::string> const& args = {})
{
    int pipe_ends[2] = {-1, -1};
    int in = -1;
    if (from == Stdin::pipe) {
        check(pipe2(pipe_ends, O_CLOEXEC), "pipe2");
        in = pipe_ends[0];
    } else if (from == Stdin::file) {
        in = check(memfd_create("stdin", MFD_CLOEXEC), "memfd_create");
        send(in, input);
        check(lseek(in, 0, SEEK_SET), "lseek");
    } else if (from == Stdin::directory) {
        in = check(open("/", O_RDONLY | O_CLOEXEC), "open");
    }
    int const out = check(memfd_create("stdout", MFD_CLOEXEC), "memfd_create");
    int const err = check(memfd_create("stderr", MFD_CLOEXEC), "memfd_create");
    int const full =
        to == Stdout::full_device ? check(open("/dev/full", O_WRONLY | O_CLOEXEC), "open") : -1;

    pid_t const pid = start_addtwo(in, to == Stdout::captured ? out : full, err, args, fault);
    close(full);
    if (from != Stdin::file) {
        close(in);
    }
    if (from == Stdin::pipe) {
        send(pipe_ends[1], input);
        close(pipe_ends[1]);
    }
    int const exit_code = wait_for(pid);
    std::string const rest = from == Stdin::file ? rest_of(in) : "";
    return {rest_of(out, 0), rest_of(err, 0), exit_code, rest};
}

// The three texts of a dialogue whose result is `sum`.
std::string transcript(std::string_view sum)
{
    return "Enter the first number please:Enter the second number: Sum of the two numbers is " +
           std::string(sum);
}

} // namespace

// ---- The dialogue -----------------------------------------------------------

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
        // the characters just outside white space (\b and \016, 0x0e) and the digits
        {"1\b2", "1"},
        {"1\0162", "1"},
        {"1/2", "1"},
        {"1:2", "1"},
        // out of range: the nearest limit, and the whole digit run is gone
        {"2147483648 0", "2147483647"},
        {"4294967301 0", "2147483647"},
        {"-2147483649 0", "-2147483648"},
        {"99999999999999999999 -1", "2147483646"},
        {"18446744073709551616 0", "2147483647"}, // 2^64
        {"-18446744073709551617 0", "-2147483648"},
        {"999999999999", "2147483647"}, // a run past the limit that ends the input
        {long_nines + " 5", "-2147483644"},
        {"-" + long_nines + " -1", "2147483647"},
        // leading zeros never count towards the limit
        {long_blanks + "-" + long_zeros + "3\n" + long_zeros + "4", "1"},
    };
    for (auto const& [input, sum] : cases) {
        for (Stdin const from : {Stdin::pipe, Stdin::file}) {
            SCOPED_TRACE(testing::PrintToString(input.substr(0, 40)) +
                         (from == Stdin::file ? " from a file" : " through a pipe"));
            Outcome const run = run_addtwo(input, from);
            EXPECT_EQ(run.out, transcript(sum));
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.exit_code, 0);
            ASSERT_LT(run.exit_code, 128) << "ended by a signal: the rows after it are not run";
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
        Outcome const run = run_addtwo(input, Stdin::file);
        EXPECT_EQ(run.out, transcript(sum));
        EXPECT_EQ(run.rest, rest);
        EXPECT_EQ(run.exit_code, 0);
        ASSERT_LT(run.exit_code, 128) << "ended by a signal: the rows after it are not run";
    }
}

TEST(Dialogue, IgnoresItsArguments)
{
    Outcome const run = run_addtwo("5\n7\n", Stdin::pipe, Stdout::captured, nullptr,
                                   {"--help", "-h", "--version", "1", "2", "", "-"});
    EXPECT_EQ(run.out, transcript("12"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_code, 0);
}

// A failed read ends its number as the end of the input would, and the run
// goes on; once a write has failed, nothing more is read or written.  Either
// is said on standard error and exits 1.  Reads and writes that are cut short
// or interrupted are no failure.  The faults are tests/inject_fault.cpp's.
TEST(Dialogue, ReportsStreamsThatFailAndBearsWithShortOnes)
{
    struct Case {
        Stdin from;
        Stdout to;
        char const* fault;
        std::string out;
        std::string_view err;
        std::string_view rest;
        int exit_code = 1;
    } const cases[] = {
        {Stdin::file, Stdout::full_device, nullptr, "",
         "addtwo: write error: No space left on device\n", "5\n7\n"},
        {Stdin::file, Stdout::captured, "write-0", "",
         "addtwo: write error: No space left on device\n", "5\n7\n"},
        {Stdin::file, Stdout::captured, "write-eio-2",
         "Enter the first number please:", "addtwo: write error: Input/output error\n", "\n7\n"},
        {Stdin::file, Stdout::captured, "write-eio-3",
         "Enter the first number please:Enter the second number: ",
         "addtwo: write error: Input/output error\n", "\n"},
        {Stdin::pipe, Stdout::closed, nullptr, "", "addtwo: write error: Bad file descriptor\n",
         ""},
        {Stdin::closed, Stdout::captured, nullptr, transcript("0"),
         "addtwo: read error: Bad file descriptor\n", ""},
        {Stdin::directory, Stdout::captured, nullptr, transcript("0"),
         "addtwo: read error: Is a directory\n", ""},
        {Stdin::directory, Stdout::captured, "write-eio-2", "Enter the first number please:",
         "addtwo: read error: Is a directory\naddtwo: write error: Input/output error\n", ""},
        {Stdin::file, Stdout::captured, "one-byte", transcript("12"), "", "\n", 0},
        {Stdin::pipe, Stdout::captured, "one-byte", transcript("12"), "", "", 0},
        {Stdin::file, Stdout::captured, "eintr", transcript("12"), "", "\n", 0},
        {Stdin::pipe, Stdout::captured, "eintr", transcript("12"), "", "", 0},
    };
    for (auto const& [from, to, fault, out, err, rest, exit_code] : cases) {
        SCOPED_TRACE(std::string(err) + (fault != nullptr ? fault : ""));
        Outcome const run = run_addtwo("5\n7\n", from, to, fault);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.rest, rest);
        EXPECT_EQ(run.exit_code, exit_code);
        ASSERT_LT(run.exit_code, 128) << "ended by a signal: the rows after it are not run";
    }
}

// ---- The program as another party waits on it ------------------------------

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

        pid_t const pid = check(fork(), "fork");
        if (pid == 0) {
            setsid();
            int const slave = open(terminal.c_str(), O_RDWR); // the controlling terminal
            dup2(slave, STDIN_FILENO);
            dup2(slave, STDOUT_FILENO);
            dup2(slave, STDERR_FILENO);
            become_addtwo();
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
