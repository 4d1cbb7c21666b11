// Small helpers shared by the program's and the library's tests.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

namespace test_common {

// Runs cmd through the shell and returns what it wrote on standard output and
// standard error; when it fails, a last line "(exit status N)" follows.
std::string run_command(const std::string& cmd);

// Runs cmd through the shell with standard error joined to standard output,
// stores that in output and returns the exit status.
int run_command(const std::string& cmd, std::string& output);

// Everything written to f so far; leaves f positioned at its end.
std::string read_stream(std::FILE* f);

// The clock the tests give the plotting library: 05.03.2024 14:07:09.
std::tm fixed_time();

} // namespace test_common
