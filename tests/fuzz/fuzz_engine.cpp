// Fuzz target of the spectrum engine's public entries: a series, a grid, a
// list of frequencies and the settings, all from the input's bytes, extreme
// and non-finite values included.  Every call either raises
// std::invalid_argument (SeriesError included) or gives points that follow
// the grid, with rho in [0, 1] to its eight printed digits or NaN at a
// singular frequency.
//
// Input: window, digits, threads and path bytes, the number of steps as a
// 16-bit integer, f_ini, f_fin and the line width as raw doubles, then
// (time, value) pairs as raw doubles; when the pairs run out, what is left
// (fewer than 16 bytes) is ignored.  The extra frequencies of fit() are the
// values of the pairs read as frequencies.
#include "fasogram/spectrum.hpp"
#include "fuzz_check.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool take(void* out, std::size_t n) {
        if (size - at < n) return false;
        std::memcpy(out, data + at, n);
        at += n;
        return true;
    }
};

constexpr std::size_t kMaxPoints = 48;
constexpr std::int64_t kMaxSteps = 300;

std::string shown_double(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

void check_point(const fasogram::SpectrumPoint& p) {
    // The exact rho lies in [0, 1]: so does its eight-digit rounding, which
    // is what the engine settles (the double's last bits need not be).
    char eight[32];
    std::snprintf(eight, sizeof eight, "%.7e", p.rho);
    fuzz::check(std::isnan(p.rho) || (p.rho >= 0.0 && std::strtod(eight, nullptr) <= 1.0),
                "rho out of [0, 1]: " + shown_double(p.rho) + " at f = " + shown_double(p.f));
    fuzz::check(std::isfinite(p.f), "a frequency that is not finite");
    // A fit that is not singular has finite coefficients, which a double
    // may not hold but their scaled form does, and which print.
    if (std::isnan(p.rho)) return;
    for (int k = 1; k <= 3; ++k) {
        const fasogram::ScaledValue c = fasogram::coefficient(p, k);
        fuzz::check(std::isfinite(c.hi) && std::isfinite(c.lo),
                    "C" + std::to_string(k) + " not finite at f = " + shown_double(p.f));
        const std::string printed = fasogram::format_full_digits(c);
        fuzz::check(printed.size() >= 22 && printed.find('e') != std::string::npos,
                    "C" + std::to_string(k) + " printed as " + printed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fasogram;
    Reader in{data, size};
    std::uint8_t window = 0, digits = 0, threads = 0, path = 0;
    std::int16_t steps = 0;
    double f_ini = 0, f_fin = 0, width = 0;
    if (!in.take(&window, 1) || !in.take(&digits, 1) || !in.take(&threads, 1) ||
        !in.take(&path, 1) || !in.take(&steps, 2) || !in.take(&f_ini, 8) || !in.take(&f_fin, 8) ||
        !in.take(&width, 8))
        return 0;
    std::vector<double> t, x;
    for (double a, b; t.size() < kMaxPoints && in.take(&a, 8) && in.take(&b, 8);) {
        t.push_back(a);
        x.push_back(b);
    }
    // Out-of-range settings are part of the input: the entries must refuse
    // them.  A bad grid with too many steps would only cost time.
    EngineOptions options;
    options.path = static_cast<GridPath>(path % 4);
    options.careful_lanes = (path & 4) == 0;
    const auto w = static_cast<Window>(window % 3);
    const auto d = static_cast<Digits>(digits % 3);
    const unsigned nt = threads % 4;
    FrequencyGrid grid{f_ini, f_fin, std::min<std::int64_t>(steps, kMaxSteps), width};
    try {
        const SpectrumEngine engine(t, x, w, options);
        fuzz::check(w == Window::hanning || w == Window::square, "a bad window was taken");
        fuzz::check(std::isfinite(engine.line_width()) && engine.line_width() > 0.0,
                    "line width not finite and positive");
        try {
            std::int64_t expected = 0;
            bool valid = true;
            try {
                check_grid(grid, engine.largest_time());
                for (std::int64_t j = 0; j < grid.size(); ++j)
                    expected += grid.skipped(grid.frequency(j)) ? 0 : 1;
            } catch (const std::invalid_argument&) {
                valid = false;
            }
            std::int64_t seen = 0;
            double last = -INFINITY;
            engine.run(
                grid,
                [&](const SpectrumPoint& p) {
                    check_point(p);
                    fuzz::check(p.f > last, "frequencies not increasing");
                    last = p.f;
                    ++seen;
                },
                nt, d);
            fuzz::check(valid, "a grid that check_grid refuses was run");
            fuzz::check(d == Digits::eight || d == Digits::full, "a bad digits value was taken");
            fuzz::check(seen == expected, "run handed on " + std::to_string(seen) +
                                              " points, the grid has " + std::to_string(expected));
        } catch (const std::invalid_argument&) {
        }
        try {
            const std::vector<SpectrumPoint> fits = engine.fit(x, nt);
            fuzz::check(fits.size() == x.size(), "fit lost frequencies");
            for (const SpectrumPoint& p : fits) check_point(p);
        } catch (const std::invalid_argument&) {
        }
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
