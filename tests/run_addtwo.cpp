#include "run_addtwo.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

template <typename Result> Result check(Result result, char const* what)
{
    if (result < 0) {
        throw std::system_error(errno, std::generic_category(), what);
    }
    return result;
}

std::string contents(int fd)
{
    std::string text;
    char buffer[4096];
    check(lseek(fd, 0, SEEK_SET), "lseek");
    while (ssize_t const n = check(read(fd, buffer, sizeof buffer), "read")) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

} // namespace

Outcome run_addtwo(std::string_view input, std::vector<std::string> const& args, Stdout where)
{
    // The program may stop reading before the end of the input; what it
    // leaves must not kill this process.
    std::signal(SIGPIPE, SIG_IGN);

    int in[2];
    check(pipe2(in, O_CLOEXEC), "pipe2");
    int const out = check(memfd_create("stdout", MFD_CLOEXEC), "memfd_create");
    int const err = check(memfd_create("stderr", MFD_CLOEXEC), "memfd_create");

    std::vector<char*> argv{const_cast<char*>(ADDTWO_PATH)};
    for (auto const& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t const pid = check(fork(), "fork");
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        if (where == Stdout::closed) {
            close(STDOUT_FILENO);
        } else if (where == Stdout::full_device) {
            dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        } else {
            dup2(out, STDOUT_FILENO);
        }
        dup2(err, STDERR_FILENO);
        std::signal(SIGPIPE, SIG_DFL);
        execv(ADDTWO_PATH, argv.data());
        _exit(127);
    }
    close(in[0]);

    while (!input.empty()) {
        ssize_t const n = write(in[1], input.data(), input.size());
        if (n < 0 && errno == EPIPE) {
            break;
        }
        input.remove_prefix(static_cast<std::size_t>(check(n, "write")));
    }
    close(in[1]);

    int status = 0;
    check(waitpid(pid, &status, 0), "waitpid");
    int const exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {contents(out), contents(err), exit_code};
}

std::string transcript(std::string_view sum)
{
    return "Enter the first number please:Enter the second number: Sum of the two numbers is " +
           std::string(sum);
}
