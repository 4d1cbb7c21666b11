// The GNU command line: options parsed into a batch run's settings, help and version.
#include "cli.hpp"

#include "batch_plot.hpp"
#include "error.hpp"
#include "graph_style_cli.hpp"
#include "messages.hpp"
#include "multifreq_cli.hpp"
#include "numbers.hpp"

#include <plotix.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <getopt.h>
#include <string_view>

namespace fasogram {

namespace {

// The graph formats of --plot, in the order of the usage message.  Their
// file name extensions, and whether the plotting library writes them, come
// from the library's list of formats.
constexpr GraphFormat graph_formats[] = {GraphFormat::pdf, GraphFormat::ps,  GraphFormat::eps,
                                         GraphFormat::svg, GraphFormat::png, GraphFormat::bmp,
                                         GraphFormat::tiff};

struct FormatRow {
    std::string extension; // lower case, with the dot
    GraphFormat format;
    bool available; // the plotting library writes it
};

// One row per extension of each graph format the library lists.
std::vector<FormatRow> format_rows() {
    const std::vector<plotix::FormatInfo> library = plotix::format_list();
    std::vector<FormatRow> rows;
    for (GraphFormat format : graph_formats) {
        for (const plotix::FormatInfo& info : library) {
            if (info.keyword != graph_keyword(format)) continue;
            for (const std::string& extension : info.extensions)
                rows.push_back({"." + extension, format, info.file_format});
        }
    }
    return rows;
}

// ".pdf .ps ...": every extension --plot takes.
std::string extension_list(const std::vector<FormatRow>& rows) {
    std::string list;
    for (const FormatRow& row : rows) list += (list.empty() ? "" : " ") + row.extension;
    return list;
}

// Codes of the long options without a short form.
enum : int {
    opt_from = 256,
    opt_to,
    opt_steps,
    opt_size,
    opt_peaks,
    opt_screen,
    opt_oversample,
    opt_bootstrap,
    opt_seed,
    opt_fap_levels,
};

// The most bootstrap resamples and false-alarm levels a run takes.
constexpr std::uint64_t max_bootstrap = 100000000;
constexpr std::size_t max_fap_levels = 20;

constexpr const char* short_options = ":w:eo:p:j:qhV";

const struct option long_options[] = {
    {"window", required_argument, nullptr, 'w'},
    {"from", required_argument, nullptr, opt_from},
    {"to", required_argument, nullptr, opt_to},
    {"steps", required_argument, nullptr, opt_steps},
    {"oversample", required_argument, nullptr, opt_oversample},
    {"errors", no_argument, nullptr, 'e'},
    {"table", required_argument, nullptr, 'o'},
    {"plot", required_argument, nullptr, 'p'},
    {"size", required_argument, nullptr, opt_size},
    {"peaks", required_argument, nullptr, opt_peaks},
    {"screen", no_argument, nullptr, opt_screen},
    {"bootstrap", required_argument, nullptr, opt_bootstrap},
    {"seed", required_argument, nullptr, opt_seed},
    {"fap-levels", required_argument, nullptr, opt_fap_levels},
    {"threads", required_argument, nullptr, 'j'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    // Several frequencies (multifreq_cli.cpp).
    {"prewhiten", required_argument, nullptr, opt_prewhiten},
    {"harmonics", required_argument, nullptr, opt_harmonics},
    {"detrend", required_argument, nullptr, opt_detrend},
    {"snr-min", required_argument, nullptr, opt_snr_min},
    {"snr-band", required_argument, nullptr, opt_snr_band},
    {"fit-table", required_argument, nullptr, opt_fit_table},
    {"residuals", required_argument, nullptr, opt_residuals},
    {"phase-plot", required_argument, nullptr, opt_phase_plot},
    {"window-spectrum", required_argument, nullptr, opt_window_spectrum},
    {"fap-stop", required_argument, nullptr, opt_fap_stop},
    // The look of the graphs (graph_style_cli.cpp).
    graph_long_options[0],
    graph_long_options[1],
    graph_long_options[2],
    graph_long_options[3],
    graph_long_options[4],
    graph_long_options[5],
    graph_long_options[6],
    graph_long_options[7],
    {nullptr, 0, nullptr, 0},
};

// The name of an option as the user reads it: "--from", or "-w/--window".
std::string option_name(int code) {
    for (const option& o : long_options) {
        if (o.name == nullptr) break;
        if (o.val == code) {
            std::string name = "--" + std::string(o.name);
            return code < 256 ? "-" + std::string(1, static_cast<char>(code)) + "/" + name : name;
        }
    }
    return "-" + std::string(1, static_cast<char>(code));
}

// A non-negative integer of decimal digits only (an optional '+' first).
std::optional<std::uint64_t> parse_count(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

const FormatRow* format_of(const std::vector<FormatRow>& rows, std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return nullptr;
    const std::string extension = lower(base.substr(dot));
    for (const FormatRow& row : rows) {
        if (row.extension == extension) return &row;
    }
    return nullptr;
}

std::optional<ImageSize> parse_size(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    const auto w = parse_count(text.substr(0, x));
    const auto h = parse_count(text.substr(x + 1));
    if (!w || !h || text.substr(0, x).starts_with('+') || text.substr(x + 1).starts_with('+'))
        return std::nullopt;
    auto in_range = [](std::uint64_t v) { return v >= min_image_side && v <= max_image_side; };
    if (!in_range(*w) || !in_range(*h)) return std::nullopt;
    return ImageSize{static_cast<int>(*w), static_cast<int>(*h)};
}

// Thrown inside the parser for a usage error; never leaves it.
struct Usage {
    std::string message;
};

class Parser {
  public:
    Options options;
    bool help = false;
    bool version = false;

    // Handles one option with its value; false when it ends the reading.
    bool take(int code, const char* value_text) {
        const std::string_view value = value_text == nullptr ? "" : value_text;
        switch (code) {
        case 'w': options.window = window(value); break;
        case opt_from: options.f_ini = real(code, value); break;
        case opt_to: options.f_fin = real(code, value); break;
        case opt_steps: {
            const auto n = parse_count(value);
            if (!n || *n == 0 || *n > static_cast<std::uint64_t>(INT64_MAX - 1))
                throw Usage{_("--steps: expected a whole number of steps greater than 0: ") +
                            quoted_argument(value)};
            options.steps = static_cast<std::int64_t>(*n);
            break;
        }
        case opt_oversample: {
            const std::optional<double> k = parse_real(value);
            if (!k || !(*k > 0.0))
                throw Usage{
                    _("--oversample: expected a number of points per line width greater than 0: ") +
                    quoted_argument(value)};
            options.oversample = *k;
            break;
        }
        case 'e': options.errors = true; break;
        case 'o':
            if (value.empty()) throw Usage{_("-o/--table: the file name is missing")};
            options.table = value;
            table_given_ = true;
            break;
        case 'p': options.graphs.push_back(graph(value)); break;
        case opt_size: {
            const auto size = parse_size(value);
            if (!size)
                throw Usage{_("--size: expected WIDTHxHEIGHT in pixels, each from ") +
                            std::to_string(min_image_side) + _(" to ") +
                            std::to_string(max_image_side) + ": " + quoted_argument(value)};
            options.size = size;
            break;
        }
        case opt_peaks: {
            const auto k = parse_count(value);
            if (!k || *k == 0 || *k > 1000000)
                throw Usage{_("--peaks: expected a number of peaks from 1 to 1000000: ") +
                            quoted_argument(value)};
            options.peaks = static_cast<std::size_t>(*k);
            break;
        }
        case opt_screen: options.screen = true; break;
        case opt_bootstrap: {
            const auto b = parse_count(value);
            if (!b || *b == 0 || *b > max_bootstrap)
                throw Usage{_("--bootstrap: expected a number of resamples from 1 to ") +
                            std::to_string(max_bootstrap) + ": " + quoted_argument(value)};
            options.bootstrap = static_cast<std::size_t>(*b);
            break;
        }
        case opt_seed: {
            const auto seed = parse_count(value);
            if (!seed)
                throw Usage{_("--seed: expected a whole number from 0 to 18446744073709551615: ") +
                            quoted_argument(value)};
            options.seed = *seed;
            seed_given_ = true;
            break;
        }
        case opt_fap_levels: options.fap_levels = fap_levels(value); break;
        case 'j': {
            const auto n = parse_count(value);
            if (!n || *n > max_threads)
                throw Usage{
                    _("-j/--threads: expected a number of threads from 0 (every core) to ") +
                    std::to_string(max_threads) + ": " + quoted_argument(value)};
            options.threads = static_cast<unsigned>(*n);
            break;
        }
        case 'q': options.quiet = true; break;
        case 'h': help = true; return false;
        case 'V': version = true; return false;
        default:
            if (is_graph_option(code)) {
                if (std::string problem = take_graph_option(code, value, options); !problem.empty())
                    throw Usage{std::move(problem)};
                break;
            }
            if (std::string problem = take_multifreq_option(code, value, options); !problem.empty())
                throw Usage{std::move(problem)};
        }
        return true;
    }

    // The checks that concern several options, after the last one.
    void finish(const std::vector<std::string>& operands) {
        if (operands.size() > 1)
            throw Usage{_("one argument too many: ") + quoted_argument(operands[1]) +
                        _(": a single series is read")};
        if (operands.size() == 1) {
            if (operands[0].empty()) throw Usage{_("the name of the series is empty")};
            options.series = operands[0];
        }
        if (options.f_ini && options.f_fin && !(*options.f_fin > *options.f_ini))
            throw Usage{_("--to must be greater than --from (--from ") + from_text_ + ", --to " +
                        to_text_ + ")"};
        if (options.oversample && options.steps)
            throw Usage{_("--oversample and --steps exclude each other: the grid step comes from "
                          "one or the other")};
        if (options.table == "-" && options.peaks > 0)
            throw Usage{_("--table - and --peaks would both write to standard output")};
        if (std::string problem = multifreq_problem(options); !problem.empty())
            throw Usage{std::move(problem)};
        check_fap_options();
        // Files only where asked: without -o the table is written only when
        // nothing else is, and then to standard output.
        if (!table_given_ && options.graphs.empty() && options.peaks == 0 &&
            options.multi.prewhiten == 0)
            options.table = "-";
    }

  private:
    std::string from_text_, to_text_;
    bool table_given_ = false;
    bool seed_given_ = false;

    // "0.01,0.001": each probability above 0 and below 1.
    std::vector<double> fap_levels(std::string_view value) {
        std::vector<double> levels;
        const auto bad = [&value] {
            return Usage{_("--fap-levels: expected probabilities above 0 and below 1, separated "
                           "by commas: ") +
                         quoted_argument(value)};
        };
        std::string_view rest = value;
        for (;;) {
            const std::size_t comma = rest.find(',');
            const std::optional<double> p = parse_real(rest.substr(0, comma));
            if (!p || !(*p > 0.0 && *p < 1.0)) throw bad();
            levels.push_back(*p);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (levels.size() > max_fap_levels)
            throw Usage{_("--fap-levels: at most ") + std::to_string(max_fap_levels) +
                        _(" probabilities: ") + quoted_argument(value)};
        return levels;
    }

    void check_fap_options() const {
        const bool graphs = !options.graphs.empty() || options.screen;
        if (!options.fap_levels.empty() && !graphs)
            throw Usage{_("--fap-levels draws on the graph: it needs -p/--plot or --screen")};
        if (options.multi.harmonics > 1 && (options.bootstrap > 0 || !options.fap_levels.empty()))
            throw Usage{_("--bootstrap and --fap-levels are for the spectrum of one sinusoid, not "
                          "with --harmonics")};
        if (options.bootstrap > 0 && options.peaks == 0 && options.fap_levels.empty())
            throw Usage{_("--bootstrap gives the fap column of --peaks and the lines of "
                          "--fap-levels: it needs one of them")};
        if (seed_given_ && options.bootstrap == 0) throw Usage{_("--seed needs --bootstrap")};
        if (options.bootstrap > 0) {
            for (const double p : options.fap_levels) {
                const auto b = static_cast<double>(options.bootstrap);
                if (std::floor(p * b * (1 + 1e-12)) < 1) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%g", p);
                    throw Usage{_("--fap-levels: a probability of ") + std::string(text) +
                                _(" needs at least ") +
                                std::to_string(static_cast<long long>(std::ceil(1 / p))) +
                                _(" resamples; --bootstrap gives ") +
                                std::to_string(options.bootstrap)};
                }
            }
        }
    }

    Window window(std::string_view value) {
        const std::string v = lower(value);
        if (v == "hanning" || v == "h") return Window::hanning;
        if (v == "square" || v == "cuadrada" || v == "c") return Window::square;
        throw Usage{_("-w/--window: expected hanning (h) or square (cuadrada, c): ") +
                    quoted_argument(value)};
    }

    double real(int code, std::string_view value) {
        const std::optional<double> number = parse_real(value);
        if (!number)
            throw Usage{option_name(code) + _(": not a valid number: ") + quoted_argument(value)};
        (code == opt_from ? from_text_ : to_text_) = value;
        return *number;
    }

    GraphRequest graph(std::string_view value) {
        const std::vector<FormatRow> rows = format_rows();
        const FormatRow* row = format_of(rows, value);
        if (row == nullptr)
            throw Usage{"-p/--plot " + quoted_argument(value) +
                        _(": the format comes from the name's extension: ") + extension_list(rows)};
        if (!row->available)
            throw Usage{"-p/--plot " + quoted_argument(value) + _(": the format ") +
                        lower(row->extension.substr(1)) +
                        _(" is not available in this version of the plotting library")};
        return GraphRequest{std::string(value), row->format};
    }
};

} // namespace

std::optional<GraphFormat> graph_format_of(std::string_view path) {
    const std::vector<FormatRow> rows = format_rows();
    const FormatRow* row = format_of(rows, path);
    if (row == nullptr || !row->available) return std::nullopt;
    return row->format;
}

bool graph_format_available(GraphFormat format) {
    for (const FormatRow& row : format_rows()) {
        if (row.format == format) return row.available;
    }
    return false;
}

CommandLine parse_command_line(int argc, const char* const argv[]) {
    // getopt_long reorders its array: it works on a copy.
    std::vector<std::string> storage(argv, argv + argc);
    std::vector<char*> args;
    for (std::string& s : storage) args.push_back(s.data());
    args.push_back(nullptr);

    CommandLine result;
    Parser parser;
    std::vector<std::string> operands;
    optind = 0; // a full restart of getopt's scan
    opterr = 0; // the messages are ours
    try {
        for (;;) {
            const int code = getopt_long(argc, args.data(), short_options, long_options, nullptr);
            if (code == -1) break;
            if (code == '?') {
                const std::string given = optopt != 0
                                              ? "-" + std::string(1, static_cast<char>(optopt))
                                              : std::string(args[optind - 1]);
                throw Usage{_("unknown or ambiguous option: ") + quoted_argument(given)};
            }
            if (code == ':') {
                const std::string given = optopt != 0 && optopt < 256
                                              ? "-" + std::string(1, static_cast<char>(optopt))
                                              : std::string(args[optind - 1]);
                throw Usage{_("the option ") + quoted_argument(given) + _(" lacks its value")};
            }
            if (!parser.take(code, optarg)) break;
        }
        if (parser.help) {
            result.action = CommandLine::Action::help;
            return result;
        }
        if (parser.version) {
            result.action = CommandLine::Action::version;
            return result;
        }
        for (int i = optind; i < argc; ++i)
            operands.emplace_back(args[static_cast<std::size_t>(i)]);
        parser.finish(operands);
    } catch (const Usage& usage) {
        result.action = CommandLine::Action::usage_error;
        result.error = usage.message;
        return result;
    }
    result.options = parser.options;
    return result;
}

std::string help_text() {
    return std::string(_(R"(Usage: fasogram [OPTIONS] [SERIES]

Without arguments, fasogram asks its questions in Spanish (window,
frequencies, number of points) and reads the series from datos.dat.  With
arguments it computes the spectrum without asking anything.

SERIES is the file of time value pairs (default datos.dat; - reads standard
input).  Empty lines and lines that start with # or % are skipped; a first
line without numbers is taken as a header.

  -w, --window WINDOW    hanning (h) or square (cuadrada, c); default hanning
  -e, --errors           each line holds time, value and the value's error;
                         each point weighs its window weight / error^2
      --from F           first frequency (default, one step)
      --to F             last frequency, greater than F (default, the Nyquist
                         frequency of the median spacing of the times, at most
                         1000000 steps)
      --steps N          number of steps, N > 0: N+1 frequencies with both
                         limits included (default, those that give a step of
                         a line width / K)
      --oversample K     K grid points per line width (default 10; not with
                         --steps)
  -o, --table FILE       the spectrum table (- is standard output; a name
                         ending in .csv gives comma-separated values with a
                         header line and every digit); without -o the table
                         goes to standard output when neither -p, --peaks nor
                         --prewhiten is given, and is not written when one is
  -p, --plot FILE        the graph; the format comes from the extension: .pdf
                         .ps .eps .svg .png .bmp .tif/.tiff (may be repeated)
      --size WIDTHxHEIGHT  pixel size of raster graphs, 16 to 16384 each
                         (default 3508x2480: A4 landscape at 300 dpi)
      --peaks K          print the K highest peaks, with the false-alarm
                         probability (fap) of each height over the band
      --bootstrap B      the fap column and the --fap-levels lines from B
                         resamples of the series (B >= 1), the fap's
                         standard error in a column of its own
      --seed S           the resamples of --bootstrap (0 to 2^64-1, default 0):
                         the same S gives the same numbers
      --fap-levels P,... draw on the graph the rho of each false-alarm
                         probability P (0 < P < 1), Baluev's or with
                         --bootstrap the resamples'
      --screen           also show the graph in a window
  -j, --threads N        computing threads (default 0: every core)
  -q, --quiet            no notes, no summaries of the plotting library
)")) + multifreq_help() +
           graph_options_help() + _(R"(  -h, --help             print this help
  -V, --version          print the version

Frequencies are in cycles per unit of time of the series.  Numbers are
written with a decimal point (1.5, 2e-3, 1.5D+03).  Notes go to standard
error; standard output carries only the table (-o -) or the peaks.

Examples:
  fasogram -e --peaks 3 star.dat
  fasogram --from 0 --to 0.5 --steps 5000 --peaks 5 star.dat
  fasogram -w c --from 0.01 --to 2 --steps 20000 -o spectrum.csv -p spectrum.pdf -q series.dat
  awk '{print $1, $3}' photometry.txt | fasogram --from 0 --to 1 --steps 1000 -o - - > spectrum.dat

Exit status: 0 if all went well, 1 after an error, 2 after a usage error.
)");
}

std::string version_text(float library_version) {
    char library[32];
    const auto end = std::to_chars(library, library + sizeof library, library_version,
                                   std::chars_format::fixed, 1)
                         .ptr;
    return _("fasogram version 22/04/03\nplotting library plotix ") + std::string(library, end) +
           "\n";
}

} // namespace fasogram
