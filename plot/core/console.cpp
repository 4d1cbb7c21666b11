// The console stream and the library clock, and the date and time texts
// made from the clock.
#include "core/console.h"

#include "core/format.h"

namespace plotix::detail {

namespace {

ClockFn& clock_fn() {
    static ClockFn fn;
    return fn;
}

std::FILE*& console_stream() {
    static std::FILE* f = nullptr;
    return f;
}

std::string two(int v) {
    return v < 10 && v >= 0 ? "0" + fmt_int(v) : fmt_int(v);
}

} // namespace

void set_clock(ClockFn fn) {
    clock_fn() = std::move(fn);
}

std::tm clock_now() {
    if (clock_fn()) return clock_fn()();
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string dddate() {
    std::tm tm = clock_now();
    return two(tm.tm_mday) + "." + two(tm.tm_mon + 1) + "." + fmt_int(tm.tm_year + 1900, 4);
}

std::string ddtime() {
    std::tm tm = clock_now();
    return two(tm.tm_hour) + ":" + two(tm.tm_min) + ":" + two(tm.tm_sec);
}

void set_console(std::FILE* f) {
    console_stream() = f;
}

std::FILE* console() {
    return console_stream() ? console_stream() : stdout;
}

} // namespace plotix::detail
