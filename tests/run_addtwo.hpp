// Runs the built addtwo the way a shell would and collects what it did.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class Stdout {
    captured,    // a file whose bytes are returned
    full_device, // /dev/full: every write fails with ENOSPC
    closed,      // no descriptor 1 at all
};

struct Outcome {
    std::string out;
    std::string err;
    int exit_code; // as a shell reports it: 128 + N for a death by signal N
};

// Feeds `input` to the program through a pipe, as `printf ... | addtwo args`.
Outcome run_addtwo(std::string_view input, std::vector<std::string> const& args = {},
                   Stdout where = Stdout::captured);

// The three texts of a dialogue whose result is `sum`.
std::string transcript(std::string_view sum);
