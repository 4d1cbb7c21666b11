// fasogram._fasogram: the spectrum engine for Python.
//
// The package's Python layer (fasogram/__init__.py) turns any array-like
// into contiguous float64 arrays and wraps the results; this module checks
// every argument again, so that calling it directly cannot crash either.
// The engine runs with the GIL released.
#include "fasogram/spectrum.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

// Several frequencies (multifreq_module.cpp).
namespace fasogram_python {
void bind_multifreq(py::module_& m);
}

using fasogram::FrequencyGrid;
using fasogram::SeriesError;
using fasogram::SpectrumEngine;
using fasogram::SpectrumPoint;
using fasogram::Window;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::string window_name(Window window) {
    return window == Window::hanning ? "hanning" : "square";
}

Window parse_window(const std::string& name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "hanning") return Window::hanning;
    if (lower == "square") return Window::square;
    throw py::value_error("unknown window '" + name + "': use 'hanning' or 'square'");
}

std::string number_text(double value) {
    return py::str(py::float_(value)).cast<std::string>();
}

std::span<const double> checked_series(const Array& a, const char* name) {
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be one-dimensional, got " +
                              std::to_string(a.ndim()) + " dimensions");
    const std::span<const double> values(a.data(), static_cast<std::size_t>(a.shape(0)));
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!std::isfinite(values[i]))
            throw py::value_error(std::string(name) + "[" + std::to_string(i) +
                                  "] is not finite (" + number_text(values[i]) + ")");
    return values;
}

std::string series_message(const SeriesError& error, std::size_t n, Window window) {
    switch (error.kind()) {
    case SeriesError::Kind::size_mismatch: return "t and y differ in length";
    case SeriesError::Kind::too_few_points:
        return "a spectrum needs at least 2 points, got " + std::to_string(n);
    case SeriesError::Kind::not_finite: return "a time or a value is not finite";
    case SeriesError::Kind::no_time_span: return "every time in t is the same: no time span";
    case SeriesError::Kind::bad_error:
        return "dy[" + std::to_string(error.index()) + "] must be above 0";
    case SeriesError::Kind::zero_variance:
        return "y does not vary under the " + window_name(window) +
               " window (zero weighted variance" +
               (window == Window::hanning ? ", the first and last times weigh nothing" : "") +
               "): the series has no spectrum";
    }
    return error.what();
}

// A computed spectrum: the engine that made it (for the peaks) and its points.
// Thrown by the interruption point when Python has a signal to handle (a
// KeyboardInterrupt is then set): it stops the engine's threads.
struct Interrupted : std::exception {};

// The engine's settings for a call from Python: the signal handlers of the
// interpreter (Ctrl-C) run at the interruption points.
fasogram::EngineOptions interruptible() {
    fasogram::EngineOptions options;
    options.interruption_point = [] {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) throw Interrupted();
    };
    return options;
}

class Result {
  public:
    Result(SpectrumEngine engine, std::vector<SpectrumPoint> points, unsigned threads,
           const FrequencyGrid& grid, fasogram::FapBasis basis)
        : Result(std::move(engine), std::move(points), threads, grid, basis, {}) {}

    // The fits at frequencies given one by one (`given`, in their order);
    // `points` holds them in increasing frequency for the peaks.
    Result(SpectrumEngine engine, std::vector<SpectrumPoint> points, unsigned threads,
           const FrequencyGrid& grid, fasogram::FapBasis basis,
           std::optional<std::vector<SpectrumPoint>> given)
        : engine_(std::move(engine)), points_(std::move(points)), threads_(threads), grid_(grid),
          given_(given.has_value()), basis_(basis) {
        const std::vector<SpectrumPoint>& shown = given ? *given : points_;
        const auto n = static_cast<py::ssize_t>(shown.size());
        Array f(n), rho(n), c1(n), c2(n), c3(n);
        auto fv = f.mutable_unchecked<1>();
        auto rv = rho.mutable_unchecked<1>();
        auto av = c1.mutable_unchecked<1>();
        auto bv = c2.mutable_unchecked<1>();
        auto cv = c3.mutable_unchecked<1>();
        for (py::ssize_t i = 0; i < n; ++i) {
            const SpectrumPoint& p = shown[static_cast<std::size_t>(i)];
            fv(i) = p.f;
            rv(i) = p.rho;
            av(i) = p.c1;
            bv(i) = p.c2;
            cv(i) = p.c3;
        }
        arrays_ = py::make_tuple(f, rho, c1, c2, c3);
    }

    py::tuple arrays() const { return arrays_; }
    std::string window() const { return window_name(engine_.window()); }
    double line_width() const { return engine_.line_width(); }
    double mean() const { return engine_.mean(); }
    double variance() const { return engine_.variance(); }
    std::size_t size() const { return engine_.size(); }
    bool has_errors() const { return engine_.has_errors(); }
    // None for frequencies given one by one.
    py::object grid() const {
        if (given_) return py::none();
        return py::make_tuple(grid_.f_ini, grid_.f_fin, grid_.n_points);
    }
    // The fewest steps over the same limits that sample every peak, None
    // when the grid's own do, 0 when no grid of these limits can.
    std::optional<std::int64_t> resolving_steps() const {
        if (given_ || !grid_.undersampled()) return std::nullopt;
        try {
            return fasogram::resolving_steps(grid_);
        } catch (const std::invalid_argument&) {
            return 0;
        }
    }

    std::vector<std::tuple<double, double, double, double, double>> peaks(std::int64_t k) const {
        if (k < 0) throw py::value_error("k must be 0 or more, got " + std::to_string(k));
        // No spectrum has more peaks than points.
        const auto wanted = std::min(static_cast<std::size_t>(k), points_.size());
        // The refinement fits a few frequencies at a time: more threads only
        // pay off on long series.  The result is the same either way.
        const unsigned threads = engine_.size() >= 50000 ? threads_ : 1;
        std::vector<fasogram::Peak> found;
        try {
            py::gil_scoped_release nogil;
            found = fasogram::find_peaks(engine_, points_, wanted, threads);
        } catch (const Interrupted&) {
            throw py::error_already_set();
        }
        std::vector<std::tuple<double, double, double, double, double>> out;
        for (const fasogram::Peak& p : found)
            out.emplace_back(p.frequency, p.period, p.rho, p.amplitude, p.phase);
        return out;
    }

    // The false-alarm probability of a highest peak of rho over the grid's
    // band, and its inverse (Baluev's approximation).
    double false_alarm_probability(double rho) const {
        try {
            return fasogram::false_alarm_probability(rho, grid_.f_ini, grid_.f_fin, basis_);
        } catch (const std::invalid_argument& e) {
            throw py::value_error(e.what());
        }
    }
    double false_alarm_level(double p) const {
        try {
            return fasogram::false_alarm_level(p, grid_.f_ini, grid_.f_fin, basis_);
        } catch (const std::invalid_argument& e) {
            throw py::value_error(e.what());
        }
    }
    py::tuple fap_basis() const { return py::make_tuple(basis_.n_eff, basis_.t_eff); }

    // The series itself, for the bootstrap.
    void keep_series(std::span<const double> t, std::span<const double> y,
                     std::span<const double> dy) {
        t_.assign(t.begin(), t.end());
        y_.assign(y.begin(), y.end());
        dy_.assign(dy.begin(), dy.end());
    }

    // The bootstrap of the series over the grid: `n` resamples from `seed`.
    fasogram::Bootstrap bootstrap(std::int64_t n, py::int_ seed) const {
        if (given_ || t_.empty())
            throw py::value_error("frequencies given one by one search no band: no bootstrap");
        if (n < 1) throw py::value_error("n must be 1 or more, got " + std::to_string(n));
        fasogram::BootstrapOptions o;
        o.resamples = static_cast<std::size_t>(n);
        try {
            o.seed = seed.cast<std::uint64_t>();
        } catch (const py::cast_error&) {
            throw py::value_error("seed must be a whole number from 0 to 2**64 - 1, got " +
                                  py::repr(seed).cast<std::string>());
        }
        o.threads = threads_;
        o.interruption_point = interruptible().interruption_point;
        try {
            py::gil_scoped_release nogil;
            return fasogram::bootstrap(t_, y_, dy_, engine_.window(), grid_, o);
        } catch (const Interrupted&) {
            throw py::error_already_set();
        } catch (const std::invalid_argument& e) {
            throw py::value_error(e.what());
        }
    }

  private:
    std::vector<double> t_, y_, dy_;
    SpectrumEngine engine_;
    std::vector<SpectrumPoint> points_;
    unsigned threads_;
    FrequencyGrid grid_;
    bool given_ = false;
    fasogram::FapBasis basis_;
    py::tuple arrays_;
};

// A positive error for every point: dy[i] finite and above 0.
std::span<const double> checked_errors(const Array& a, std::size_t n) {
    const std::span<const double> dy = checked_series(a, "dy");
    if (dy.size() != n)
        throw py::value_error("t and dy differ in length (" + std::to_string(n) + " and " +
                              std::to_string(dy.size()) + ")");
    for (std::size_t i = 0; i < dy.size(); ++i)
        if (!(dy[i] > 0.0))
            throw py::value_error("dy[" + std::to_string(i) + "] must be above 0, got " +
                                  number_text(dy[i]));
    return dy;
}

// The times, values and errors (none: empty) of a call, checked.
struct Input {
    std::span<const double> t, y, dy;
};
Input checked_input(const Array& t_in, const Array& y_in, const std::optional<Array>& dy_in) {
    if (t_in.ndim() == 1 && y_in.ndim() == 1 && t_in.shape(0) != y_in.shape(0))
        throw py::value_error("t and y differ in length (" + std::to_string(t_in.shape(0)) +
                              " and " + std::to_string(y_in.shape(0)) + ")");
    Input in;
    in.t = checked_series(t_in, "t");
    in.y = checked_series(y_in, "y");
    if (dy_in) in.dy = checked_errors(*dy_in, in.t.size());
    return in;
}

Result compute(const Array& t_in, const Array& y_in, const std::optional<Array>& dy_in,
               std::optional<double> fmin, std::optional<double> fmax,
               std::optional<std::int64_t> steps, const std::string& window_text,
               std::int64_t threads, double oversample) {
    const Window window = parse_window(window_text);
    const auto [t, y, dy] = checked_input(t_in, y_in, dy_in);
    if (t.size() < 2)
        throw py::value_error("a spectrum needs at least 2 points, got " +
                              std::to_string(t.size()));
    if ((fmin && !std::isfinite(*fmin)) || (fmax && !std::isfinite(*fmax)))
        throw py::value_error("fmin and fmax must be finite, got " +
                              (fmin ? number_text(*fmin) : "None") + " and " +
                              (fmax ? number_text(*fmax) : "None"));
    if (fmin && fmax && !(*fmax > *fmin))
        throw py::value_error("fmax must be greater than fmin, got fmin = " + number_text(*fmin) +
                              " and fmax = " + number_text(*fmax));
    if (steps && *steps < 1)
        throw py::value_error("steps must be 1 or more, got " + std::to_string(*steps));
    if (!std::isfinite(oversample) || !(oversample > 0.0))
        throw py::value_error("oversample must be a finite number above 0, got " +
                              number_text(oversample));
    if (threads < 0)
        throw py::value_error("threads must be 1 or more, got " + std::to_string(threads));

    const auto n_threads = static_cast<unsigned>(threads);
    std::optional<SpectrumEngine> engine;
    std::vector<SpectrumPoint> points;
    FrequencyGrid grid;
    try {
        py::gil_scoped_release nogil;
        if (dy_in)
            engine.emplace(t, y, dy, window, interruptible());
        else
            engine.emplace(t, y, window, interruptible());
        if (fmin && fmax && steps) {
            grid = FrequencyGrid{*fmin, *fmax, *steps, engine->line_width()};
        } else {
            grid = fasogram::auto_grid(*engine, {fmin, fmax, steps, oversample}).grid;
        }
        // All the room at once: a grid too large for memory fails here, before
        // any work, with MemoryError.
        points.reserve(static_cast<std::size_t>(grid.size()));
        engine->run(
            grid, [&](const SpectrumPoint& p) { points.push_back(p); }, n_threads);
    } catch (const SeriesError& error) {
        throw py::value_error(series_message(error, t.size(), window));
    } catch (const Interrupted&) {
        throw py::error_already_set(); // the KeyboardInterrupt
    }
    // Errors too small for a finite weight leave no basis: no probability.
    fasogram::FapBasis basis;
    try {
        basis = fasogram::fap_basis(t, dy, window);
    } catch (const std::exception&) {
    }
    Result result(std::move(*engine), std::move(points), n_threads, grid, basis);
    result.keep_series(t, y, dy);
    return result;
}

// The fits at the frequencies of `freqs_in` (finite, any order), in that
// order.
Result compute_at(const Array& t_in, const Array& y_in, const std::optional<Array>& dy_in,
                  const Array& freqs_in, const std::string& window_text, std::int64_t threads) {
    const Window window = parse_window(window_text);
    const auto [t, y, dy] = checked_input(t_in, y_in, dy_in);
    const std::span<const double> freqs = checked_series(freqs_in, "frequency");
    if (t.size() < 2)
        throw py::value_error("a spectrum needs at least 2 points, got " +
                              std::to_string(t.size()));
    if (threads < 0)
        throw py::value_error("threads must be 1 or more, got " + std::to_string(threads));
    const auto n_threads = static_cast<unsigned>(threads);
    std::optional<SpectrumEngine> engine;
    std::vector<SpectrumPoint> given;
    try {
        py::gil_scoped_release nogil;
        if (dy_in)
            engine.emplace(t, y, dy, window, interruptible());
        else
            engine.emplace(t, y, window, interruptible());
        given = engine->fit(freqs, n_threads);
    } catch (const SeriesError& error) {
        throw py::value_error(series_message(error, t.size(), window));
    } catch (const std::invalid_argument& error) {
        throw py::value_error(error.what());
    } catch (const Interrupted&) {
        throw py::error_already_set();
    }
    std::vector<SpectrumPoint> sorted = given;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SpectrumPoint& a, const SpectrumPoint& b) { return a.f < b.f; });
    FrequencyGrid grid;
    if (!sorted.empty()) grid = FrequencyGrid{sorted.front().f, sorted.back().f, 1, 0.0};
    // Arbitrary frequencies search no band: no false-alarm probability.
    return Result(std::move(*engine), std::move(sorted), n_threads, grid, fasogram::FapBasis{},
                  std::move(given));
}

} // namespace

PYBIND11_MODULE(_fasogram, m) {
    m.doc() = "The fasogram spectrum engine (use the fasogram package, not this module).";

    py::class_<Result>(m, "Result")
        .def_property_readonly("arrays", &Result::arrays,
                               "(frequency, rho, c1, c2, c3) as float64 arrays")
        .def_property_readonly("window", &Result::window)
        .def_property_readonly("line_width", &Result::line_width)
        .def_property_readonly("mean", &Result::mean)
        .def_property_readonly("variance", &Result::variance)
        .def_property_readonly("size", &Result::size, "number of points of the series")
        .def_property_readonly("has_errors", &Result::has_errors)
        .def_property_readonly("grid", &Result::grid, "(fmin, fmax, steps) of the grid computed")
        .def_property_readonly(
            "resolving_steps", &Result::resolving_steps,
            "steps that would sample every peak, None when the grid does, 0 when none can")
        .def("peaks", &Result::peaks, py::arg("k"),
             "The k highest refined peaks as (frequency, period, rho, amplitude, phase).")
        .def("false_alarm_probability", &Result::false_alarm_probability, py::arg("rho"),
             "Baluev's false-alarm probability of a highest peak of rho over the grid's band.")
        .def("false_alarm_level", &Result::false_alarm_level, py::arg("p"),
             "The rho whose false-alarm probability is p.")
        .def_property_readonly("fap_basis", &Result::fap_basis, "(n_eff, t_eff)")
        .def("bootstrap", &Result::bootstrap, py::arg("n"), py::arg("seed"),
             "The highest rho of n resamples of the series over the grid (a Bootstrap).");

    py::class_<fasogram::Bootstrap>(m, "Bootstrap")
        .def_property_readonly(
            "maxima",
            [](const fasogram::Bootstrap& b) {
                const std::vector<double>& v = b.maxima();
                return Array(static_cast<py::ssize_t>(v.size()), v.data());
            },
            "the highest rho of every resample, in resample order")
        .def(
            "probability",
            [](const fasogram::Bootstrap& b, double rho) {
                try {
                    const fasogram::BootstrapProbability p = b.probability(rho);
                    return py::make_tuple(p.probability, p.error, p.upper_bound, p.exceeding,
                                          p.resamples);
                } catch (const std::invalid_argument& e) {
                    throw py::value_error(e.what());
                }
            },
            py::arg("rho"), "(probability, error, upper_bound, exceeding, resamples)")
        .def(
            "level",
            [](const fasogram::Bootstrap& b, double p) {
                try {
                    return b.level(p);
                } catch (const std::invalid_argument& e) {
                    throw py::value_error(e.what());
                }
            },
            py::arg("p"), "The k-th highest maximum, k = floor(p n).");

    m.def("compute", &compute, py::arg("t"), py::arg("y"), py::arg("dy"), py::arg("fmin"),
          py::arg("fmax"), py::arg("steps"), py::arg("window"), py::arg("threads"),
          py::arg("oversample"),
          "Computes the spectrum of (t, y) with errors dy (or None); a grid limit or the steps "
          "given as None are chosen from the series; threads = 0 uses every core.");

    m.def("compute_at", &compute_at, py::arg("t"), py::arg("y"), py::arg("dy"),
          py::arg("frequency"), py::arg("window"), py::arg("threads"),
          "The fits of (t, y) with errors dy (or None) at the given frequencies, in their "
          "order; threads = 0 uses every core.");

    fasogram_python::bind_multifreq(m);
}
