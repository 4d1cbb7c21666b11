// The program's fatal error and the quoting of input in its messages.
#pragma once

#include "fasogram/series.hpp"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fasogram {

// Raised for every condition that stops the run: the dialogue catches it,
// prints "fasogram: error: <message>" on the error stream and exits with 1.
class FatalError : public std::runtime_error {
  public:
    explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// quoted_input (fasogram/series.hpp) quotes a value taken from the input (a
// word, a file name) in an error message: control characters as \xNN, so that
// the message stays one line, is not cut short at a NUL and sends no control
// codes to the terminal, and no more than 200 characters of it.

// A command-line argument in a message: quoted as above, between quotes.
inline std::string quoted_argument(std::string_view value) {
    return "'" + quoted_input(value) + "'";
}

} // namespace fasogram
