// The program's fatal error and the quoting of input in its messages.
#pragma once

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

// The most characters of one quoted value in a message.
inline constexpr std::size_t quoted_max = 200;

// A value taken from the input (a word, a file name) as an error message
// quotes it: control characters (NUL, ESC, newlines, ...) are written as
// \xNN, so that the message stays one line, is not cut short at a NUL and
// sends no control codes to the terminal; past quoted_max characters the
// value is cut and "..." ends it.
inline std::string quoted_input(std::string_view value) {
    std::string text;
    const bool cut = value.size() > quoted_max;
    if (cut) value = value.substr(0, quoted_max);
    for (const char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02X", u);
            text += code;
        } else {
            text += c;
        }
    }
    if (cut) text += "...";
    return text;
}

// A command-line argument in a message: quoted as above, between quotes.
inline std::string quoted_argument(std::string_view value) {
    return "'" + quoted_input(value) + "'";
}

} // namespace fasogram
