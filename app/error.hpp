#pragma once

#include <stdexcept>
#include <string>

namespace fasogram {

// Raised for every condition that stops the run: the dialogue catches it,
// prints "fasogram: error: <message>" on the error stream and exits with 1.
class FatalError : public std::runtime_error {
  public:
    explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace fasogram
