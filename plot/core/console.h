// What the library takes from the world outside and tests replace: the
// console stream its messages go to and the clock of the summary's date and
// time.
#ifndef PLOTIX_CORE_CONSOLE_H
#define PLOTIX_CORE_CONSOLE_H

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

namespace plotix::detail {

// Local date "dd.mm.yyyy" and time "hh:mm:ss" from the library clock.
std::string dddate();
std::string ddtime();

// The library clock: returns the broken-down local time. Tests replace it.
using ClockFn = std::function<std::tm()>;
void set_clock(ClockFn fn); // an empty function restores the real clock
std::tm clock_now();

// The console stream (standard output). Tests replace it.
void set_console(std::FILE* f); // nullptr restores standard output
std::FILE* console();

} // namespace plotix::detail

#endif
