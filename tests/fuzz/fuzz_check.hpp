// Shared by the fuzz targets: how a target reports a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A check of a fuzz target failed: prints what disagreed and aborts, which
// the fuzzer (and the replay program) reports as a crash with this input.
[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void check(bool ok, const std::string& what) {
    if (!ok) fail(what);
}

// Printable form of a text for the report: control and non-ASCII bytes as \xNN.
inline std::string shown(const std::string& text) {
    std::string s;
    for (unsigned char c : text) {
        if (c >= 32 && c < 127 && c != '\\') {
            s += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            s += buf;
        }
    }
    return s;
}

} // namespace fuzz
