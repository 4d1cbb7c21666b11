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

// A value taken from the input as an error message quotes it: control
// characters (NUL, ESC, ...) are written as \xNN, so that the message is not
// cut short at a NUL and sends no control codes to the terminal.
inline std::string quoted_input(std::string_view value) {
    std::string text;
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
    return text;
}

} // namespace fasogram
