// What the spectrum benchmarks share: their clocks and the survey-like
// series they time.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace bench {

// CPU seconds of the calling thread, of the whole process, and wall seconds.
inline double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}
inline double process_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}
inline double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Series {
    std::vector<double> t, x;
};

// n times as a ground-based survey samples a star: clear nights of the
// observing seasons over 3000 days from JD 2455000, a few points a night;
// values 12 + 0.3 cos(2 pi t / 2.7) and noise of 0.1.
inline Series survey(std::size_t n) {
    std::mt19937_64 rng(11 + n);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> nights;
    for (int d = 0; d < 3000; ++d)
        if (std::fmod(d, 365.25) / 365.25 < 0.68 && unit(rng) > 0.3) nights.push_back(d);
    Series s;
    for (std::size_t i = 0; i < n; ++i)
        s.t.push_back(2455000.0 + nights[rng() % nights.size()] + 0.3 * unit(rng));
    std::sort(s.t.begin(), s.t.end());
    for (const double t : s.t)
        s.x.push_back(12.0 + 0.3 * std::cos(2 * M_PI * t / 2.7) + noise(rng));
    return s;
}

// A benchmark's size from its arguments: [POINTS] [--frequencies M]
// [--rounds R], from the defaults in `size`, and any other option NAME
// VALUE that more(NAME, VALUE) takes (it returns whether it did).
struct Size {
    std::size_t points = 0, frequencies = 0;
    int rounds = 0;
};
template <class More> Size read_size(int argc, char** argv, Size size, More more) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool valued = i + 1 < argc;
        if (a == "--frequencies" && valued)
            size.frequencies = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--rounds" && valued)
            size.rounds = std::atoi(argv[++i]);
        else if (valued && more(a, std::string(argv[i + 1])))
            ++i;
        else
            size.points = std::strtoul(argv[i], nullptr, 10);
    }
    return size;
}
inline Size read_size(int argc, char** argv, Size size) {
    return read_size(argc, argv, size,
                     [](const std::string&, const std::string&) { return false; });
}

} // namespace bench
