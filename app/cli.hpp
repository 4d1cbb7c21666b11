// The command line of a batch run: what it asks for, checked before any work
// starts.
#pragma once

#include "fasogram/spectrum.hpp"
#include "graph_style.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fasogram {

// The graph formats --plot knows, chosen by the extension of the file name.
enum class GraphFormat { pdf, ps, eps, svg, png, bmp, tiff };

struct GraphRequest {
    std::string path;
    GraphFormat format = GraphFormat::pdf;
};

// Pixel size of raster graphs.
struct ImageSize {
    int width = 0;
    int height = 0;
};
inline constexpr int min_image_side = 16;
inline constexpr int max_image_side = 16384;
// Without --size: A4 landscape (297 x 210 mm) at 300 dots per inch, each
// side rounded to the nearest pixel (3507.9 x 2480.3).
inline constexpr ImageSize default_image_size{3508, 2480};

// Several frequencies (multifreq_cli.cpp): prewhitening, the simultaneous
// fit and what is written of it, harmonics, trends, the spectral window.
struct MultiOptions {
    std::size_t prewhiten = 0; // K; 0: no prewhitening
    int harmonics = 1;         // the spectrum's model and the fit's
    int detrend = -1;          // degree of the trend removed first; -1: none
    double snr_min = 4.0;
    double snr_band = 0.0; // half width of the noise band; 0: 100 line widths
    // Prewhitening stops before a peak whose false-alarm probability is
    // above this; none: no such stop.
    std::optional<double> fap_stop;
    std::string residuals, fit_table, window_spectrum; // empty: not written
    std::optional<GraphRequest> phase_plot;
};

struct Options {
    std::string series = "datos.dat"; // "-": standard input
    Window window = Window::hanning;
    // The frequency grid; what is left out is chosen from the series
    // (auto_grid).
    std::optional<double> f_ini;
    std::optional<double> f_fin;
    std::optional<std::int64_t> steps;
    std::optional<double> oversample; // grid points per line width; none: 10
    bool errors = false;              // the third number of each line is the value's error
    // "-": standard output; empty: no table (without -o, the parser sends it
    // to standard output when no graph, peak table or prewhitening is asked).
    std::string table;
    std::vector<GraphRequest> graphs;
    std::optional<ImageSize> size; // none: default_image_size
    std::size_t peaks = 0;         // 0: no peak table
    bool screen = false;
    unsigned threads = 0; // 0: every core
    bool quiet = false;
    // The peaks' false-alarm probabilities and the --fap-levels lines from
    // this many bootstrap resamples of the series; 0: the analytic ones.
    std::size_t bootstrap = 0;
    std::uint64_t seed = default_bootstrap_seed;
    // The rho of each of these false-alarm probabilities drawn on the graph.
    std::vector<double> fap_levels;
    MultiOptions multi;
    GraphStyle graph_style; // the look of the --plot and --screen graphs
};

// What the command line asks for.
struct CommandLine {
    enum class Action { run, help, version, usage_error };
    Action action = Action::run;
    Options options;   // for run
    std::string error; // for usage_error: one line, without "fasogram: error: "
};

// Reads the arguments (argv[0] is the program name) with getopt_long: long
// and short options, "--" ends the options, option values may follow their
// option in the same or the next argument, and numbers are read the same
// whatever the locale.  --help and --version end the reading when they come.
// Nothing is printed; the arguments are not changed.  Not reentrant (getopt's
// state is global), but it may be called any number of times.
CommandLine parse_command_line(int argc, const char* const argv[]);

// The graph format a file name asks for by its extension, if any the
// library writes.
std::optional<GraphFormat> graph_format_of(std::string_view path);

// Whether the plotting library can write the format.
bool graph_format_available(GraphFormat format);

// The texts of --help and --version.
std::string help_text();
std::string version_text(float library_version);

} // namespace fasogram
