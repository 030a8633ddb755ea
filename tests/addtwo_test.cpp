// The built addtwo, run the way a shell, a person at a terminal or another
// program runs it; tests/README.md says how.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace std::literals;

namespace {

// ---- Running the program ----------------------------------------------------

// A program that stops reading early must fail a test, not kill the tests.
[[maybe_unused]] auto const sigpipe_ignored = std::signal(SIGPIPE, SIG_IGN);

std::string const first_prompt = "Enter the first number please:";
std::string const second_prompt = "Enter the second number: ";

// The three texts of a dialogue whose result is `sum`.
std::string transcript(std::string_view sum)
{
    return first_prompt + second_prompt + "Sum of the two numbers is " + std::string(sum);
}

// The fault library, preloaded by a name with no space or colon in it.
int const fault_library = open(INJECT_FAULT_PATH, O_RDONLY | O_CLOEXEC);
std::string const preload = "LD_PRELOAD=/proc/self/fd/" + std::to_string(fault_library);
// Where the fault library notes each fault it injects, a byte a fault.
int const injected = memfd_create("injected", MFD_CLOEXEC);
std::string const injected_log = "INJECT_FAULT_LOG=" + std::to_string(injected);

template <typename Result> Result check(Result result, char const* what)
{
    if (result < 0) {
        throw std::system_error(errno, std::generic_category(), what);
    }
    return result;
}

// How standard output is handed over, and how a failure names each kind:
// `captured` is a blocking file; `no_reader` a pipe whose reader has gone,
// `_ignored` the same with SIGPIPE ignored; `size_limit` captured under a
// file-size limit of 0; `time_limit` a full blocking socket with a send limit.
enum class Stdout { captured, full, closed, no_reader, no_reader_ignored, size_limit, time_limit };

std::array const stdout_names{"captured",          "full",       "closed",    "no_reader",
                              "no_reader_ignored", "size_limit", "time_limit"};

// Starts the program on `in`, `out` and `err` (a negative one is left closed),
// in a session of its own where a terminal on `in` is the controlling one, with
// the environment and limits of tests/README.md.  What allocates is done
// before fork.
pid_t start_addtwo(int in, int out, int err, Stdout to = Stdout::captured,
                   char const* fault = nullptr, std::vector<char const*> argv = {})
{
    argv.insert(argv.begin(), ADDTWO_PATH);
    argv.push_back(nullptr);
    std::string const inject = "INJECT_FAULT="s + (fault != nullptr ? fault : "");
    std::vector<char const*> env{nullptr};
    if (fault != nullptr) {
        // The sanitizers' run-time would rather be loaded first.
        env = {inject.c_str(), preload.c_str(), injected_log.c_str(),
               "ASAN_OPTIONS=verify_asan_link_order=0", nullptr};
    }
    pid_t const pid = check(fork(), "fork");
    if (pid != 0) {
        return pid;
    }
    setsid();
    ioctl(in, TIOCSCTTY, 0);
    int const streams[] = {in, out, err};
    for (int target = 0; target < 3; ++target) {
        if (dup2(streams[target], target) < 0) { // as for a negative one
            close(target);
        }
    }
    for (int const fd : {fault_library, injected}) {
        fcntl(fd, F_SETFD, fault != nullptr ? 0 : FD_CLOEXEC);
    }
    std::signal(SIGPIPE, to == Stdout::no_reader_ignored ? SIG_IGN : SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
    rlimit const stack{32 << 10, 32 << 10}, processor{1, 1}, none{0, 0};
    setrlimit(RLIMIT_STACK, &stack);
    setrlimit(RLIMIT_CPU, &processor);
    setrlimit(RLIMIT_CORE, &none);
    if (to == Stdout::size_limit) {
        setrlimit(RLIMIT_FSIZE, &none);
    }
    alarm(5);
    execve(ADDTWO_PATH, const_cast<char* const*>(argv.data()),
           const_cast<char* const*>(env.data()));
    _exit(127);
}

// Waits for the program to end; its exit status as a shell reports it.
int wait_for(pid_t pid)
{
    int status = 0;
    check(waitpid(pid, &status, 0), "waitpid");
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

// Fills the non-blocking `fd` until it takes no more for good; returns how much
// it took.  A TCP socket that refuses more may take it once acknowledgements
// come: it is full for good once bytes wait unsent and the peer's window is shut.
std::size_t fill(int fd)
{
    std::size_t filled = 0;
    char const block[4096] = {};
    for (tcp_info tcp{};; std::this_thread::sleep_for(1ms)) {
        for (ssize_t n = 0; (n = write(fd, block, sizeof block)) > 0;) {
            filled += static_cast<std::size_t>(n);
        }
        if (errno != EAGAIN) {
            throw std::system_error(errno, std::generic_category(), "write");
        }
        socklen_t size = sizeof tcp;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &tcp, &size) != 0 ||
            (tcp.tcpi_snd_wnd == 0 && tcp.tcpi_notsent_bytes != 0)) {
            return filled;
        }
    }
}

// What is left in `fd` from `offset` on; closes it.
std::string rest_of(int fd, off_t offset)
{
    check(lseek(fd, offset, SEEK_SET), "lseek");
    std::string const text = read_some(fd, SIZE_MAX);
    close(fd);
    return text;
}

// Whether the program has taken all that waits for it at its end `unread` (if
// given) and sleeps: seen asleep at two looks 100 ms or more apart, ten times its
// own pause, having woken at most `wakeups` times per 100 ms between them, so that
// one that gives up after a pause or wakes to look again is caught.  A pair that
// fails starts over from its second look, until four seconds have passed.
bool waits(pid_t pid, int wakeups = 1, int unread = -1)
{
    std::string const status = "/proc/" + std::to_string(pid) + "/status";
    std::string_view const label = "voluntary_ctxt_switches:";
    auto const deadline = std::chrono::steady_clock::now() + 4s;
    auto first = deadline; // the pair's first look, and the count then
    long first_count = -1;
    for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(1ms)) {
        int bytes = 0;
        std::string const text(std::istreambuf_iterator(std::ifstream(status).rdbuf()), {});
        bool const taken = unread < 0 || (ioctl(unread, FIONREAD, &bytes) == 0 && bytes == 0);
        if (taken && text.find("State:\tS") != text.npos) {
            auto const now = std::chrono::steady_clock::now();
            long const switches = std::stol(text.substr(text.find(label) + label.size()));
            if (first_count >= 0 && switches - first_count <= wakeups * ((now - first) / 100ms)) {
                return true;
            }
            first = now;
            first_count = switches;
            std::this_thread::sleep_for(100ms);
        }
    }
    return false;
}

// How standard input is handed over, and how a failure names each kind.
enum class Stdin {
    pipe,       //
    file,       // a file, from which the rest is read back
    file_nb,    // the same, opened non-blocking
    direct,     // the same, opened with O_DIRECT
    record,     // one sequenced-packet record
    closed,     //
    dir,        // a directory
    dgram,      // a Unix datagram socket whose reading side is shut down
    dgram_nb,   // the same, non-blocking
    udp,        // a UDP socket whose reading side is shut down
    udp_nb,     // the same, non-blocking
    reset,      // a non-blocking socket reset by its peer once the program waits
    time_limit, // a blocking Unix datagram socket, sent nothing, with a receive time limit
};

std::array const stdin_names{"pipe",  "file",     "file_nb", "direct", "record", "closed",    "dir",
                             "dgram", "dgram_nb", "udp",     "udp_nb", "reset",  "time_limit"};
struct Outcome {
    std::string out, err;
    int exit_code;    // as a shell reports it: 128 + N for a death by signal N
    std::string rest; // from a file: what the next reader of it gets
};

timeval const time_limit{0, 200'000}; // on the blocking sockets of the kinds above

// Feeds `input` to the program through `from`, and waits for it to end.  A
// fault, if named, is what tests/inject_fault.cpp does to its streams.
Outcome run_addtwo(std::string_view input, Stdin from = Stdin::pipe, Stdout to = Stdout::captured,
                   char const* fault = nullptr, std::vector<char const*> const& args = {})
{
    int ends[2] = {-1, -1};
    auto& [in, feed] = ends; // standard input, and where the input goes once it runs
    int reread = -1;         // the file from the offset the program leaves on `in`
    bool const udp = from == Stdin::udp || from == Stdin::udp_nb;
    bool const dgram = udp || from == Stdin::dgram || from == Stdin::dgram_nb;
    if (from == Stdin::pipe) {
        check(pipe2(ends, O_CLOEXEC), "pipe2");
    } else if (from == Stdin::record || from == Stdin::reset) {
        int const type = from == Stdin::record ? SOCK_SEQPACKET : SOCK_STREAM | SOCK_NONBLOCK;
        check(socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, ends), "socketpair");
        // Left unread at the tests' end, this makes their close a reset.
        send(in, from == Stdin::reset ? "unread" : "");
    } else if (from == Stdin::file || from == Stdin::file_nb || from == Stdin::direct) {
        int const flags = from == Stdin::direct    ? O_DIRECT
                          : from == Stdin::file_nb ? O_NONBLOCK
                                                   : 0;
        // With O_DIRECT, on the disk the tests run from; read back without it.
        reread = check(from == Stdin::direct ? open(".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)
                                             : memfd_create("stdin", MFD_CLOEXEC),
                       "open");
        send(reread, input);
        std::string const path = "/proc/self/fd/" + std::to_string(reread);
        in = check(open(path.c_str(), O_RDONLY | O_CLOEXEC | flags), "open");
    } else if (from == Stdin::dir) {
        in = check(open("/", O_RDONLY | O_CLOEXEC), "open");
    } else if (dgram || from == Stdin::time_limit) {
        int const flags = from == Stdin::dgram_nb || from == Stdin::udp_nb ? SOCK_NONBLOCK : 0;
        in = check(socket(udp ? AF_INET : AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | flags, 0), "socket");
        // Connected, since an unconnected UDP socket cannot be shut down (ENOTCONN).
        sockaddr_in const discard{AF_INET, htons(9), {htonl(INADDR_LOOPBACK)}, {}};
        check(udp ? connect(in, reinterpret_cast<sockaddr const*>(&discard), sizeof discard) : 0,
              "connect");
        check(dgram ? shutdown(in, SHUT_RD)
                    : setsockopt(in, SOL_SOCKET, SO_RCVTIMEO, &time_limit, sizeof time_limit),
              "shutdown or setsockopt");
    } else if (from != Stdin::closed) {
        throw std::invalid_argument("no set-up for standard input as "s +
                                    stdin_names.at(std::size_t(from)));
    }
    int const captured = check(memfd_create("stdout", MFD_CLOEXEC), "memfd_create");
    int const err = check(memfd_create("stderr", MFD_CLOEXEC), "memfd_create");
    int out = to == Stdout::closed ? -1 : captured;
    int pair[2];       // a pipe's or a socket's ends
    int out_peer = -1; // the other end of a socket, kept open until the program ends
    if (to == Stdout::full) {
        out = check(open("/dev/full", O_WRONLY | O_CLOEXEC), "open");
    } else if (to == Stdout::no_reader || to == Stdout::no_reader_ignored) {
        check(pipe2(pair, O_CLOEXEC), "pipe2");
        close(pair[0]);
        out = pair[1];
    } else if (to == Stdout::time_limit) {
        check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair),
              "socketpair");
        out = pair[0];
        out_peer = pair[1];
        fill(out);
        check(fcntl(out, F_SETFL, 0), "fcntl");
        check(setsockopt(out, SOL_SOCKET, SO_SNDTIMEO, &time_limit, sizeof time_limit),
              "setsockopt");
    } else if (to != Stdout::captured && to != Stdout::size_limit && to != Stdout::closed) {
        throw std::invalid_argument("no set-up for standard output as "s +
                                    stdout_names.at(std::size_t(to)));
    }

    off_t const noted = lseek(injected, 0, SEEK_CUR); // faults injected before
    pid_t const pid = start_addtwo(in, out, err, to, fault, args);
    if (out != captured) {
        close(out);
    }
    if (reread < 0) {
        close(in); // a file stays open until its offset has been read
    }
    if (from == Stdin::reset) {
        EXPECT_TRUE(waits(pid));
    } else if (feed >= 0) {
        send(feed, input);
    }
    close(feed);
    int const exit_code = wait_for(pid);
    close(out_peer);
    if (fault != nullptr) {
        EXPECT_GT(lseek(injected, 0, SEEK_CUR), noted) << fault << " was never injected";
    }
    std::string rest;
    if (reread >= 0) {
        rest = rest_of(reread, lseek(in, 0, SEEK_CUR));
        close(in);
    }
    return {rest_of(captured, 0), rest_of(err, 0), exit_code, rest};
}

// What the program says on standard error of a read or write failed with `error`.
std::string report(char const* what, int error)
{
    return error == 0 ? "" : "addtwo: "s + what + " error: " + std::strerror(error) + "\n";
}

} // namespace

// ---- The dialogue -----------------------------------------------------------

// Each input through each way in; arguments, whatever they are, change nothing.
TEST(Dialogue, ReadsTwoNumbersAndWritesTheirWrappedSum)
{
    std::string const long_nines(1 << 20, '9'), long_zeros(1 << 20, '0'), long_blanks(1 << 20, ' ');
    std::pair<std::string, std::string_view> const cases[] = {
        {"5\n7\n", "12"},
        {"5 7", "12"},
        {"\n\n \t5\n\t\n  7", "12"},
        {"\v\f\r5\r\n7", "12"},
        {"5 7 9", "12"},
        {"5 0 7", "5"},
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
        // a NUL with more input after it; a last read shorter than the one before
        {"5\0 7"s + std::string(1 << 16, ' ') + "9", "5"},
        {std::string(99, ' ') + "9" + std::string(65'486, ' '), "9"},
        {"\xa0 5 7", "0"},
        {"\xff 5 7", "0"},
        {std::string(4095, ' ') + "5 7", "12"}, // records longer than 4 KiB and 32 KiB
        {std::string(40'000, ' ') + "5 7", "12"},
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
    std::vector<char const*> const args{"--help", "-h", "--version", "1", "2", "", "-"};
    std::tuple<Stdin, char const*, std::vector<char const*>> const ways[] = {
        {Stdin::pipe, "", {}},           {Stdin::file, "", {}},      {Stdin::record, "", {}},
        {Stdin::file, "read-short", {}}, {Stdin::pipe, "eintr", {}}, {Stdin::pipe, "", args}};
    ASSERT_EQ(transcript("12").size(), 83U); // the three texts, and no newline
    for (auto const& [input, sum] : cases) {
        for (auto const& [from, fault, arguments] : ways) {
            if (from == Stdin::record && input.size() > 1 << 16) {
                continue; // the kernel cuts a longer record
            }
            SCOPED_TRACE(testing::PrintToString(input.substr(0, 40)) + " from " +
                         stdin_names.at(std::size_t(from)) + " " + fault +
                         (arguments.empty() ? "" : " with arguments"));
            Outcome const run =
                run_addtwo(input, from, Stdout::captured, *fault ? fault : nullptr, arguments);
            EXPECT_EQ(run.out, transcript(sum));
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.exit_code, 0);
            ASSERT_LT(run.exit_code, 128) << "ended by a signal: the rows after it are not run";
        }
    }
}

// Input is read in blocks, but a file keeps what was not used for the next
// reader, as in `{ addtwo; cat; } < file`; an O_DIRECT input too, where reads
// must start at an aligned address, length and offset.
TEST(Dialogue, LeavesTheRestOfAFileForTheNextReader)
{
    std::string const blanks(100'000, ' ');
    std::string const to_block_end(65'534, ' '); // 1234 straddles a 64 KiB boundary
    std::string const long_rest = " rest" + std::string(70'000, 'x');
    std::tuple<std::string, std::string_view, std::string> const cases[] = {
        {"1 2 rest", "3", " rest"},
        {"5\n7\n", "12", "\n"},
        {"1 2", "3", ""},
        {"12abc", "12", "abc"},
        {blanks + "1 2 rest", "3", " rest"},
        {to_block_end + "1234 5 x", "1239", " x"},
        {blanks + blanks + "1 2 rest", "3", " rest"}, // more than two blocks of 64 KiB
        {"1 2" + long_rest, "3", long_rest},
    };
    int const direct = open(".", O_TMPFILE | O_RDWR | O_DIRECT | O_CLOEXEC, 0600);
    std::string const no_direct = direct < 0 ? std::strerror(errno) : "";
    close(direct);
    for (auto const& [input, sum, rest] : cases) {
        for (Stdin const from : {Stdin::file, Stdin::direct}) {
            SCOPED_TRACE(testing::PrintToString(input.substr(input.find_first_not_of(' '), 40)) +
                         (from == Stdin::direct ? " with O_DIRECT" : ""));
            if (from == Stdin::direct && !no_direct.empty()) {
                continue;
            }
            Outcome const run = run_addtwo(input, from);
            EXPECT_EQ(run.out, transcript(sum));
            EXPECT_EQ(run.rest, rest);
            EXPECT_EQ(run.exit_code, 0);
            ASSERT_LT(run.exit_code, 128) << "ended by a signal: the rows after it are not run";
        }
    }
    if (!no_direct.empty()) {
        GTEST_SKIP() << "O_DIRECT not tested: the working directory's file system says "
                     << no_direct;
    }
}

// A failed read ends its number as the end of the input would, and the run
// goes on; once a write has failed, nothing more is read or written.  Either is
// said on standard error, which is waited on as output is, and exits 1.
// SIGPIPE ends the program where the reader has gone, unless the caller ignores
// it, and SIGXFSZ past a file-size limit.  Reads and writes that are cut short,
// interrupted or have to wait are no failure, on a blocking stream too, nor is
// a datagram socket shut down for reading; a time limit that runs out on a
// blocking socket is, whatever the other stream's flags.  A record longer than
// the program's block of 64 KiB is cut there.
TEST(Dialogue, ReportsStreamsThatFailAndBearsWithShortOnes)
{
    struct Case {
        std::string input = " 5\n7\n";
        Stdin from = Stdin::file;
        Stdout to = Stdout::captured;
        char const* fault = nullptr;
        std::string out = transcript("12"); // on standard output: an ordinary run's
        int read_error = 0, write_error = 0;
        std::string rest = input; // from a file, what the next reader gets
    };
    std::string const prompts = first_prompt + second_prompt;
    std::string const long_record = "5" + std::string(70'000, ' ') + "7";
    Case const cases[] = {
        {.to = Stdout::full, .out = "", .write_error = ENOSPC},
        {.fault = "write-0", .out = "", .write_error = ENOSPC},
        {.fault = "write-eio-2", .out = first_prompt, .write_error = EIO, .rest = "\n7\n"},
        {.fault = "write-eio-3", .out = prompts, .write_error = EIO, .rest = "\n"},
        {.fault = "write-eio-3+close-edquot", .out = prompts, .write_error = EIO, .rest = "\n"},
        {.fault = "close-eio", .write_error = EIO, .rest = "\n"},
        {.from = Stdin::pipe, .fault = "close-eio", .write_error = EIO},
        {.fault = "close-edquot", .write_error = EDQUOT, .rest = "\n"},
        {.fault = "write-poll-enomem", .out = "", .write_error = ENOMEM},
        {.fault = "write-poll-hup", .out = "", .write_error = EPIPE},
        {.from = Stdin::file_nb, .to = Stdout::time_limit, .out = "", .write_error = EAGAIN},
        {.to = Stdout::time_limit, .fault = "stderr-full", .out = "", .write_error = EAGAIN},
        {.to = Stdout::no_reader, .out = ""},
        {.to = Stdout::no_reader_ignored, .out = "", .write_error = EPIPE},
        {.to = Stdout::size_limit, .out = ""},
        {.from = Stdin::pipe, .to = Stdout::closed, .out = "", .write_error = EBADF},
        {.from = Stdin::closed, .out = transcript("0"), .read_error = EBADF},
        {.from = Stdin::dir, .fault = "stderr-full", .out = transcript("0"), .read_error = EISDIR},
        {.from = Stdin::dir, .out = transcript("0"), .read_error = EISDIR},
        {.from = Stdin::dir,
         .fault = "write-eio-2",
         .out = first_prompt,
         .read_error = EISDIR,
         .write_error = EIO},
        {.fault = "read-poll-enomem", .out = transcript("0"), .read_error = ENOMEM},
        {.fault = "read-eio-1", .out = transcript("0"), .read_error = EIO},
        {.fault = "read-eio-2", .out = transcript("0"), .read_error = EIO, .rest = "5\n7\n"},
        {.fault = "read-eio-3", .out = transcript("5"), .read_error = EIO, .rest = "\n7\n"},
        {.fault = "read-eilseq", .out = transcript("0"), .read_error = EILSEQ},
        {.from = Stdin::time_limit, .out = transcript("0"), .read_error = EAGAIN},
        {.from = Stdin::reset, .out = transcript("0"), .read_error = ECONNRESET},
        {.fault = "one-byte", .rest = "\n"},
        {.from = Stdin::pipe, .fault = "one-byte"},
        {.fault = "eintr", .rest = "\n"},
        {.from = Stdin::pipe, .fault = "eintr"},
        {.from = Stdin::file_nb, .fault = "eagain-poll-eintr", .rest = "\n"},
        {.from = Stdin::pipe, .fault = "eagain-poll-eintr"},
        {.from = Stdin::record, .fault = "eagain-poll-eintr"},
        {.from = Stdin::dgram, .out = transcript("0")},
        {.from = Stdin::dgram_nb, .out = transcript("0")},
        {.from = Stdin::udp, .out = transcript("0")},
        {.from = Stdin::udp_nb, .out = transcript("0")},
        {.input = long_record, .from = Stdin::record, .out = transcript("5")},
    };
    for (Case const& row : cases) {
        SCOPED_TRACE("from "s + stdin_names.at(std::size_t(row.from)) + " to " +
                     stdout_names.at(std::size_t(row.to)) + " with " +
                     (row.fault != nullptr ? row.fault : "no fault"));
        bool const from_file = row.from == Stdin::file || row.from == Stdin::file_nb;
        int const exit_code = row.to == Stdout::no_reader    ? 128 + SIGPIPE
                              : row.to == Stdout::size_limit ? 128 + SIGXFSZ
                                                             : row.read_error || row.write_error;
        Outcome const run = run_addtwo(row.input, row.from, row.to, row.fault);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.err, report("read", row.read_error) + report("write", row.write_error));
        EXPECT_EQ(run.rest, from_file ? row.rest : "");
        EXPECT_EQ(run.exit_code, exit_code);
        ASSERT_TRUE(run.exit_code < 128 || run.exit_code == exit_code)
            << "ended by a signal: the rows after it are not run";
    }
}

// ---- The program as another party waits on it ------------------------------

// A person at a terminal, or a program that drives addtwo through one socket,
// answers each prompt only once it has arrived; a prompt held back would leave
// both sides waiting.  The terminal echoes what is typed, so its screen shows
// prompts and answers interleaved.  Ctrl-D at the first prompt ends the input:
// the end is remembered, and the second number is not waited for.
TEST(Interactive, EachPromptArrivesBeforeTheProgramWaits)
{
    // whether on a terminal, and each step's keys and what comes back
    std::pair<bool, std::vector<std::pair<std::string_view, std::string_view>>> const sessions[] = {
        {true,
         {{"", first_prompt},
          {"5\n", "5\r\nEnter the second number: "},
          {"7\n", "7\r\nSum of the two numbers is 12"}}},
        {true,
         {{"", first_prompt}, {"\x04", "Enter the second number: Sum of the two numbers is 0"}}},
        {false,
         {{"", first_prompt}, {"5\n", second_prompt}, {"7\n", "Sum of the two numbers is 12"}}},
    };
    std::string no_terminal; // why the terminal sessions were not run
    for (auto const& [terminal, steps] : sessions) {
        int ends[2]; // the tests' end and the program's
        if (terminal) {
            ends[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (ends[0] < 0) {
                no_terminal = std::strerror(errno);
                continue;
            }
            ASSERT_FALSE(grantpt(ends[0]) || unlockpt(ends[0]));
            ends[1] = check(open(ptsname(ends[0]), O_RDWR | O_NOCTTY | O_CLOEXEC), "open");
        } else {
            check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), "socketpair");
        }
        pid_t const pid = start_addtwo(ends[1], ends[1], terminal ? ends[1] : STDERR_FILENO);
        close(ends[1]);
        for (auto const& [keys, screen] : steps) {
            SCOPED_TRACE(testing::PrintToString(keys));
            send(ends[0], keys);
            EXPECT_EQ(read_some(ends[0], screen.size()), screen);
        }
        // Nothing more comes, and the program ends.  One that reads on is ended
        // by its alarm, set before this read began, and exits with 142, not 0.
        EXPECT_EQ(read_some(ends[0], 1), "");
        close(ends[0]);
        ASSERT_EQ(wait_for(pid), 0); // a failed session ends the test here
    }
    if (!no_terminal.empty()) {
        GTEST_SKIP() << "no pseudo-terminal to be had: " << no_terminal;
    }
}

// A caller may share its pipe ends, or one socket for both streams, with
// O_NONBLOCK set, and time limits on the socket that then do not apply.  The
// program must wait, not spin, for input that comes late and for room in a full
// pipe or socket, also once the caller has sent all its input and shut down its
// writing side, and where poll reports an error queued on the socket at once,
// again and again (it pauses then, waking ten times a tenth of a second); and
// it leaves the flags, which belong to the caller too, as they are.  Each part
// is sent only once the program sleeps, so that every wait does happen.
TEST(Interactive, NonBlockingStreamsAreWaitedOn)
{
    enum { pipes, unix_socket, tcp_socket };
    for (int const kind : {pipes, unix_socket, tcp_socket}) {
        SCOPED_TRACE(kind == pipes ? "two pipes" : kind == unix_socket ? "one socket" : "TCP");
        int in[2], out[2]; // the program's ends are in[0] and out[1]
        if (kind == pipes) {
            ASSERT_FALSE(pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC));
        } else if (kind == unix_socket) {
            ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in), 0);
        } else {
            // TCP on the loopback interface, with a zero-copy completion queued
            // on the program's end once its byte has arrived.
            sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
            auto* const name = reinterpret_cast<sockaddr*>(&address);
            socklen_t size = sizeof address;
            int const listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
            in[1] = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ASSERT_FALSE(bind(listener, name, size) || listen(listener, 1) ||
                         getsockname(listener, name, &size) || connect(in[1], name, size));
            in[0] = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            close(listener);
            ASSERT_EQ(setsockopt(in[0], SOL_SOCKET, SO_ZEROCOPY, &on, sizeof on), 0);
            // Full while any of what it was given is unsent, so that an
            // acknowledgement that comes late frees no room.
            ASSERT_EQ(setsockopt(in[0], IPPROTO_TCP, TCP_NOTSENT_LOWAT, &on, sizeof on), 0);
            ASSERT_EQ(::send(in[0], "x", 1, MSG_ZEROCOPY), 1);
            ASSERT_EQ(read_some(in[1], 1), "x");
            pollfd queued{in[0], 0, 0};
            ASSERT_EQ(poll(&queued, 1, 5'000), 1);
        }
        if (kind != pipes) { // one socket both ways, with limits shorter than a wait
            out[0] = in[1];
            out[1] = in[0];
            timeval const limit{0, 20'000};
            ASSERT_FALSE(setsockopt(in[0], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) ||
                         setsockopt(in[0], SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit));
        }
        ASSERT_FALSE(fcntl(in[0], F_SETFL, O_NONBLOCK) || fcntl(out[1], F_SETFL, O_NONBLOCK));

        // The first prompt meets a full pipe or socket.  A failed wait ends
        // the test here.
        int const wakeups = kind == tcp_socket ? 20 : 1;
        std::size_t filled = fill(out[1]);
        pid_t const pid = start_addtwo(in[0], out[1], STDERR_FILENO);
        ASSERT_TRUE(waits(pid, wakeups));
        EXPECT_EQ(read_some(out[0], filled).size(), filled);
        ASSERT_EQ(read_some(out[0], first_prompt.size()), first_prompt);

        // The first number comes in two parts.
        ASSERT_TRUE(waits(pid, wakeups));
        send(in[1], "12");
        ASSERT_TRUE(waits(pid, wakeups, in[0]));
        EXPECT_EQ(fcntl(in[0], F_GETFL) & fcntl(out[1], F_GETFL) & O_NONBLOCK, O_NONBLOCK);

        // The rest comes with the end of the input while the program is
        // stopped, so that its wait reports both at once; the second prompt
        // meets a full pipe or socket again.
        kill(pid, SIGSTOP);
        ASSERT_EQ(waitpid(pid, nullptr, WUNTRACED), pid);
        filled = fill(out[1]);
        send(in[1], "34 5");
        close(in[0]);
        if (kind == pipes) {
            close(out[1]);
            close(in[1]);
        } else {
            shutdown(in[1], SHUT_WR);
        }
        kill(pid, SIGCONT);
        ASSERT_TRUE(waits(pid, wakeups));
        EXPECT_EQ(read_some(out[0], filled).size(), filled);
        std::string const rest = second_prompt + "Sum of the two numbers is 1239";
        EXPECT_EQ(read_some(out[0], rest.size() + 1), rest);
        close(out[0]);
        EXPECT_EQ(wait_for(pid), 0);
    }
}
