// The analysis of several frequencies from the command line: its options,
// and the built program's runs on the multiperiodic example, whose files are
// read back (the program's own series reader, ghostscript, poppler, xmllint,
// PIL).
#include "cli.hpp"
#include "series.hpp"
#include "test_support.hpp"

#include "common/support.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fasogram {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const std::string read_back = std::string(FASOGRAM_TEST_SOURCE) + "/read_back.py";
const std::string multiperiodic = std::string(FASOGRAM_SOURCE) + "/examples/multiperiodic.dat";

// The signals tools/gen_multiperiodic.py puts in the example.
struct Signal {
    double f, amplitude;
};
const Signal signals[] = {{1.0 / 2.7, 0.30}, {1.2345, 0.12}, {0.0823, 0.06}};

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "fasogram");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

std::string error_of(std::vector<const char*> args) {
    const CommandLine c = parse(std::move(args));
    return c.action == CommandLine::Action::usage_error ? c.error : "accepted";
}

TEST(MultiFreqCommandLine, OptionsAreReadAndCheckedTogether) {
    const CommandLine c = parse({"--from",
                                 "0",
                                 "--to",
                                 "1",
                                 "--steps",
                                 "10",
                                 "--prewhiten",
                                 "5",
                                 "--harmonics=3",
                                 "--detrend",
                                 "2",
                                 "--snr-min",
                                 "3.5",
                                 "--snr-band",
                                 "0.5",
                                 "--fit-table",
                                 "f.csv",
                                 "--residuals",
                                 "r.dat",
                                 "--phase-plot",
                                 "p.SVG",
                                 "--window-spectrum",
                                 "w.dat"});
    ASSERT_EQ(c.action, CommandLine::Action::run) << c.error;
    const MultiOptions& m = c.options.multi;
    EXPECT_EQ(m.prewhiten, 5u);
    EXPECT_EQ(m.harmonics, 3);
    EXPECT_EQ(m.detrend, 2);
    EXPECT_EQ(m.snr_min, 3.5);
    EXPECT_EQ(m.snr_band, 0.5);
    EXPECT_EQ(m.fit_table, "f.csv");
    EXPECT_EQ(m.residuals, "r.dat");
    ASSERT_TRUE(m.phase_plot.has_value());
    EXPECT_EQ(m.phase_plot->format, GraphFormat::svg);
    EXPECT_EQ(m.window_spectrum, "w.dat");
    const MultiOptions d = parse({"--from", "0", "--to", "1", "--steps", "1"}).options.multi;
    EXPECT_EQ(d.prewhiten, 0u);
    EXPECT_EQ(d.harmonics, 1);
    EXPECT_EQ(d.detrend, -1);
    EXPECT_EQ(d.snr_min, 4.0);

    const std::vector<const char*> grid{"--from", "0", "--to", "1", "--steps", "1"};
    auto with = [&](std::vector<const char*> extra) {
        std::vector<const char*> args = grid;
        args.insert(args.end(), extra.begin(), extra.end());
        return error_of(args);
    };
    // The edges of every range.
    EXPECT_EQ(with({"--prewhiten", "100", "--harmonics", "1"}), "accepted");
    EXPECT_EQ(with({"--harmonics", "20", "--detrend", "0", "--snr-min", "0"}), "accepted");
    EXPECT_EQ(with({"--detrend", "20"}), "accepted");
    const std::pair<std::vector<const char*>, std::string> refused[] = {
        {{"--prewhiten", "0"}, "--prewhiten: expected a number of frequencies from 1 to 100: '0'"},
        {{"--prewhiten", "101"}, "--prewhiten: expected"},
        {{"--prewhiten", "2.5"}, "--prewhiten: expected"},
        {{"--harmonics", "0"}, "--harmonics: expected a number of harmonics from 1 to 20: '0'"},
        {{"--harmonics", "21"}, "--harmonics: expected"},
        {{"--detrend", "-1"},
         "--detrend: expected the degree of the polynomial, from 0 to 20: '-1'"},
        {{"--detrend", "21"}, "--detrend: expected"},
        {{"--snr-min", "-1"}, "--snr-min: expected a signal to noise ratio of 0 or more: '-1'"},
        {{"--snr-band", "0"}, "--snr-band: expected a frequency half width"},
        {{"--snr-band", "nan"}, "--snr-band: expected a frequency half width"},
        {{"--fit-table", ""}, "--fit-table: the file name is missing"},
        {{"--residuals", "-"}, "--residuals: expected a file name"},
        {{"--phase-plot", "p.jpg"},
         "--phase-plot 'p.jpg': the format comes from the name's extension"},
        {{"--fit-table", "f.csv"}, "--fit-table needs --prewhiten"},
        {{"--residuals", "r.dat"}, "--residuals needs --prewhiten"},
        {{"--phase-plot", "p.pdf"}, "--phase-plot needs --prewhiten"},
        {{"--prewhiten", "2", "-o", "-"}, "--table - and --prewhiten would both write"},
        {{"--prewhiten", "100", "--harmonics", "5"},
         "--prewhiten 100 with --harmonics 5 goes beyond 1000 coefficients in the fit"},
    };
    for (const auto& [extra, message] : refused)
        EXPECT_EQ(with(extra).substr(0, message.size()), message) << extra[0];

    const std::string help = help_text();
    for (const char* option :
         {"--harmonics H", "--detrend D", "--prewhiten K", "--snr-min S", "--snr-band W",
          "--fit-table", "--residuals", "--phase-plot", "--window-spectrum", "-h, --help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

// ---------------------------------------------------------------------------
// Runs of the built program.

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome run(const ScratchDir& dir, const std::string& args) {
    const std::string command =
        "cd '" + dir.path().string() +
        "' && env -u DISPLAY -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=C '" + FASOGRAM_BINARY +
        "' " + args + " </dev/null >.stdout 2>.stderr";
    const int raw = std::system(command.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = dir.read(".stdout");
    r.err = dir.read(".stderr");
    return r;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : lines_of(text)) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
        rows.push_back(fields);
    }
    return rows;
}

constexpr const char* example_grid = "--from 0.01 --to 2 --steps 6650 -q";

// The fit table's rows as read from the CSV file: every value written with
// 17 significant digits.
struct FitRow {
    double f, f_err, amplitude, amplitude_err, phase, snr, epoch, c0;
};

std::vector<FitRow> read_fit_csv(const std::string& text) {
    const auto rows = csv_rows(text);
    EXPECT_FALSE(rows.empty());
    if (rows.empty()) return {};
    EXPECT_EQ(rows[0].size(), 16u);
    EXPECT_EQ(rows[0][2], "frecuencia");
    std::vector<FitRow> out;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        EXPECT_EQ(r.size(), 16u);
        for (std::size_t j = 2; j < r.size(); ++j) {
            // d.dddddddddddddddde±XX
            const std::string mantissa = r[j].substr(r[j][0] == '-' ? 1 : 0, 18);
            EXPECT_EQ(mantissa.size(), 18u) << r[j];
            EXPECT_EQ(mantissa[1], '.') << r[j];
        }
        out.push_back({std::stod(r[2]), std::stod(r[3]), std::stod(r[6]), std::stod(r[7]),
                       std::stod(r[9]), std::stod(r[12]), std::stod(r[13]), std::stod(r[14])});
    }
    return out;
}

TEST(MultiFreqBatch, PrewhiteningFindsTheExamplesThreeFrequenciesAndWritesItsFit) {
    ScratchDir dir;
    fs::copy_file(multiperiodic, dir.path() / "estrella.dat");
    const Outcome r = run(dir, std::string(example_grid) +
                                   " -o espectro.dat --prewhiten 6 --fit-table ajuste.csv "
                                   "--residuals residuos.dat estrella.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The printed table: a heading, three rows, C0 and the residuals.
    const std::vector<std::string> out = lines_of(r.out);
    ASSERT_EQ(out.size(), 6u) << r.out;
    EXPECT_EQ(out[0].substr(0, 20), "  n  h        freque");
    EXPECT_EQ(out[4].substr(0, 4), "C0 =");
    EXPECT_EQ(out[5].substr(0, 20), "residuals: sigma = 0");

    const std::vector<FitRow> fit = read_fit_csv(dir.read("ajuste.csv"));
    ASSERT_EQ(fit.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(fit[k].f, signals[k].f, 3 * fit[k].f_err) << k;
        EXPECT_NEAR(fit[k].amplitude, signals[k].amplitude, 3 * fit[k].amplitude_err) << k;
        EXPECT_GE(fit[k].snr, 4.0);
        // The printed row says the same as the file.
        std::istringstream row(out[k + 1]);
        int n = 0, h = 0;
        double f = 0;
        row >> n >> h >> f;
        EXPECT_EQ(n, static_cast<int>(k + 1));
        EXPECT_NEAR(f, fit[k].f, 1e-9 * fit[k].f);
    }

    // The residuals file is a series: the program's reader takes it back,
    // with the input's times, and each residual is the value less the model
    // rebuilt from the fit table.
    const Series input = read_series_file(dir.path() / "estrella.dat", "estrella.dat");
    const Series residuals = read_series_file(dir.path() / "residuos.dat", "residuos.dat");
    ASSERT_EQ(residuals.size(), input.size());
    const long double two_pi = 8 * std::atan(1.0L);
    double ss = 0.0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(residuals.t[i], input.t[i]);
        long double model = fit[0].c0;
        for (const FitRow& row : fit)
            model += row.amplitude *
                     std::cos(two_pi * (row.f * ((long double)input.t[i] - row.epoch) - row.phase));
        EXPECT_NEAR(residuals.x[i], input.x[i] - (double)model, 1e-9) << i;
        ss += residuals.x[i] * residuals.x[i];
    }
    // The generator's noise of 0.1, within what 2983 points tell of it.
    EXPECT_NEAR(std::sqrt(ss / input.size()), 0.1, 0.005);

    // Nothing is left in the residuals above S/N 4.
    const Outcome again =
        run(dir, std::string(example_grid) + " -o /dev/null --prewhiten 3 --fit-table again.csv "
                                             "residuos.dat");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(lines_of(again.out).size(), 3u) << again.out;
    EXPECT_EQ(read_fit_csv(dir.read("again.csv")).size(), 0u);
}

// The errors of -e weigh the prewhitening as they weigh the spectrum: the
// faint variable of the example with errors is found only with them.
TEST(MultiFreqBatch, PrewhiteningWeighsTheMeasurementErrors) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE_ERRORS, dir.path() / "errores.dat");
    const double truth = 1.0 / 0.8127;
    Outcome r = run(dir, "-e -o /dev/null --prewhiten 1 --fit-table e.csv errores.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<FitRow> fit = read_fit_csv(dir.read("e.csv"));
    ASSERT_EQ(fit.size(), 1u);
    EXPECT_NEAR(fit[0].f, truth, 1e-3);
    EXPECT_LT(fit[0].f_err, 1e-4);
    r = run(dir, "-o /dev/null --prewhiten 1 --fit-table plain.csv errores.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    fit = read_fit_csv(dir.read("plain.csv"));
    EXPECT_TRUE(fit.empty() || std::fabs(fit[0].f - truth) > 1e-3);
}

// --fap-stop ends prewhitening at the first peak that noise alone would
// reach with more than the given probability: the example's three signals
// and nothing else, where no signal-to-noise limit stops the search.
TEST(MultiFreqBatch, PrewhiteningStopsAtTheFalseAlarmLimit) {
    ScratchDir dir;
    fs::copy_file(multiperiodic, dir.path() / "estrella.dat");
    Outcome r = run(dir, "-o /dev/null --prewhiten 6 --snr-min 0 --fap-stop 1e-6 "
                         "--fit-table strict.csv estrella.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<FitRow> fit = read_fit_csv(dir.read("strict.csv"));
    ASSERT_EQ(fit.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(fit[k].f, signals[k].f, 3 * fit[k].f_err);
    // A probability of 1 never stops it: the limit of six is reached.
    r = run(dir, "-o /dev/null --prewhiten 6 --snr-min 0 --fap-stop 1 --fit-table loose.csv "
                 "estrella.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_fit_csv(dir.read("loose.csv")).size(), 6u);
    for (const char* bad : {"0", "1.0000001", "-1e-3", "nan", "x"}) {
        r = run(dir, std::string("--prewhiten 2 --fap-stop ") + bad + " estrella.dat");
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--fap-stop: expected a probability above 0 and at most 1"),
                  std::string::npos)
            << r.err;
    }
}

TEST(MultiFreqBatch, TrendsAreRemovedFirstAndHarmonicsRaiseRho) {
    ScratchDir dir;
    // The example with a strong quadratic trend over its four seasons.
    Series s = read_series_file(multiperiodic, "multiperiodic.dat");
    std::string text;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double d = (s.t[i] - 2450700.0) / 700.0;
        char line[80];
        std::snprintf(line, sizeof line, "%.5f %.6f\n", s.t[i], s.x[i] + 0.8 * d - 0.9 * d * d);
        text += line;
    }
    dir.write("trend.dat", text);
    const Outcome r = run(dir, std::string(example_grid) +
                                   " -o /dev/null --detrend 2 --prewhiten 5 --fit-table f.csv "
                                   "trend.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<FitRow> fit = read_fit_csv(dir.read("f.csv"));
    ASSERT_EQ(fit.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(fit[k].f, signals[k].f, 3 * fit[k].f_err) << k;
    // Without the detrending the trend's power, aliased by the nightly
    // sampling, makes the first frequency found one of no signal.
    const Outcome raw = run(dir, std::string(example_grid) +
                                     " -o /dev/null --prewhiten 1 --fit-table raw.csv trend.dat");
    ASSERT_EQ(raw.status, 0) << raw.err;
    const std::vector<FitRow> first = read_fit_csv(dir.read("raw.csv"));
    ASSERT_EQ(first.size(), 1u);
    for (const Signal& x : signals) EXPECT_GT(std::fabs(first[0].f - x.f), 0.01);

    // A degree the times cannot carry stops the run.
    dir.write("short.dat", "1 2\n1 3\n2 4\n");
    const Outcome refused =
        run(dir, "--from 0.1 --to 1 --steps 10 -o /dev/null -w c --detrend 2 short.dat");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "fasogram: error: --detrend 2: a polynomial of degree 2 needs at least 3 "
              "distinct times with weight\n")
        << refused.err;

    // Nested models: every rho of two harmonics is at least that of one.
    fs::copy_file(multiperiodic, dir.path() / "m.dat");
    const std::string grid = "--from 0.05 --to 1.5 --steps 3000 -q -w c ";
    ASSERT_EQ(run(dir, grid + "-o h1.csv m.dat").status, 0);
    ASSERT_EQ(run(dir, grid + "--harmonics 2 -o h2.csv --peaks 2 m.dat").status, 0);
    const auto h1 = csv_rows(dir.read("h1.csv")), h2 = csv_rows(dir.read("h2.csv"));
    ASSERT_EQ(h1.size(), 3002u);
    ASSERT_EQ(h2.size(), h1.size());
    EXPECT_EQ(h2[0], h1[0]);
    int higher = 0;
    for (std::size_t i = 1; i < h1.size(); ++i) {
        ASSERT_EQ(h1[i][0], h2[i][0]);
        const double r1 = std::stod(h1[i][1]), r2 = std::stod(h2[i][1]);
        EXPECT_GE(r2, r1 - 1e-12) << h1[i][0];
        if (r2 > r1 + 1e-6) ++higher;
    }
    EXPECT_GT(higher, 2900);
}

// What read_back.py tells of a rendered page.
struct Page {
    int width = 0, height = 0;
    double white = 0;
    long blue = 0, dark = 0;
    std::string problem;
};

Page render(const fs::path& file, bool raster) {
    const std::string text =
        test_common::run_command("/usr/bin/python3 '" + read_back + "' " +
                                 (raster ? "image '" : "render '") + file.string() + "'");
    const std::vector<std::string> lines = lines_of(text);
    Page p;
    if (lines.size() != 6) {
        p.problem = text;
        return p;
    }
    std::istringstream(lines[0]) >> p.width >> p.height;
    p.white = std::stod(lines[1].substr(6));
    p.blue = std::stol(lines[2].substr(5));
    p.dark = std::stol(lines[3].substr(5));
    return p;
}

TEST(MultiFreqBatch, PhasePlotsInEveryFormatReadByOutsidePrograms) {
    ScratchDir dir;
    fs::copy_file(multiperiodic, dir.path() / "m.dat");
    for (const char* name : {"fase.pdf", "fase.ps", "fase.eps", "fase.svg", "fase.png"}) {
        const Outcome r = run(dir, std::string(example_grid) +
                                       " -o /dev/null --prewhiten 2 --size 1200x850 "
                                       "--phase-plot " +
                                       name + " m.dat");
        ASSERT_EQ(r.status, 0) << name << r.err;
        const bool raster = std::string(name).ends_with(".png");
        const Page p = render(dir.path() / name, raster);
        ASSERT_EQ(p.problem, "") << name;
        EXPECT_GT(p.width, p.height) << name;
        EXPECT_GT(p.white, 0.6) << name;
        // The model curve in blue and the points and axes in black.
        EXPECT_GT(p.blue, raster ? 2000 : 100) << name;
        EXPECT_GT(p.dark, raster ? 40000 : 2000) << name;
        if (raster) {
            EXPECT_EQ(p.width, 1200);
            EXPECT_EQ(p.height, 850);
        }
    }
    std::string log;
    EXPECT_EQ(test_common::run_command(
                  "xmllint --noout '" + (dir.path() / "fase.svg").string() + "'", log),
              0)
        << log;
    ASSERT_EQ(test_common::run_command("pdfinfo '" + (dir.path() / "fase.pdf").string() + "'", log),
              0)
        << log;
    EXPECT_NE(log.find("\nPages:           1\n"), std::string::npos) << log;
}

TEST(MultiFreqBatch, WindowSpectrumShowsTheDailyAlias) {
    ScratchDir dir;
    fs::copy_file(multiperiodic, dir.path() / "m.dat");
    const Outcome r = run(dir, "--from 0 --to 2.5 --steps 2500 -q -o /dev/null "
                               "--window-spectrum w.csv m.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const auto rows = csv_rows(dir.read("w.csv"));
    ASSERT_EQ(rows.size(), 2502u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"frecuencia", "amplitud"}));
    EXPECT_EQ(rows[1][0], "0");
    EXPECT_NEAR(std::stod(rows[1][1]), 1.0, 1e-13);
    double best = 0, at = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const double f = std::stod(rows[i][0]), a = std::stod(rows[i][1]);
        EXPECT_GE(a, 0.0);
        EXPECT_LE(a, 1.0 + 1e-13);
        if (f > 0.5 && a > best) {
            best = a;
            at = f;
        }
    }
    EXPECT_NEAR(at, 1.0, 0.005);
    // A name without .csv: two columns a line, a series the reader takes.
    ASSERT_EQ(run(dir, "--from 0 --to 2.5 --steps 2500 -q -o /dev/null --window-spectrum w.dat "
                       "m.dat")
                  .status,
              0);
    const Series plain = read_series_file(dir.path() / "w.dat", "w.dat");
    ASSERT_EQ(plain.size(), 2501u);
    EXPECT_EQ(plain.x[0], std::stod(rows[1][1]));
}

} // namespace
} // namespace fasogram
