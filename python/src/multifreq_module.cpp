// fasogram._fasogram, several frequencies: the harmonic spectrum, the
// simultaneous fit, prewhitening, trends and the spectral window.
//
// As in the rest of the module every argument is checked again here (the
// package's Python layer checks them first and converts array-likes), and
// the engine runs with the GIL released.
#include "fasogram/spectrum.hpp"

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace fasogram_python {

using namespace fasogram;
using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

namespace {

Window window_of(const std::string& name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "hanning") return Window::hanning;
    if (lower == "square") return Window::square;
    throw py::value_error("unknown window '" + name + "': use 'hanning' or 'square'");
}

std::span<const double> values_of(const Array& a, const char* name) {
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be one-dimensional, got " +
                              std::to_string(a.ndim()) + " dimensions");
    return {a.data(), static_cast<std::size_t>(a.shape(0))};
}

// The errors: None or an array as long as the times.
std::span<const double> sigma_of(const std::optional<Array>& dy, std::size_t n) {
    if (!dy) return {};
    const std::span<const double> s = values_of(*dy, "dy");
    if (s.size() != n)
        throw py::value_error("dy and t differ in length (" + std::to_string(s.size()) + " and " +
                              std::to_string(n) + ")");
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(std::isfinite(s[i]) && s[i] > 0.0))
            throw py::value_error("dy[" + std::to_string(i) + "] is not a finite positive number");
    return s;
}

Array to_array(const std::vector<double>& v) {
    Array a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

unsigned threads_of(std::int64_t threads) {
    if (threads < 0 || threads > static_cast<std::int64_t>(max_threads))
        throw py::value_error("threads must be from 1 to " + std::to_string(max_threads) +
                              " (0: every core), got " + std::to_string(threads));
    return static_cast<unsigned>(threads);
}

FrequencyGrid grid_of(double fmin, double fmax, std::int64_t steps, double line_width) {
    if (!std::isfinite(fmin) || !std::isfinite(fmax) || !(fmax > fmin))
        throw py::value_error("fmin and fmax must be finite with fmax > fmin");
    if (steps < 1) throw py::value_error("steps must be 1 or more, got " + std::to_string(steps));
    FrequencyGrid grid;
    grid.f_ini = fmin;
    grid.f_fin = fmax;
    grid.n_points = steps;
    grid.line_width = line_width;
    return grid;
}

// Engine refusals as ValueError (SeriesError is an invalid_argument).
template <class Call> auto checked(Call&& call) {
    try {
        return call();
    } catch (const std::invalid_argument& error) {
        throw py::value_error(error.what());
    }
}

// The spectrum of the harmonic model, shaped as the module's Result.
class HarmonicResult {
  public:
    HarmonicResult(HarmonicSpectrum spectrum, std::vector<HarmonicPoint> points)
        : spectrum_(std::move(spectrum)), points_(std::move(points)) {}

    py::tuple arrays() const {
        const std::size_t n = points_.size();
        std::vector<double> f(n), rho(n), c0(n), a1(n), b1(n);
        for (std::size_t i = 0; i < n; ++i) {
            f[i] = points_[i].f;
            rho[i] = points_[i].rho;
            c0[i] = points_[i].c0;
            a1[i] = points_[i].a1;
            b1[i] = points_[i].b1;
        }
        return py::make_tuple(to_array(f), to_array(rho), to_array(c0), to_array(a1), to_array(b1));
    }
    Array amplitude() const {
        std::vector<double> a;
        for (const HarmonicPoint& p : points_) a.push_back(p.amplitude);
        return to_array(a);
    }
    std::string window() const {
        return spectrum_.window() == Window::hanning ? "hanning" : "square";
    }
    double line_width() const { return spectrum_.line_width(); }
    double mean() const { return spectrum_.mean(); }
    double variance() const { return spectrum_.variance(); }
    std::size_t size() const { return spectrum_.size(); }
    int harmonics() const { return spectrum_.harmonics(); }

    std::vector<std::tuple<double, double, double, double, double>> peaks(std::int64_t k) const {
        if (k < 0) throw py::value_error("k must be 0 or more, got " + std::to_string(k));
        std::vector<Peak> found;
        {
            py::gil_scoped_release nogil;
            found = spectrum_.peaks(points_, static_cast<std::size_t>(k));
        }
        std::vector<std::tuple<double, double, double, double, double>> out;
        for (const Peak& p : found)
            out.emplace_back(p.frequency, p.period, p.rho, p.amplitude, p.phase);
        return out;
    }

  private:
    HarmonicSpectrum spectrum_;
    std::vector<HarmonicPoint> points_;
};

HarmonicResult harmonic_spectrum(const Array& t_in, const Array& y_in,
                                 const std::optional<Array>& dy, double fmin, double fmax,
                                 std::int64_t steps, const std::string& window_text, int harmonics,
                                 std::int64_t threads) {
    const Window window = window_of(window_text);
    const auto t = values_of(t_in, "t");
    const auto y = values_of(y_in, "y");
    const auto sigma = sigma_of(dy, t.size());
    const unsigned n_threads = threads_of(threads);
    return checked([&] {
        py::gil_scoped_release nogil;
        HarmonicSpectrum spectrum(t, y, sigma, window, harmonics);
        const FrequencyGrid grid = grid_of(fmin, fmax, steps, spectrum.line_width());
        std::vector<HarmonicPoint> points;
        spectrum.run(
            grid, [&](const HarmonicPoint& p) { points.push_back(p); }, n_threads);
        return HarmonicResult(std::move(spectrum), std::move(points));
    });
}

// A fit as Python reads it.
struct FitView {
    MultiFit fit;

    Array column(double FitTerm::*member) const {
        std::vector<double> v;
        for (const FitTerm& term : fit.terms) v.push_back(term.*member);
        return to_array(v);
    }
    std::vector<int> harmonic() const {
        std::vector<int> v;
        for (const FitTerm& term : fit.terms) v.push_back(term.harmonic);
        return v;
    }
    std::vector<std::size_t> index() const {
        std::vector<std::size_t> v;
        for (const FitTerm& term : fit.terms) v.push_back(term.index);
        return v;
    }
    Array model(const Array& t_in) const {
        const auto t = values_of(t_in, "t");
        std::vector<double> out(t.size());
        for (std::size_t i = 0; i < t.size(); ++i) out[i] = fit.model(t[i]);
        return to_array(out);
    }
    Array component(std::size_t k, const Array& t_in) const {
        if (k >= fit.frequencies.size())
            throw py::value_error("no frequency " + std::to_string(k) + " in the fit");
        const auto t = values_of(t_in, "t");
        std::vector<double> out(t.size());
        for (std::size_t i = 0; i < t.size(); ++i) out[i] = fit.component(k, t[i]);
        return to_array(out);
    }
};

FitView fit_frequencies_py(const Array& t_in, const Array& y_in, const std::optional<Array>& dy,
                           const Array& f_in, const std::string& window_text, int harmonics,
                           std::optional<double> epoch, int max_iterations) {
    const Window window = window_of(window_text);
    const auto t = values_of(t_in, "t");
    const auto y = values_of(y_in, "y");
    const auto f = values_of(f_in, "frequencies");
    const auto sigma = sigma_of(dy, t.size());
    FitOptions options;
    options.harmonics = harmonics;
    if (epoch) options.epoch = *epoch;
    options.max_iterations = max_iterations;
    return checked([&] {
        py::gil_scoped_release nogil;
        return FitView{fit_frequencies(t, y, sigma, window, f, options)};
    });
}

py::dict prewhiten_py(const Array& t_in, const Array& y_in, const std::optional<Array>& dy,
                      std::int64_t k, double fmin, double fmax, std::int64_t steps,
                      const std::string& window_text, int harmonics, double snr_min,
                      double snr_half_width, std::int64_t threads) {
    const Window window = window_of(window_text);
    const auto t = values_of(t_in, "t");
    const auto y = values_of(y_in, "y");
    const auto sigma = sigma_of(dy, t.size());
    if (k < 1) throw py::value_error("k must be 1 or more, got " + std::to_string(k));
    PrewhitenOptions options;
    options.max_frequencies = static_cast<std::size_t>(k);
    options.harmonics = harmonics;
    options.snr_min = snr_min;
    options.snr_half_width = snr_half_width;
    options.threads = threads_of(threads);
    Prewhitening result = checked([&] {
        py::gil_scoped_release nogil;
        // The line width of the series (the engine refuses one without a
        // span itself).
        double line_width = 0.0;
        if (!t.empty()) {
            const auto [lo, hi] = std::minmax_element(t.begin(), t.end());
            const double span = *hi - *lo;
            if (span > 0.0 && std::isfinite(span))
                line_width = (window == Window::hanning ? 2.0 : 1.0) / span;
        }
        const FrequencyGrid grid = grid_of(fmin, fmax, steps, line_width);
        return prewhiten(t, y, sigma, window, grid, options);
    });
    const char* stop = "count";
    switch (result.stop) {
    case Prewhitening::Stop::count: stop = "count"; break;
    case Prewhitening::Stop::snr: stop = "snr"; break;
    case Prewhitening::Stop::extra: stop = "extra"; break;
    case Prewhitening::Stop::no_peak: stop = "no_peak"; break;
    }
    py::dict out;
    out["snr"] = to_array(result.snr);
    out["noise"] = to_array(result.noise);
    out["stop"] = stop;
    out["rejected_frequency"] = result.rejected.frequency;
    out["rejected_snr"] = result.rejected_snr;
    out["dropped"] = to_array(result.dropped);
    out["snr_half_width"] = result.snr_half_width;
    out["fit"] = FitView{std::move(result.fit)};
    return out;
}

py::tuple trend_py(const Array& t_in, const Array& y_in, const std::optional<Array>& dy,
                   const std::string& window_text, int degree) {
    const Window window = window_of(window_text);
    const auto t = values_of(t_in, "t");
    const auto y = values_of(y_in, "y");
    const auto sigma = sigma_of(dy, t.size());
    const Trend trend = checked([&] { return fit_trend(t, y, sigma, window, degree); });
    std::vector<double> at(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) at[i] = trend(t[i]);
    return py::make_tuple(trend.centre, trend.scale, to_array(trend.coefficients), to_array(at));
}

Array trend_values(double centre, double scale, const Array& coefficients, const Array& t_in) {
    Trend trend;
    const auto c = values_of(coefficients, "coefficients");
    if (c.empty() || c.size() > static_cast<std::size_t>(max_trend_degree) + 1)
        throw py::value_error("a trend has 1 to 21 coefficients");
    if (!(std::isfinite(centre) && std::isfinite(scale) && scale > 0.0))
        throw py::value_error("a trend needs a finite centre and a positive scale");
    trend.degree = static_cast<int>(c.size()) - 1;
    trend.centre = centre;
    trend.scale = scale;
    trend.coefficients.assign(c.begin(), c.end());
    const auto t = values_of(t_in, "t");
    std::vector<double> out(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) out[i] = trend(t[i]);
    return to_array(out);
}

py::tuple spectral_window_py(const Array& t_in, const std::optional<Array>& dy, double fmin,
                             double fmax, std::int64_t steps, const std::string& window_text,
                             std::int64_t threads) {
    const Window window = window_of(window_text);
    const auto t = values_of(t_in, "t");
    const auto sigma = sigma_of(dy, t.size());
    const unsigned n_threads = threads_of(threads);
    const std::vector<WindowPoint> points = checked([&] {
        py::gil_scoped_release nogil;
        return spectral_window(t, sigma, window, grid_of(fmin, fmax, steps, 0.0), n_threads);
    });
    std::vector<double> f, a;
    for (const WindowPoint& p : points) {
        f.push_back(p.f);
        a.push_back(p.amplitude);
    }
    return py::make_tuple(to_array(f), to_array(a));
}

} // namespace

void bind_multifreq(py::module_& m) {
    py::class_<HarmonicResult>(m, "HarmonicResult")
        .def_property_readonly("arrays", &HarmonicResult::arrays,
                               "(frequency, rho, c0, a1, b1) as float64 arrays")
        .def_property_readonly("amplitude", &HarmonicResult::amplitude)
        .def_property_readonly("window", &HarmonicResult::window)
        .def_property_readonly("line_width", &HarmonicResult::line_width)
        .def_property_readonly("mean", &HarmonicResult::mean)
        .def_property_readonly("variance", &HarmonicResult::variance)
        .def_property_readonly("size", &HarmonicResult::size)
        .def_property_readonly("harmonics", &HarmonicResult::harmonics)
        .def("peaks", &HarmonicResult::peaks, py::arg("k"));

    py::class_<FitView>(m, "MultiFit")
        .def_property_readonly("frequencies",
                               [](const FitView& v) { return to_array(v.fit.frequencies); })
        .def_property_readonly("frequency_errors",
                               [](const FitView& v) { return to_array(v.fit.frequency_errors); })
        .def_property_readonly("index", &FitView::index)
        .def_property_readonly("harmonic", &FitView::harmonic)
        .def_property_readonly("term_frequency",
                               [](const FitView& v) { return v.column(&FitTerm::frequency); })
        .def_property_readonly("term_frequency_error",
                               [](const FitView& v) { return v.column(&FitTerm::frequency_error); })
        .def_property_readonly(
            "term_frequency_error_analytic",
            [](const FitView& v) { return v.column(&FitTerm::frequency_error_analytic); })
        .def_property_readonly("amplitude",
                               [](const FitView& v) { return v.column(&FitTerm::amplitude); })
        .def_property_readonly("amplitude_error",
                               [](const FitView& v) { return v.column(&FitTerm::amplitude_error); })
        .def_property_readonly(
            "amplitude_error_analytic",
            [](const FitView& v) { return v.column(&FitTerm::amplitude_error_analytic); })
        .def_property_readonly("phase", [](const FitView& v) { return v.column(&FitTerm::phase); })
        .def_property_readonly("phase_error",
                               [](const FitView& v) { return v.column(&FitTerm::phase_error); })
        .def_property_readonly(
            "phase_error_analytic",
            [](const FitView& v) { return v.column(&FitTerm::phase_error_analytic); })
        .def_property_readonly("a", [](const FitView& v) { return v.column(&FitTerm::a); })
        .def_property_readonly("b", [](const FitView& v) { return v.column(&FitTerm::b); })
        .def_property_readonly("residuals",
                               [](const FitView& v) { return to_array(v.fit.residuals); })
        .def_property_readonly("harmonics", [](const FitView& v) { return v.fit.harmonics; })
        .def_property_readonly("epoch", [](const FitView& v) { return v.fit.epoch; })
        .def_property_readonly("c0", [](const FitView& v) { return v.fit.c0; })
        .def_property_readonly("c0_error", [](const FitView& v) { return v.fit.c0_error; })
        .def_property_readonly("points", [](const FitView& v) { return v.fit.points; })
        .def_property_readonly("time_span", [](const FitView& v) { return v.fit.time_span; })
        .def_property_readonly("residual_rms", [](const FitView& v) { return v.fit.residual_rms; })
        .def_property_readonly("chi_square", [](const FitView& v) { return v.fit.chi_square; })
        .def_property_readonly("errors_scaled",
                               [](const FitView& v) { return v.fit.errors_scaled; })
        .def_property_readonly("iterations", [](const FitView& v) { return v.fit.iterations; })
        .def_property_readonly("converged", [](const FitView& v) { return v.fit.converged; })
        .def("model", &FitView::model, py::arg("t"))
        .def("component", &FitView::component, py::arg("k"), py::arg("t"));

    m.def("harmonic_spectrum", &harmonic_spectrum, py::arg("t"), py::arg("y"), py::arg("dy"),
          py::arg("fmin"), py::arg("fmax"), py::arg("steps"), py::arg("window"),
          py::arg("harmonics"), py::arg("threads"));
    m.def("fit_frequencies", &fit_frequencies_py, py::arg("t"), py::arg("y"), py::arg("dy"),
          py::arg("frequencies"), py::arg("window"), py::arg("harmonics"), py::arg("epoch"),
          py::arg("max_iterations"));
    m.def("prewhiten", &prewhiten_py, py::arg("t"), py::arg("y"), py::arg("dy"), py::arg("k"),
          py::arg("fmin"), py::arg("fmax"), py::arg("steps"), py::arg("window"),
          py::arg("harmonics"), py::arg("snr_min"), py::arg("snr_half_width"), py::arg("threads"));
    m.def("trend", &trend_py, py::arg("t"), py::arg("y"), py::arg("dy"), py::arg("window"),
          py::arg("degree"), "(centre, scale, Legendre coefficients, values at t)");
    m.def("trend_values", &trend_values, py::arg("centre"), py::arg("scale"),
          py::arg("coefficients"), py::arg("t"));
    m.def("spectral_window", &spectral_window_py, py::arg("t"), py::arg("dy"), py::arg("fmin"),
          py::arg("fmax"), py::arg("steps"), py::arg("window"), py::arg("threads"));
}

} // namespace fasogram_python
