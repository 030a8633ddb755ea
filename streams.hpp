// The standard streams, read and written straight through their descriptors.
// Descriptors handed over non-blocking are waited on with poll(2); their
// flags belong to an open file description that others share, so they are
// never changed.
#pragma once

#include <cstdio>
#include <string_view>

// Standard input, read in blocks.  next() is the per-character path and stays
// inline; refilling the block, waiting and errors are out of line.
class Input {
  public:
    Input() = default;
    Input(Input const&) = delete;
    Input& operator=(Input const&) = delete;

    // The next character as an unsigned char, or EOF once the input has ended
    // or failed.  Both are for good: later calls give EOF as well.
    int next()
    {
        if (next_ != end_) [[likely]] {
            return *next_++;
        }
        return refill();
    }

    // Puts back `c`, the character that next() gave last (nothing for EOF).
    void put_back(int c)
    {
        if (c != EOF) {
            --next_;
        }
    }

    // Hands the unread rest of the current block back to the next reader,
    // where the input can seek: a file's offset then stands just after the
    // last character used.
    void leave_rest();

    // The error number of the read that failed, or 0.
    int error() const
    {
        return error_;
    }

  private:
    int refill();

    unsigned char buffer_[1 << 16];
    unsigned char const* next_ = buffer_;
    unsigned char const* end_ = buffer_;
    bool ended_ = false;
    int error_ = 0;
};

// Standard output.  Each text leaves whole before write() returns, so a reader
// waiting for a prompt gets it before the program waits for the answer.
class Output {
  public:
    // Once a write has failed nothing more is written: what would follow
    // the gap could only mislead.
    void write(std::string_view text);

    // The error number of the write that failed, or 0.
    int error() const
    {
        return error_;
    }

  private:
    int error_ = 0;
};

// Writes "addtwo: <what> error: <the system's text for error>" and a newline
// to standard error.
void report(char const* what, int error);
