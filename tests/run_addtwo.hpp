// Runs the built addtwo the way a shell or another program would and collects
// what it did.
#pragma once

#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

enum class Stdin {
    piped,     // the input through a pipe, as `printf ... | addtwo`
    file,      // the input as a regular file, as `addtwo < file`
    closed,    // no descriptor 0 at all
    directory, // a directory: every read fails with EISDIR
};

enum class Stdout {
    captured,    // a file whose bytes are returned
    full_device, // /dev/full: every write fails with ENOSPC
    closed,      // no descriptor 1 at all
};

struct Streams {
    Stdin in = Stdin::piped;
    Stdout out = Stdout::captured;
    char const* fault = nullptr; // what inject_fault.cpp does to them, if anything
};

struct Outcome {
    std::string out;
    std::string err;
    int exit_code;    // as a shell reports it: 128 + N for a death by signal N
    std::string rest; // from a file: what the next reader of it gets
};

// Feeds `input` to the program as `streams.in` says and waits for it to end.
Outcome run_addtwo(std::string_view input, std::vector<std::string> const& args = {},
                   Streams streams = {});

// Starts the program with `in`, `out` and `err` as its standard streams; a
// negative one is left closed.  Unless a fault is injected, its stack is
// limited as on a small system (preloading needs more).
pid_t start_addtwo(int in, int out, int err, std::vector<std::string> const& args = {},
                   char const* fault = nullptr);

// Waits for the program to end, and kills it if it has not ended within five
// seconds; its exit status as a shell reports it.  `usage`, if given, gets the
// resources it used.
int wait_for(pid_t pid, rusage* usage = nullptr);

// Reads from `fd` until `count` bytes have come, the other side has closed, or
// nothing has come for five seconds.
std::string read_some(int fd, std::size_t count);

// The three texts of a dialogue whose result is `sum`.
std::string transcript(std::string_view sum);
