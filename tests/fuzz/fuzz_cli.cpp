// Fuzz target: the command-line parser.  An input is the argument list
// after the program name, the arguments separated by NUL bytes.  Checked:
//   - the same arguments give the same result on every call, and under a
//     locale that writes a decimal comma;
//   - a usage error is one non-empty line;
//   - a run request holds what the batch run relies on (grid limits that
//     are finite and increasing where both are given, at least one step or
//     an oversampling factor above 0, never both, limits of sizes, peaks and threads, a format
//     that is the extension of each graph name, no two outputs on standard
//     output);
//   - the request written back as a plain command line (every number with
//     all its digits) is read as the same request.
#include "cli.hpp"
#include "fuzz_check.hpp"

#include <bit>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using fasogram::CommandLine;
using fasogram::GraphFormat;
using fasogram::Options;

constexpr std::size_t kMaxArgs = 64;

CommandLine parse(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"fasogram"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    return fasogram::parse_command_line(static_cast<int>(argv.size()), argv.data());
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The two results as text, for comparison and for the report.
std::string describe(const CommandLine& c) {
    std::string s = "action " + std::to_string(static_cast<int>(c.action));
    if (c.action == CommandLine::Action::usage_error) return s + " error '" + c.error + "'";
    if (c.action != CommandLine::Action::run) return s;
    const Options& o = c.options;
    char num[64];
    auto optional_number = [&](const char* name, const std::optional<double>& v) {
        if (!v) return std::string(" ") + name + " none";
        std::snprintf(num, sizeof num, " %s %a", name, *v);
        return std::string(num);
    };
    s += optional_number("from", o.f_ini) + optional_number("to", o.f_fin) +
         optional_number("oversample", o.oversample);
    s += " steps " + (o.steps ? std::to_string(*o.steps) : std::string("none"));
    s += " errors " + std::to_string(o.errors);
    s += " prewhiten " + std::to_string(o.multi.prewhiten);
    s += " window " + std::to_string(static_cast<int>(o.window)) + " series '" + o.series +
         "' table '" + o.table + "'";
    for (const auto& g : o.graphs)
        s += " graph '" + g.path + "' " + std::to_string(static_cast<int>(g.format));
    if (o.size)
        s += " size " + std::to_string(o.size->width) + "x" + std::to_string(o.size->height);
    s += " peaks " + std::to_string(o.peaks) + " screen " + std::to_string(o.screen) + " threads " +
         std::to_string(o.threads) + " quiet " + std::to_string(o.quiet);
    return s;
}

bool same(const CommandLine& a, const CommandLine& b) {
    if (a.action != CommandLine::Action::run || b.action != CommandLine::Action::run)
        return describe(a) == describe(b);
    // Compared by bits too: describe() prints -0 and 0 apart already, but
    // the check should not rest on the printing.
    auto same_value = [](const std::optional<double>& x, const std::optional<double>& y) {
        return x.has_value() == y.has_value() && (!x || same_bits(*x, *y));
    };
    return describe(a) == describe(b) && same_value(a.options.f_ini, b.options.f_ini) &&
           same_value(a.options.f_fin, b.options.f_fin) &&
           same_value(a.options.oversample, b.options.oversample);
}

std::string lower_extension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string e = base.substr(dot + 1);
    for (char& ch : e) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return e;
}

bool format_matches(const fasogram::GraphRequest& g) {
    const std::string e = lower_extension(g.path);
    switch (g.format) {
    case GraphFormat::pdf: return e == "pdf";
    case GraphFormat::ps: return e == "ps";
    case GraphFormat::eps: return e == "eps";
    case GraphFormat::svg: return e == "svg";
    case GraphFormat::png: return e == "png";
    case GraphFormat::bmp: return e == "bmp";
    case GraphFormat::tiff: return e == "tif" || e == "tiff";
    }
    return false;
}

void check_run(const Options& o, const std::string& shown) {
    fuzz::check((!o.f_ini || std::isfinite(*o.f_ini)) && (!o.f_fin || std::isfinite(*o.f_fin)) &&
                    (!o.f_ini || !o.f_fin || *o.f_fin > *o.f_ini),
                "grid limits not finite and increasing: " + shown);
    fuzz::check(!o.steps || (*o.steps >= 1 && *o.steps < INT64_MAX),
                "steps out of range: " + shown);
    fuzz::check(!o.oversample || (std::isfinite(*o.oversample) && *o.oversample > 0),
                "oversampling factor out of range: " + shown);
    fuzz::check(!(o.oversample && o.steps), "both steps and oversampling factor: " + shown);
    // No table file (an empty name) only when a graph, peaks or prewhitening
    // is asked for without -o.
    fuzz::check(!o.series.empty() &&
                    (!o.table.empty() || !o.graphs.empty() || o.peaks > 0 || o.multi.prewhiten > 0),
                "empty file name: " + shown);
    fuzz::check(o.threads <= fasogram::max_threads, "threads above the limit: " + shown);
    fuzz::check(o.peaks <= 1000000, "peaks above the limit: " + shown);
    fuzz::check(!(o.table == "-" && o.peaks > 0), "table and peaks both on stdout: " + shown);
    if (o.size) {
        for (int side : {o.size->width, o.size->height})
            fuzz::check(side >= fasogram::min_image_side && side <= fasogram::max_image_side,
                        "image side out of range: " + shown);
    }
    for (const auto& g : o.graphs) {
        fuzz::check(format_matches(g), "format is not the extension: " + shown);
        fuzz::check(fasogram::graph_format_available(g.format),
                    "graph in a format the library cannot write: " + shown);
    }
}

// The request as a plain command line: each option once, its value in the
// next argument, the series after "--".
std::vector<std::string> written_back(const Options& o) {
    auto number = [](double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return std::string(buf);
    };
    std::vector<std::string> a{"--window",
                               o.window == fasogram::Window::hanning ? "hanning" : "square"};
    if (!o.table.empty()) a.insert(a.end(), {"--table", o.table});
    if (o.f_ini) a.insert(a.end(), {"--from", number(*o.f_ini)});
    if (o.f_fin) a.insert(a.end(), {"--to", number(*o.f_fin)});
    if (o.steps) a.insert(a.end(), {"--steps", std::to_string(*o.steps)});
    if (o.oversample) a.insert(a.end(), {"--oversample", number(*o.oversample)});
    if (o.errors) a.push_back("--errors");
    for (const auto& g : o.graphs) {
        a.push_back("--plot");
        a.push_back(g.path);
    }
    if (o.size) {
        a.push_back("--size");
        a.push_back(std::to_string(o.size->width) + "x" + std::to_string(o.size->height));
    }
    if (o.peaks > 0) {
        a.push_back("--peaks");
        a.push_back(std::to_string(o.peaks));
    }
    // Prewhitening is a request of its own: without -o it leaves no table.
    if (o.multi.prewhiten > 0) {
        a.push_back("--prewhiten");
        a.push_back(std::to_string(o.multi.prewhiten));
    }
    if (o.screen) a.push_back("--screen");
    a.push_back("--threads");
    a.push_back(std::to_string(o.threads));
    if (o.quiet) a.push_back("--quiet");
    a.push_back("--");
    a.push_back(o.series);
    return a;
}

bool comma_locale_available() {
    static const bool available = [] {
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
        const bool ok = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        std::setlocale(LC_NUMERIC, saved.c_str());
        return ok;
    }();
    return available;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        std::string current;
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                args.push_back(current);
                current.clear();
            } else {
                current.push_back(static_cast<char>(data[i]));
            }
        }
        args.push_back(current);
    }
    if (args.size() > kMaxArgs) return 0;

    const CommandLine first = parse(args);
    const std::string shown = fuzz::shown(describe(first));
    const CommandLine again = parse(args);
    fuzz::check(same(first, again),
                "a second reading differs: " + shown + " / " + fuzz::shown(describe(again)));
    if (comma_locale_available()) {
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        const CommandLine german = parse(args);
        std::setlocale(LC_NUMERIC, "C");
        fuzz::check(same(first, german), "the reading depends on the locale: " + shown + " / " +
                                             fuzz::shown(describe(german)));
    }

    switch (first.action) {
    case CommandLine::Action::usage_error:
        fuzz::check(!first.error.empty() && first.error.find('\n') == std::string::npos,
                    "usage error not one line: " + shown);
        break;
    case CommandLine::Action::run: {
        check_run(first.options, shown);
        const CommandLine back = parse(written_back(first.options));
        fuzz::check(same(first, back), "the request written back reads differently: " + shown +
                                           " / " + fuzz::shown(describe(back)));
        break;
    }
    case CommandLine::Action::help:
    case CommandLine::Action::version: break;
    }
    return 0;
}
