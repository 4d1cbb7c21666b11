// False-alarm probabilities from the command line: --bootstrap and --seed in
// the peak table, --fap-levels on the graph (its lines read back from the
// SVG file by xmllint), and their usage errors.
#include "cli.hpp"
#include "test_support.hpp"

#include "common/support.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fasogram {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

struct ProgramRun {
    int status = -1;
    std::string out, err;
};

ProgramRun run(const ScratchDir& dir, const std::string& args) {
    const std::string command =
        "cd '" + dir.path().string() +
        "' && env -u DISPLAY -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=C '" + FASOGRAM_BINARY +
        "' " + args + " </dev/null >.stdout 2>.stderr";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read(".stdout"), dir.read(".stderr")};
}

struct Pairs {
    std::vector<double> t, x;
};

Pairs read_pairs(const std::string& path) {
    Pairs p;
    std::ifstream in(path);
    for (double a, b; in >> a >> b;) {
        p.t.push_back(a);
        p.x.push_back(b);
    }
    return p;
}

// White noise on the example's times, written as a series file.
Pairs noise_on_example_times(const ScratchDir& dir, const std::string& name) {
    Pairs p = read_pairs(FASOGRAM_EXAMPLE);
    std::uint64_t state = 99;
    std::string text;
    for (double& x : p.x) {
        double sum = 0;
        for (int k = 0; k < 12; ++k) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            sum += static_cast<double>(state >> 11) * 0x1.0p-53;
        }
        x = 12.0 + 0.1 * (sum - 6.0);
    }
    for (std::size_t i = 0; i < p.t.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%.5f %.17g\n", p.t[i], p.x[i]);
        text += line;
    }
    dir.write(name, text);
    return p;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The peaks the program finds on this grid, from the engine itself.
std::vector<Peak> engine_peaks(const SpectrumEngine& engine, const FrequencyGrid& grid,
                               std::size_t k) {
    PeakFinder finder(k);
    engine.run(grid, [&](const SpectrumPoint& p) { finder.add(p); });
    return finder.peaks(engine);
}

// The last two columns as the manual page gives them.
std::string fap_cells(const BootstrapProbability& p) {
    char cells[64], bound[32];
    if (p.upper_bound) {
        std::snprintf(bound, sizeof bound, "<%.3e", p.probability);
        std::snprintf(cells, sizeof cells, "%12s%12s", bound, "-");
    } else {
        std::snprintf(cells, sizeof cells, "%12.3e%12.1e", p.probability, p.error);
    }
    return cells;
}

TEST(BootstrapOption, PeakTableCarriesTheBootstrapProbabilityAndItsError) {
    ScratchDir dir;
    const Pairs s = noise_on_example_times(dir, "noise.dat");
    const std::string grid_args = "--from 0.01 --to 2 --steps 3000 --peaks 6 ";
    const ProgramRun r = run(dir, "-q " + grid_args + "--bootstrap 400 --seed 17 noise.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    EXPECT_TRUE(lines[0].ends_with("C1         fap     fap_err")) << lines[0];

    // Each line's last two columns: the engine's bootstrap of the same
    // series, grid and seed at the height of the same peak.
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const FrequencyGrid grid{0.01, 2.0, 3000, engine.line_width()};
    BootstrapOptions o;
    o.resamples = 400;
    o.seed = 17;
    const Bootstrap boot = bootstrap(s.t, s.x, {}, Window::hanning, grid, o);
    const std::vector<Peak> peaks = engine_peaks(engine, grid, 6);
    ASSERT_EQ(peaks.size(), 6u);
    std::size_t bounded = 0;
    for (std::size_t k = 0; k < 6; ++k) {
        const BootstrapProbability p = boot.probability(peaks[k].rho);
        const std::string expected = fap_cells(p);
        EXPECT_TRUE(lines[k + 1].ends_with(expected)) << lines[k + 1] << " | " << expected;
        bounded += p.upper_bound;
    }
    // Noise: the highest peak is no outlier among the resamples'.
    EXPECT_EQ(bounded, 0u);

    // The same seed gives the same table with any number of threads; another
    // seed other draws.
    EXPECT_EQ(run(dir, "-q -j 1 " + grid_args + "--bootstrap 400 --seed 17 noise.dat").out, r.out);
    EXPECT_NE(run(dir, "-q -j 3 " + grid_args + "--bootstrap 400 --seed 18 noise.dat").out, r.out);
    // Without --seed, seed 0.
    EXPECT_EQ(run(dir, "-q " + grid_args + "--bootstrap 400 noise.dat").out,
              run(dir, "-q " + grid_args + "--bootstrap 400 --seed 0 noise.dat").out);
}

TEST(BootstrapOption, APeakNoResampleReachesIsABound) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const ProgramRun r =
        run(dir, "--from 0.01 --to 2 --steps 3000 --peaks 1 --bootstrap 300 datos.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].ends_with("  <3.333e-03           -")) << lines[1];
    EXPECT_NE(r.err.find("fasogram: bootstrap: 300 resamples of the series, seed 0\n"),
              std::string::npos)
        << r.err;
}

TEST(BootstrapOption, BadValuesAreOneLineUsageErrors) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const std::string grid = "-q --from 0.01 --to 2 --steps 300 ";
    const std::pair<std::string, std::string> cases[] = {
        {"--peaks 1 --bootstrap 0", "--bootstrap: expected a number of resamples from 1 to"},
        {"--peaks 1 --bootstrap -5", "--bootstrap: expected a number of resamples"},
        {"--peaks 1 --bootstrap 2.5", "--bootstrap: expected a number of resamples"},
        {"--peaks 1 --bootstrap 1e3", "--bootstrap: expected a number of resamples"},
        {"--peaks 1 --bootstrap 100000001", "--bootstrap: expected a number of resamples"},
        {"--bootstrap 10", "--bootstrap gives the fap column of --peaks"},
        {"--peaks 1 --seed 4", "--seed needs --bootstrap"},
        {"--peaks 1 --bootstrap 10 --seed -1", "--seed: expected a whole number"},
        {"--peaks 1 --bootstrap 10 --seed 18446744073709551616", "--seed: expected a whole"},
        {"--peaks 1 --bootstrap 10 --harmonics 2",
         "--bootstrap and --fap-levels are for the spectrum of one sinusoid"},
        {"-p g.svg --fap-levels 0", "--fap-levels: expected probabilities above 0 and below 1"},
        {"-p g.svg --fap-levels 1", "--fap-levels: expected probabilities"},
        {"-p g.svg --fap-levels 0.1,", "--fap-levels: expected probabilities"},
        {"-p g.svg --fap-levels '0.1;0.2'", "--fap-levels: expected probabilities"},
        {"-p g.svg --fap-levels nan", "--fap-levels: expected probabilities"},
        {"--peaks 1 --fap-levels 0.01", "--fap-levels draws on the graph"},
        {"-p g.svg --bootstrap 99 --fap-levels 0.01",
         "--fap-levels: a probability of 0.01 needs at least 100 resamples; --bootstrap gives 99"},
    };
    for (const auto& [args, message] : cases) {
        const ProgramRun r = run(dir, grid + args + " datos.dat");
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("fasogram: error: " + message, 0), 0u) << args << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err; // and "Try ..."
        EXPECT_FALSE(dir.exists("g.svg"));
    }
    // The edges that are accepted.
    for (const std::string args : {"-p g.svg --bootstrap 100 --fap-levels 0.01",
                                   "--peaks 1 --bootstrap 1 --seed 18446744073709551615",
                                   "-p g.svg --fap-levels 0.999999,1e-300"}) {
        const ProgramRun r = run(dir, grid + args + " datos.dat");
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    }
}

// Horizontal polylines of the SVG file (as xmllint lists their points) at
// plot-unit height y, and the length they cover.
struct Level {
    int pieces = 0;
    double covered = 0, left = 1e9, right = -1e9;
};

Level horizontal_at(const std::string& svg, double y) {
    std::string listing;
    EXPECT_EQ(
        test_common::run_command(
            "xmllint --xpath '//*[local-name()=\"polyline\"]/@points' '" + svg + "'", listing),
        0)
        << listing;
    Level level;
    std::size_t at = 0;
    while ((at = listing.find("points=\"", at)) != std::string::npos) {
        at += 8;
        const std::string points = listing.substr(at, listing.find('"', at) - at);
        std::vector<std::pair<double, double>> xy;
        std::istringstream in(points);
        for (std::string pair; in >> pair;) {
            const std::size_t comma = pair.find(',');
            xy.emplace_back(std::stod(pair.substr(0, comma)), std::stod(pair.substr(comma + 1)));
        }
        if (xy.size() != 2 || xy[0].second != xy[1].second) continue;
        if (std::fabs(xy[0].second - y) > 2.0) continue; // plot units are whole
        ++level.pieces;
        level.covered += std::fabs(xy[1].first - xy[0].first);
        level.left = std::min({level.left, xy[0].first, xy[1].first});
        level.right = std::max({level.right, xy[0].first, xy[1].first});
    }
    return level;
}

// With --ylim 0:0.02 the axis runs from plot unit 1800 (rho 0) up to 300
// (rho 0.02), and the x axis from 450 to 2650.
double y_of(double rho) {
    return 1800.0 - rho / 0.02 * 1500.0;
}

TEST(FapLevels, DashedLinesAtTheAnalyticAndBootstrapLevelsInTheSvgFile) {
    ScratchDir dir;
    const Pairs s = noise_on_example_times(dir, "noise.dat");
    const std::string base = "-q -o t.dat --from 0.01 --to 2 --steps 2000 --ylim 0:0.02 ";
    ProgramRun r = run(dir, base + "--fap-levels 0.01,0.001 -p g.svg noise.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = (dir.path() / "g.svg").string();
    std::string log;
    ASSERT_EQ(test_common::run_command("xmllint --noout '" + svg + "'", log), 0) << log;

    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const FrequencyGrid grid{0.01, 2.0, 2000, engine.line_width()};
    const FapBasis basis = fap_basis(s.t, {}, Window::hanning);
    for (const double p : {0.01, 0.001}) {
        const double rho = false_alarm_level(p, 0.01, 2.0, basis);
        const Level line = horizontal_at(svg, y_of(rho));
        EXPECT_GT(line.pieces, 20) << p; // dashed
        EXPECT_GT(line.covered, 0.3 * 2200) << p;
        EXPECT_LT(line.covered, 0.8 * 2200) << p;
        EXPECT_LT(line.left, 480) << p;
        EXPECT_GT(line.right, 2620) << p;
    }
    // Nothing of the kind there without the option.
    r = run(dir, base + "-p h.svg noise.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(horizontal_at((dir.path() / "h.svg").string(),
                            y_of(false_alarm_level(0.01, 0.01, 2.0, basis)))
                  .pieces,
              0);

    // From the bootstrap: the resamples' level, not the analytic one.
    r = run(dir, base + "--bootstrap 200 --seed 3 --fap-levels 0.05 -p b.svg noise.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    BootstrapOptions o;
    o.resamples = 200;
    o.seed = 3;
    const double boot_rho = bootstrap(s.t, s.x, {}, Window::hanning, grid, o).level(0.05);
    const double analytic_rho = false_alarm_level(0.05, 0.01, 2.0, basis);
    ASSERT_GT(std::fabs(y_of(boot_rho) - y_of(analytic_rho)), 5.0);
    const std::string b = (dir.path() / "b.svg").string();
    EXPECT_GT(horizontal_at(b, y_of(boot_rho)).pieces, 20);
    EXPECT_EQ(horizontal_at(b, y_of(analytic_rho)).pieces, 0);
}

} // namespace
} // namespace fasogram
