// The look of the batch graphs: the strings the plotting library draws for
// the options of the command line (seen through its text hook while the
// batch runs in this process), the program's usage errors for them, and the
// files of every format rendered by outside readers.
#include "batch.hpp"
#include "batch_graph.hpp"
#include "cli.hpp"
#include "test_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/support.hpp"
#include "text/text.h"

namespace fasogram {
namespace {

namespace fs = std::filesystem;
using testing::PlotConsole;
using testing::ScratchDir;
using testing::WorkingDir;

struct Drawn {
    std::string text;
    int x = 0, y = 0;
};

// The strings drawn by a batch run of `args` (with -q and one PDF graph
// added) in `dir`, in the order they were drawn.
std::vector<Drawn> drawn_by(const ScratchDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> words{"fasogram", "-q", "-o", "table.dat", "-p", "graph.pdf"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    const CommandLine line = parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.action, CommandLine::Action::run) << line.error;
    std::vector<Drawn> seen;
    WorkingDir here(dir.path());
    PlotConsole console;
    plotix::detail::set_text_observer([&seen](std::string_view text, int x, int y) {
        seen.push_back({std::string(text), x, y});
    });
    const int status = run_batch(line.options);
    plotix::detail::set_text_observer({});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(dir.exists("graph.pdf"));
    return seen;
}

bool has(const std::vector<Drawn>& drawn, const std::string& text) {
    return std::any_of(drawn.begin(), drawn.end(), [&](const Drawn& d) { return d.text == text; });
}

std::optional<double> number(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
    return v;
}

// The numeric labels of the y axis (left of the frame, which starts at 450
// plot units) and of the x axis (below its bottom, at 1800).
std::vector<double> y_labels(const std::vector<Drawn>& drawn) {
    std::vector<double> out;
    for (const Drawn& d : drawn)
        if (auto v = number(d.text); v && d.x < 450 && d.y < 1800) out.push_back(*v);
    return out;
}
std::vector<double> x_labels(const std::vector<Drawn>& drawn) {
    std::vector<double> out;
    for (const Drawn& d : drawn)
        if (auto v = number(d.text); v && d.y > 1800) out.push_back(*v);
    return out;
}

// The largest rho of a table the run wrote.
double top_rho(const ScratchDir& dir) {
    std::istringstream in(dir.read("table.dat"));
    double top = 0.0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        double f = 0.0, rho = 0.0;
        if (fields >> f >> rho) top = std::max(top, rho);
    }
    return top;
}

// A weak sinusoid in noise: its highest rho is a few hundredths.
void write_weak_series(const ScratchDir& dir) {
    std::ostringstream out;
    unsigned state = 12345;
    for (int i = 0; i < 400; ++i) {
        state = state * 1103515245u + 12345u;
        const double noise = static_cast<double>((state >> 8) % 10000) / 10000.0 - 0.5;
        const double t = i * 0.731 + 0.3 * std::sin(i * 1.7);
        out << t << ' ' << 5.0 + 0.05 * std::sin(2 * M_PI * 0.21 * t) + noise << '\n';
    }
    dir.write("weak.dat", out.str());
}

constexpr const char* example_grid[] = {"--from", "0.2", "--to", "2", "--steps", "3000"};

std::vector<std::string> with_grid(std::vector<std::string> args) {
    args.insert(args.begin(), std::begin(example_grid), std::end(example_grid));
    return args;
}

TEST(BatchGraphText, AxisNamesSayWhatIsDrawnAndInWhichUnits) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");

    const auto plain = drawn_by(dir, with_grid({"datos.dat"}));
    EXPECT_TRUE(has(plain, "frequency (cycles per unit of time)"));
    EXPECT_TRUE(has(plain, "fraction of variance explained (rho)"));
    // Nothing of the dialogue's graph: no scaled axis, no acronym, no stamp,
    // no title.
    for (const Drawn& d : plain) {
        EXPECT_EQ(d.text.find("frecuencia"), std::string::npos) << d.text;
        EXPECT_NE(d.text, "CCE");
        EXPECT_EQ(d.text.find("fasogram"), std::string::npos) << d.text;
        EXPECT_EQ(d.text.find("Periodograma"), std::string::npos) << d.text;
    }
    // The frequency labels in plain units: within the grid's 0.2 to 2.
    const std::vector<double> xs = x_labels(plain);
    ASSERT_GE(xs.size(), 3u);
    EXPECT_GE(*std::min_element(xs.begin(), xs.end()), 0.2);
    EXPECT_LE(*std::max_element(xs.begin(), xs.end()), 2.0);
    EXPECT_GE(*std::max_element(xs.begin(), xs.end()), 1.5);

    EXPECT_TRUE(has(drawn_by(dir, with_grid({"--time-unit", "d", "datos.dat"})),
                    "frequency (cycles per day)"));
    EXPECT_TRUE(has(drawn_by(dir, with_grid({"--time-unit", "h", "datos.dat"})),
                    "frequency (cycles per hour)"));
    EXPECT_TRUE(has(drawn_by(dir, with_grid({"--time-unit", "fortnight", "datos.dat"})),
                    "frequency (cycles per fortnight)"));

    // The period axis: from 1/2 to 1/0.2.
    const auto period =
        drawn_by(dir, with_grid({"--time-unit", "d", "--x", "period", "datos.dat"}));
    EXPECT_TRUE(has(period, "period (d)"));
    const std::vector<double> ps = x_labels(period);
    ASSERT_GE(ps.size(), 3u);
    EXPECT_GE(*std::min_element(ps.begin(), ps.end()), 0.5);
    EXPECT_LE(*std::max_element(ps.begin(), ps.end()), 5.0);
    EXPECT_GE(*std::max_element(ps.begin(), ps.end()), 4.0);
    EXPECT_TRUE(has(drawn_by(dir, with_grid({"--x", "period", "datos.dat"})), "period"));
}

TEST(BatchGraphText, TitleNamesAndStampAsAsked) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const auto drawn =
        drawn_by(dir, with_grid({"--title", "HD 1234, 2024 season", "--xlabel", "nu (1/d)",
                                 "--ylabel", "power", "--stamp", "datos.dat"}));
    EXPECT_TRUE(has(drawn, "HD 1234, 2024 season"));
    EXPECT_TRUE(has(drawn, "nu (1/d)"));
    EXPECT_TRUE(has(drawn, "power"));
    EXPECT_FALSE(has(drawn, "fraction of variance explained (rho)"));
    EXPECT_FALSE(has(drawn, "frequency (cycles per unit of time)"));
    EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(),
                            [](const Drawn& d) { return d.text.rfind("fasogram", 0) == 0; }));
}

TEST(BatchGraphText, YRangeFitsTheDataUnlessFixed) {
    ScratchDir dir;
    write_weak_series(dir);
    const auto fitted = drawn_by(dir, {"--from", "0.01", "--to", "0.6", "weak.dat"});
    const double top = top_rho(dir);
    ASSERT_GT(top, 0.0);
    ASSERT_LT(top, 0.2); // the series is what this test needs
    const std::vector<double> ys = y_labels(fitted);
    ASSERT_GE(ys.size(), 3u);
    const double highest = *std::max_element(ys.begin(), ys.end());
    EXPECT_GE(highest, top);
    EXPECT_LE(highest, 1.5 * top + 1e-9);
    EXPECT_EQ(*std::min_element(ys.begin(), ys.end()), 0.0);

    const std::vector<double> fixed =
        y_labels(drawn_by(dir, {"--from", "0.01", "--to", "0.6", "--ylim", "0:1", "weak.dat"}));
    ASSERT_FALSE(fixed.empty());
    EXPECT_EQ(*std::max_element(fixed.begin(), fixed.end()), 1.0);
    EXPECT_EQ(*std::min_element(fixed.begin(), fixed.end()), 0.0);

    const std::vector<double> band = y_labels(
        drawn_by(dir, {"--from", "0.01", "--to", "0.6", "--ylim", "0.25:0.5", "weak.dat"}));
    ASSERT_FALSE(band.empty());
    EXPECT_GE(*std::min_element(band.begin(), band.end()), 0.25);
    EXPECT_LE(*std::max_element(band.begin(), band.end()), 0.5);
}

TEST(BatchGraphText, MarkedPeaksCarryThePeriodsOfThePeakTable) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    // The program's own table of the three highest peaks.
    const std::string table = test_common::run_command(
        "cd '" + dir.path().string() + "' && '" + FASOGRAM_BINARY +
        "' -q -o t.dat --from 0.2 --to 2 --steps 3000 --peaks 3 datos.dat");
    std::vector<double> periods;
    std::istringstream in(table);
    std::string line;
    std::getline(in, line); // heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        double n = 0, f = 0, p = 0;
        if (fields >> n >> f >> p) periods.push_back(p);
    }
    ASSERT_EQ(periods.size(), 3u) << table;

    const auto drawn =
        drawn_by(dir, with_grid({"--time-unit", "d", "--mark-peaks", "2", "datos.dat"}));
    std::vector<std::string> marks;
    for (const Drawn& d : drawn)
        if (d.text.size() > 2 && d.text.ends_with(" d") &&
            number(d.text.substr(0, d.text.size() - 2)))
            marks.push_back(d.text);
    ASSERT_EQ(marks.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const double shown = *number(marks[k].substr(0, marks[k].size() - 2));
        EXPECT_NEAR(shown, periods[k], 5e-4 * periods[k]) << marks[k];
    }
    // Without a unit the period stands alone.
    const auto bare = drawn_by(dir, with_grid({"--mark-peaks", "1", "datos.dat"}));
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.4g", periods[0]);
    EXPECT_TRUE(has(bare, expected)) << expected;
}

struct Outcome {
    int status = -1;
    std::string err;
};

Outcome run_program(const ScratchDir& dir, const std::string& args) {
    const std::string command = "cd '" + dir.path().string() + "' && env -u DISPLAY '" +
                                FASOGRAM_BINARY + "' " + args + " >.stdout 2>.stderr";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read(".stderr")};
}

TEST(BatchGraphText, FapLevelsAreLabelledAboveTheirLinesAndRaiseTheYRange) {
    ScratchDir dir;
    write_weak_series(dir);
    const std::vector<std::string> grid(std::begin(example_grid), std::end(example_grid));
    std::vector<std::string> args = grid;
    args.insert(args.end(), {"--fap-levels", "0.01,0.001,0.25", "weak.dat"});
    const std::vector<Drawn> drawn = drawn_by(dir, args);
    // The labels, right-aligned at the end of the axis (2650), 48 plot
    // units above the level of their line.
    std::vector<Drawn> labels;
    for (const Drawn& d : drawn)
        if (d.text.starts_with("FAP ")) labels.push_back(d);
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[0].text, "FAP 1%");
    EXPECT_EQ(labels[1].text, "FAP 0.1%");
    EXPECT_EQ(labels[2].text, "FAP 25%");
    for (const Drawn& d : labels) {
        EXPECT_GT(d.x, 2300) << d.text;
        EXPECT_LT(d.x, 2650) << d.text;
    }
    // Lower probabilities lie higher (smaller y); the y axis reaches the
    // highest level even above the curve.
    EXPECT_LT(labels[1].y, labels[0].y);
    EXPECT_LT(labels[0].y, labels[2].y);
    const std::vector<double> ys = y_labels(drawn);
    ASSERT_FALSE(ys.empty());
    const double top_label = *std::max_element(ys.begin(), ys.end());
    std::vector<double> pairs_t, pairs_x;
    {
        std::istringstream in(dir.read("weak.dat"));
        for (double a, b; in >> a >> b;) {
            pairs_t.push_back(a);
            pairs_x.push_back(b);
        }
    }
    const double level =
        false_alarm_level(0.001, 0.2, 2.0, fap_basis(pairs_t, {}, Window::hanning));
    EXPECT_GT(level, top_rho(dir));
    EXPECT_GE(top_label + 0.1, level); // within a label step of the top
    // The label of the 0.1% line sits 48 plot units above where rho = level
    // is drawn: the y axis runs from 1800 (rho 0) up to 300 (its top label).
    const double y_level = 1800.0 - level / top_label * 1500.0;
    EXPECT_NEAR(labels[1].y + 48, y_level, 1.5);
}

TEST(BatchGraphText, LabelsOfCloseLevelsStandSideBySide) {
    // Far apart: both right-aligned at 1000.
    EXPECT_EQ(label_lefts({100, 300}, {200, 150}, 1000, 48), (std::vector<int>{800, 850}));
    // Exactly a label's height apart they do not meet; one unit closer they do,
    // and the lower one moves left of the upper one with a gap of 30.
    EXPECT_EQ(label_lefts({100, 148}, {200, 150}, 1000, 48), (std::vector<int>{800, 850}));
    EXPECT_EQ(label_lefts({100, 147}, {200, 150}, 1000, 48), (std::vector<int>{800, 620}));
    // The upper one keeps its place whatever the order given; three in a row
    // at one height go right to left from the top one in the order given.
    EXPECT_EQ(label_lefts({147, 100}, {150, 200}, 1000, 48), (std::vector<int>{620, 800}));
    EXPECT_EQ(label_lefts({50, 50, 50}, {100, 100, 100}, 1000, 48),
              (std::vector<int>{900, 770, 640}));
    // A label that clears the one beside it but would meet the one before
    // moves past both.
    EXPECT_EQ(label_lefts({100, 120, 140}, {100, 300, 100}, 1000, 48),
              (std::vector<int>{900, 570, 440}));
    EXPECT_TRUE(label_lefts({}, {}, 1000, 48).empty());

    // The example series' 1% and 0.1% levels lie a few plot units apart: the
    // second label is drawn left of the first, not over it.
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    std::vector<Drawn> labels;
    for (const Drawn& d : drawn_by(dir, {"--fap-levels", "0.01,0.001", "datos.dat"}))
        if (d.text.starts_with("FAP ")) labels.push_back(d);
    ASSERT_EQ(labels.size(), 2u);
    ASSERT_LT(std::abs(labels[0].y - labels[1].y), 48);
    // "FAP 0.1%" is higher on the page and keeps the right end; "FAP 1%" ends
    // at least the gap before it starts (its width, at 40 units high, is more
    // than 100).
    EXPECT_EQ(labels[1].text, "FAP 0.1%");
    EXPECT_LT(labels[0].x + 100 + 30, labels[1].x);
}

TEST(BatchGraphOptions, BadValuesAreUsageErrors) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const char* bad[] = {"--ylim 1:0",      "--ylim 0.5:0.5", "--ylim 0",       "--ylim a:1",
                         "--ylim 0:inf",    "--x time",       "--mark-peaks 0", "--mark-peaks 101",
                         "--mark-peaks 2x", "--mark-peaks -1"};
    for (const char* args : bad) {
        SCOPED_TRACE(args);
        const Outcome r = run_program(dir, std::string(args) + " -p g.pdf datos.dat");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("fasogram: error: --", 0), 0u) << r.err;
        EXPECT_FALSE(dir.exists("g.pdf"));
    }
    // The edges that are accepted.
    for (const char* args : {"--mark-peaks 1", "--mark-peaks 100", "--ylim -0.5:0.5"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(run_program(dir, std::string(args) +
                                       " -q -o t.dat --from 0.2 --to 2 --steps 500 -p g.pdf "
                                       "datos.dat")
                      .status,
                  0);
        EXPECT_TRUE(dir.exists("g.pdf"));
        fs::remove(dir.path() / "g.pdf");
    }
}

TEST(BatchGraphFiles, EveryFormatRendersWithItsCurveAndLabels) {
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const Outcome r = run_program(dir, "-q -o t.dat --from 0.2 --to 2 --steps 3000 --time-unit d "
                                       "--mark-peaks 3 --size 1200x850 -p g.pdf -p g.ps -p g.svg "
                                       "-p g.png datos.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string read_back = std::string(FASOGRAM_TEST_SOURCE) + "/read_back.py";
    for (const char* file : {"g.pdf", "g.ps", "g.svg", "g.png"}) {
        SCOPED_TRACE(file);
        const std::string mode = std::string(file) == "g.png" ? "image" : "render";
        const std::string text =
            test_common::run_command("/usr/bin/python3 '" + read_back + "' " + mode + " '" +
                                     (dir.path() / file).string() + "'");
        std::istringstream in(text);
        std::string line, key;
        long blue = -1, dark = -1;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            fields >> key;
            if (key == "blue") fields >> blue;
            if (key == "dark") fields >> dark;
        }
        EXPECT_GT(blue, 100) << text; // the curve
        EXPECT_GT(dark, 100) << text; // axes, labels and marks
    }
}

} // namespace
} // namespace fasogram
