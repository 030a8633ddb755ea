#include "run_addtwo.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

template <typename Result> Result check(Result result, char const* what)
{
    if (result < 0) {
        throw std::system_error(errno, std::generic_category(), what);
    }
    return result;
}

// What is left in `fd` from its current offset on; closes it.
std::string rest_of(int fd)
{
    std::string text;
    char buffer[4096];
    while (ssize_t const n = check(read(fd, buffer, sizeof buffer), "read")) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

std::string contents(int fd)
{
    check(lseek(fd, 0, SEEK_SET), "lseek");
    return rest_of(fd);
}

void write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t const n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EPIPE) {
            return; // the program may stop reading before the end
        }
        text.remove_prefix(static_cast<std::size_t>(check(n, "write")));
    }
}

int open_stdin(Stdin from, std::string_view input, int (&pipe_ends)[2])
{
    switch (from) {
    case Stdin::piped:
        check(pipe2(pipe_ends, O_CLOEXEC), "pipe2");
        return pipe_ends[0];
    case Stdin::file: {
        int const file = check(memfd_create("stdin", MFD_CLOEXEC), "memfd_create");
        write_all(file, input);
        check(lseek(file, 0, SEEK_SET), "lseek");
        return file;
    }
    case Stdin::directory:
        return check(open("/", O_RDONLY | O_CLOEXEC), "open");
    case Stdin::closed:
        break;
    }
    return -1;
}

} // namespace

pid_t start_addtwo(int in, int out, int err, std::vector<std::string> const& args,
                   char const* fault)
{
    std::vector<char*> argv{const_cast<char*>(ADDTWO_PATH)};
    for (auto const& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

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
        std::signal(SIGPIPE, SIG_DFL);
        if (fault == nullptr) {
            rlimit const small_stack{SMALL_STACK_KIB << 10, SMALL_STACK_KIB << 10};
            setrlimit(RLIMIT_STACK, &small_stack);
        } else {
            setenv("INJECT_FAULT", fault, 1);
            setenv("LD_PRELOAD", INJECT_FAULT_PATH, 1);
            // The sanitizers' run-time would rather be loaded first.
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        }
        execv(ADDTWO_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

int wait_for(pid_t pid, rusage* usage)
{
    using namespace std::chrono;
    auto const deadline = steady_clock::now() + 5s;
    int status = 0;
    while (check(wait4(pid, &status, WNOHANG, usage), "wait4") == 0) {
        if (steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            check(wait4(pid, &status, 0, usage), "wait4");
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string read_some(int fd, std::size_t count)
{
    std::string text;
    while (text.size() < count) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 5'000) != 1) {
            break;
        }
        char buffer[4096];
        ssize_t const n = read(fd, buffer, std::min(sizeof buffer, count - text.size()));
        if (n <= 0) { // a terminal gives EIO once the program's side is closed
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

Outcome run_addtwo(std::string_view input, std::vector<std::string> const& args, Streams streams)
{
    // What the program leaves unread must not kill this process.
    std::signal(SIGPIPE, SIG_IGN);

    int pipe_ends[2] = {-1, -1};
    int const in = open_stdin(streams.in, input, pipe_ends);
    int const out = check(memfd_create("stdout", MFD_CLOEXEC), "memfd_create");
    int const err = check(memfd_create("stderr", MFD_CLOEXEC), "memfd_create");
    int const full = streams.out == Stdout::full_device
                         ? check(open("/dev/full", O_WRONLY | O_CLOEXEC), "open")
                         : -1;

    pid_t const pid =
        start_addtwo(in, streams.out == Stdout::captured ? out : full, err, args, streams.fault);
    if (full >= 0) {
        close(full);
    }
    if (in >= 0 && streams.in != Stdin::file) {
        close(in);
    }
    if (streams.in == Stdin::piped) {
        write_all(pipe_ends[1], input);
        close(pipe_ends[1]);
    }
    int const exit_code = wait_for(pid);
    std::string const rest = streams.in == Stdin::file ? rest_of(in) : "";
    return {contents(out), contents(err), exit_code, rest};
}

std::string transcript(std::string_view sum)
{
    return "Enter the first number please:Enter the second number: Sum of the two numbers is " +
           std::string(sum);
}
