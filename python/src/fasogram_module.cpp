// fasogram._fasogram: the spectrum engine for Python.
//
// The package's Python layer (fasogram/__init__.py) turns any array-like
// into contiguous float64 arrays and wraps the results; this module checks
// every argument again, so that calling it directly cannot crash either.
// The engine runs with the GIL released.
#include "fasogram/series.hpp"
#include "fasogram/spectrum.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
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

// The five output arrays of a spectrum, filled in place by a run: no copy
// of the points is kept besides them.
struct Columns {
    Array f, rho, c1, c2, c3;
    double *fp = nullptr, *rp = nullptr, *ap = nullptr, *bp = nullptr, *cp = nullptr;
    std::size_t filled = 0;

    // Room for n points (called with the GIL held).
    explicit Columns(std::size_t n)
        : f(static_cast<py::ssize_t>(n)), rho(static_cast<py::ssize_t>(n)),
          c1(static_cast<py::ssize_t>(n)), c2(static_cast<py::ssize_t>(n)),
          c3(static_cast<py::ssize_t>(n)), fp(f.mutable_data()), rp(rho.mutable_data()),
          ap(c1.mutable_data()), bp(c2.mutable_data()), cp(c3.mutable_data()) {}

    // Appends a point (no GIL needed; never beyond the room made).
    void add(const SpectrumPoint& p) {
        fp[filled] = p.f;
        rp[filled] = p.rho;
        ap[filled] = p.c1;
        bp[filled] = p.c2;
        cp[filled] = p.c3;
        ++filled;
    }

    // The arrays cut to the points added, read-only: the peaks are found
    // from them (called with the GIL held).
    py::tuple finish() {
        for (Array* a : {&f, &rho, &c1, &c2, &c3}) {
            if (static_cast<std::size_t>(a->shape(0)) != filled)
                a->resize({static_cast<py::ssize_t>(filled)});
            a->attr("flags").attr("writeable") = false;
        }
        fp = rp = ap = bp = cp = nullptr;
        return py::make_tuple(f, rho, c1, c2, c3);
    }
};

// The peaks of the points held in the arrays (frequencies increasing, or in
// the order `order` gives).
std::vector<fasogram::Peak> peaks_of(const SpectrumEngine& engine, const py::tuple& arrays,
                                     const std::vector<std::size_t>& order, std::size_t k,
                                     unsigned threads) {
    const double* f = arrays[0].cast<Array>().data();
    const double* rho = arrays[1].cast<Array>().data();
    const std::size_t n = static_cast<std::size_t>(arrays[0].cast<Array>().shape(0));
    // No spectrum has more peaks than points.
    fasogram::PeakFinder finder(std::min(k, n));
    py::gil_scoped_release nogil;
    if (order.empty())
        finder.add(std::span<const double>(f, n), std::span<const double>(rho, n));
    else
        for (std::size_t i : order) finder.add(f[i], rho[i]);
    return finder.peaks(engine, threads);
}

using PeakTuple = std::tuple<double, double, double, double, double>;

class Result {
  public:
    // `order`: for frequencies given one by one, their indices in increasing
    // frequency (for the peaks); empty for a grid.  Without `basis` the
    // false-alarm basis is found from the kept series when first asked for.
    Result(SpectrumEngine engine, py::tuple arrays, unsigned threads, const FrequencyGrid& grid,
           std::optional<fasogram::FapBasis> basis, bool given = false,
           std::vector<std::size_t> order = {})
        : engine_(std::move(engine)), arrays_(std::move(arrays)), threads_(threads), grid_(grid),
          given_(given), basis_(basis), order_(std::move(order)) {}

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

    // The k highest peaks found in advance (by a batch of spectra).
    void keep_peaks(std::size_t k, std::vector<PeakTuple> peaks) {
        kept_k_ = k;
        kept_ = std::move(peaks);
    }

    std::vector<PeakTuple> peaks(std::int64_t k) const {
        if (k < 0) throw py::value_error("k must be 0 or more, got " + std::to_string(k));
        if (kept_k_ && *kept_k_ == static_cast<std::size_t>(k)) return kept_;
        // The refinement fits a few frequencies at a time: more threads only
        // pay off on long series.  The result is the same either way.
        const unsigned threads = engine_.size() >= 50000 ? threads_ : 1;
        std::vector<fasogram::Peak> found;
        try {
            found = peaks_of(engine_, arrays_, order_, static_cast<std::size_t>(k), threads);
        } catch (const Interrupted&) {
            throw py::error_already_set();
        }
        return tuples(found);
    }

    static std::vector<PeakTuple> tuples(const std::vector<fasogram::Peak>& found) {
        std::vector<PeakTuple> out;
        for (const fasogram::Peak& p : found)
            out.emplace_back(p.frequency, p.period, p.rho, p.amplitude, p.phase);
        return out;
    }

    // The false-alarm probability of a highest peak of rho over the grid's
    // band, and its inverse (Baluev's approximation).
    double false_alarm_probability(double rho) const {
        try {
            return fasogram::false_alarm_probability(rho, grid_.f_ini, grid_.f_fin, basis());
        } catch (const std::invalid_argument& e) {
            throw py::value_error(e.what());
        }
    }
    double false_alarm_level(double p) const {
        try {
            return fasogram::false_alarm_level(p, grid_.f_ini, grid_.f_fin, basis());
        } catch (const std::invalid_argument& e) {
            throw py::value_error(e.what());
        }
    }
    py::tuple fap_basis() const { return py::make_tuple(basis().n_eff, basis().t_eff); }

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
    // Errors too small for a finite weight leave no basis: no probability.
    const fasogram::FapBasis& basis() const {
        if (!basis_) {
            try {
                basis_ = fasogram::fap_basis(t_, dy_, engine_.window());
            } catch (const std::exception&) {
                basis_ = fasogram::FapBasis{};
            }
        }
        return *basis_;
    }

    std::vector<double> t_, y_, dy_;
    SpectrumEngine engine_;
    py::tuple arrays_;
    unsigned threads_;
    FrequencyGrid grid_;
    bool given_ = false;
    mutable std::optional<fasogram::FapBasis> basis_;
    std::vector<std::size_t> order_;
    std::optional<std::size_t> kept_k_;
    std::vector<PeakTuple> kept_;
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

// The engine of a series, with its errors when the call gave them.
void emplace_engine(std::optional<SpectrumEngine>& engine, std::span<const double> t,
                    std::span<const double> y, std::span<const double> dy, bool with_errors,
                    Window window, const fasogram::EngineOptions& options) {
    if (with_errors)
        engine.emplace(t, y, dy, window, options);
    else
        engine.emplace(t, y, window, options);
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
    FrequencyGrid grid;
    try {
        py::gil_scoped_release nogil;
        emplace_engine(engine, t, y, dy, dy_in.has_value(), window, interruptible());
        if (fmin && fmax && steps) {
            grid = FrequencyGrid{*fmin, *fmax, *steps, engine->line_width()};
        } else {
            grid = fasogram::auto_grid(*engine, {fmin, fmax, steps, oversample}).grid;
        }
    } catch (const SeriesError& error) {
        throw py::value_error(series_message(error, t.size(), window));
    } catch (const Interrupted&) {
        throw py::error_already_set(); // the KeyboardInterrupt
    }
    // All the room at once: a grid too large for memory fails here, before
    // any work, with MemoryError.
    Columns columns(static_cast<std::size_t>(grid.size()));
    try {
        py::gil_scoped_release nogil;
        engine->run(
            grid, [&](const SpectrumPoint& p) { columns.add(p); }, n_threads);
    } catch (const SeriesError& error) {
        throw py::value_error(series_message(error, t.size(), window));
    } catch (const Interrupted&) {
        throw py::error_already_set();
    }
    Result result(std::move(*engine), columns.finish(), n_threads, grid, std::nullopt);
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
        emplace_engine(engine, t, y, dy, dy_in.has_value(), window, interruptible());
        given = engine->fit(freqs, n_threads);
    } catch (const SeriesError& error) {
        throw py::value_error(series_message(error, t.size(), window));
    } catch (const std::invalid_argument& error) {
        throw py::value_error(error.what());
    } catch (const Interrupted&) {
        throw py::error_already_set();
    }
    std::vector<std::size_t> order(given.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return given[a].f < given[b].f; });
    FrequencyGrid grid;
    if (!given.empty()) grid = FrequencyGrid{given[order.front()].f, given[order.back()].f, 1, 0.0};
    Columns columns(given.size());
    for (const SpectrumPoint& p : given) columns.add(p);
    // Arbitrary frequencies search no band: no false-alarm probability.
    return Result(std::move(*engine), columns.finish(), n_threads, grid, fasogram::FapBasis{}, true,
                  std::move(order));
}

// The spectra of many series on one grid, each series on one thread and the
// series spread over `threads` threads (0: every core).  Each entry of the
// list is a Result or, for a series that has none, the exception to raise
// (ValueError with the message spectrum() gives, or MemoryError).  With
// peaks > 0 the peaks(peaks) of each result are found on the same threads.
py::list compute_many(const py::list& curves, double fmin, double fmax, std::int64_t steps,
                      const std::string& window_text, std::int64_t threads, std::int64_t peaks) {
    const Window window = parse_window(window_text);
    if (!std::isfinite(fmin) || !std::isfinite(fmax))
        throw py::value_error("fmin and fmax must be finite, got " + number_text(fmin) + " and " +
                              number_text(fmax));
    if (!(fmax > fmin))
        throw py::value_error("fmax must be greater than fmin, got fmin = " + number_text(fmin) +
                              " and fmax = " + number_text(fmax));
    if (steps < 1) throw py::value_error("steps must be 1 or more, got " + std::to_string(steps));
    if (threads < 0)
        throw py::value_error("threads must be 1 or more, got " + std::to_string(threads));
    if (peaks < 0) throw py::value_error("peaks must be 0 or more, got " + std::to_string(peaks));

    // One job a series: its input (checked here, with the GIL) and its outcome.
    struct Job {
        Array t_in, y_in;
        std::optional<Array> dy_in;
        Input in;
        std::optional<Columns> columns;
        std::optional<SpectrumEngine> engine;
        FrequencyGrid grid;
        std::vector<fasogram::Peak> peaks;
        std::optional<std::string> value_error; // the series has no spectrum
        bool memory_error = false;
        bool interrupted = false;
    };
    std::vector<Job> jobs(curves.size());
    py::list out(curves.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Job& job = jobs[i];
        try {
            const py::tuple curve = py::cast<py::tuple>(curves[i]);
            if (curve.size() != 2 && curve.size() != 3)
                throw py::value_error("each series is (t, y) or (t, y, dy), got " +
                                      std::to_string(curve.size()) + " items");
            job.t_in = curve[0].cast<Array>();
            job.y_in = curve[1].cast<Array>();
            if (curve.size() == 3 && !curve[2].is_none()) job.dy_in = curve[2].cast<Array>();
            job.in = checked_input(job.t_in, job.y_in, job.dy_in);
            if (job.in.t.size() < 2)
                throw py::value_error("a spectrum needs at least 2 points, got " +
                                      std::to_string(job.in.t.size()));
            // The room for every point before any work: MemoryError here.
            job.columns.emplace(static_cast<std::size_t>(steps) + 1);
        } catch (const py::value_error& error) {
            out[i] = py::reinterpret_steal<py::object>(
                PyObject_CallFunction(PyExc_ValueError, "s", error.what()));
            job.columns.reset();
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_MemoryError)) throw;
            out[i] = error.value();
            job.columns.reset();
        }
    }

    const auto n_threads = std::max<std::size_t>(
        1, std::min<std::size_t>(jobs.size(), threads > 0 ? static_cast<std::size_t>(threads)
                                                          : std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const std::thread::id caller = std::this_thread::get_id();
    fasogram::EngineOptions options;
    // Signals are looked at on the calling thread; the others stop with it.
    options.interruption_point = [&stop, caller] {
        if (std::this_thread::get_id() == caller) {
            py::gil_scoped_acquire gil;
            if (PyErr_CheckSignals() != 0) {
                stop = true;
                throw Interrupted();
            }
        } else if (stop) {
            throw Interrupted();
        }
    };
    const auto work = [&] {
        for (;;) {
            if (stop) return;
            const std::size_t i = next++;
            if (i >= jobs.size()) return;
            Job& job = jobs[i];
            if (!job.columns) continue;
            try {
                emplace_engine(job.engine, job.in.t, job.in.y, job.in.dy, job.dy_in.has_value(),
                               window, options);
                job.grid = FrequencyGrid{fmin, fmax, steps, job.engine->line_width()};
                Columns& columns = *job.columns;
                job.engine->run(
                    job.grid, [&](const SpectrumPoint& p) { columns.add(p); }, 1);
                if (peaks > 0) {
                    fasogram::PeakFinder finder(
                        std::min(static_cast<std::size_t>(peaks), columns.filled));
                    finder.add(std::span<const double>(columns.fp, columns.filled),
                               std::span<const double>(columns.rp, columns.filled));
                    job.peaks = finder.peaks(*job.engine, 1);
                }
            } catch (const SeriesError& error) {
                job.value_error = series_message(error, job.in.t.size(), window);
            } catch (const Interrupted&) {
                job.interrupted = true;
                stop = true;
                return;
            } catch (const std::bad_alloc&) {
                job.memory_error = true;
            } catch (const std::exception& error) {
                job.value_error = error.what();
            }
        }
    };
    {
        py::gil_scoped_release nogil;
        std::vector<std::thread> helpers;
        for (std::size_t k = 1; k < n_threads; ++k) helpers.emplace_back(work);
        work();
        for (std::thread& helper : helpers) helper.join();
    }
    if (stop) throw py::error_already_set(); // the KeyboardInterrupt

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Job& job = jobs[i];
        if (!job.columns) continue;
        if (job.value_error) {
            out[i] = py::reinterpret_steal<py::object>(
                PyObject_CallFunction(PyExc_ValueError, "s", job.value_error->c_str()));
            continue;
        }
        if (job.memory_error) {
            out[i] = py::reinterpret_steal<py::object>(
                PyObject_CallFunction(PyExc_MemoryError, "s", "out of memory"));
            continue;
        }
        Result result(std::move(*job.engine), job.columns->finish(), 1, job.grid, std::nullopt);
        result.keep_series(job.in.t, job.in.y, job.in.dy);
        if (peaks > 0)
            result.keep_peaks(static_cast<std::size_t>(peaks), Result::tuples(job.peaks));
        out[i] = py::cast(std::move(result));
    }
    return out;
}

// The exception of a light curve that cannot be read.
PyObject* light_curve_error = nullptr;

// A series read from `data` (the text of a file): (t, y, dy or None, header,
// header line, third column line, more).
py::tuple read_series_text(const py::bytes& data, bool errors, bool header,
                           std::optional<std::int64_t> limit) {
    if (limit && *limit < 0)
        throw py::value_error("limit must be 0 or more, got " + std::to_string(*limit));
    char* buffer = nullptr;
    py::ssize_t length = 0;
    if (PyBytes_AsStringAndSize(data.ptr(), &buffer, &length) != 0) throw py::error_already_set();
    fasogram::SeriesLayout layout;
    if (limit) layout.limit = static_cast<std::size_t>(*limit);
    layout.header = header;
    layout.errors = errors;
    fasogram::Series series;
    try {
        py::gil_scoped_release nogil;
        series = fasogram::read_series(std::string_view(buffer, static_cast<std::size_t>(length)),
                                       layout);
    } catch (const fasogram::SeriesReadError& error) {
        PyErr_SetString(light_curve_error, error.what());
        throw py::error_already_set();
    }
    const auto array = [](const std::vector<double>& v) {
        Array a(static_cast<py::ssize_t>(v.size()));
        std::copy(v.begin(), v.end(), a.mutable_data());
        return a;
    };
    py::object dy = py::none();
    if (errors) dy = array(series.sigma);
    return py::make_tuple(array(series.t), array(series.x), dy, py::bytes(series.header),
                          series.header_line, series.third_column_line, series.more);
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

    m.def("compute_many", &compute_many, py::arg("curves"), py::arg("fmin"), py::arg("fmax"),
          py::arg("steps"), py::arg("window"), py::arg("threads"), py::arg("peaks"),
          "The spectra of a list of (t, y[, dy]) on one grid: a Result or the exception of "
          "each; threads = 0 uses every core.");

    light_curve_error =
        PyErr_NewExceptionWithDoc("fasogram.LightCurveError",
                                  "A light curve that cannot be read; the message names the line "
                                  "at fault.",
                                  PyExc_ValueError, nullptr);
    if (light_curve_error == nullptr) throw py::error_already_set();
    m.add_object("LightCurveError", py::handle(light_curve_error));
    m.def("read_series", &read_series_text, py::arg("data"), py::arg("errors"), py::arg("header"),
          py::arg("limit"),
          "Reads a series from the bytes of a file: (t, y, dy or None, header, header line, "
          "third column line, more).");

    fasogram_python::bind_multifreq(m);
}
