// Batch runs: the built program with arguments, in a scratch directory, its
// files read back by outside programs (python's csv module, PIL, poppler,
// ghostscript, xmllint, rsvg-convert).
#include "series_fixture.hpp"
#include "spectrum_reference.hpp"
#include "test_support.hpp"

#include "common/support.hpp"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace fasogram {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const std::string read_back = std::string(FASOGRAM_TEST_SOURCE) + "/read_back.py";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// The environment of a run in the C locale, whatever the test's own: the
// messages in English.
const std::string english = "-u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=C ";

// Runs the program in `dir` with the arguments (a shell word list), the
// given standard input and no display (in the C locale unless `environment`
// says otherwise); standard output goes to `out`.
// `shell` is run by the same shell first (limits, signal dispositions).
Outcome run(const ScratchDir& dir, const std::string& args, const std::string& input = "",
            const std::string& environment = "", const std::string& out = ".stdout",
            const std::string& shell = "") {
    dir.write(".stdin", input);
    dir.write(".stdout", "");
    const std::string command = "cd '" + dir.path().string() + "' && " + shell +
                                " env -u DISPLAY " + english + environment + " '" +
                                FASOGRAM_BINARY + "' " + args + " <.stdin >" + out + " 2>.stderr";
    const int raw = std::system(command.c_str());
    Outcome result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = dir.read(".stdout");
    result.err = dir.read(".stderr");
    return result;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The files in `dir` apart from the run's own standard streams.
std::set<std::string> files_in(const ScratchDir& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name != ".stdin" && name != ".stdout" && name != ".stderr") names.insert(name);
    }
    return names;
}

void copy_example(const ScratchDir& dir, const std::string& name = "datos.dat") {
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / name);
}

constexpr const char* grid = "--from 0 --to 0.5 --steps 2000";

TEST(Batch, HelpAndVersion) {
    ScratchDir dir;
    Outcome r = run(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Usage: fasogram [OPTIONS] [SERIES]\n", 0), 0u) << r.out;
    for (const char* option :
         {"--window", "--errors", "--from", "--to", "--steps", "--oversample", "--table", "--plot",
          "--size", "--peaks", "--screen", "--threads", "--quiet", "--help", "--version"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_NE(r.out.find("Examples:\n  fasogram "), std::string::npos);
    EXPECT_NE(r.out.find(".pdf\n                         .ps .eps .svg .png .bmp .tif/.tiff"),
              std::string::npos);
    EXPECT_NE(r.out.find("default 3508x2480"), std::string::npos);
    EXPECT_EQ(run(dir, "-h").out, r.out);
    // --help ends the reading: what follows is not looked at.
    EXPECT_EQ(run(dir, "--help --bogus").status, 0);

    r = run(dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "fasogram version 22/04/03\nplotting library plotix 8.0\n");
    EXPECT_EQ(run(dir, "-V").out, r.out);
    EXPECT_TRUE(files_in(dir).empty());
}

TEST(Batch, UsageErrorsExitWithTwoBeforeAnyWork) {
    ScratchDir dir;
    copy_example(dir);
    const std::string hint = "Try 'fasogram --help' for more information.\n";
    // The usage errors that a user meets first; the parser's own test
    // pins the rest.
    const std::pair<std::string, std::string> cases[] = {
        {"--bogus", "unknown or ambiguous option: '--bogus'"},
        {"--from", "the option '--from' lacks its value"},
        {"--oversample 0", "--oversample: expected a number of points per line width"},
        {"--steps 5 --oversample 4", "--oversample and --steps exclude each other"},
        {"--from 0.5 --to 0.5 --steps 5",
         "--to must be greater than --from (--from 0.5, --to 0.5)"},
        {"--from 0 --to 1 --steps 0", "--steps: expected a whole number of steps greater than 0"},
        {"--from 0 --to 1 --steps 5 --size 15x600", "--size: expected WIDTHxHEIGHT"},
        {"--from 0 --to 1 --steps 5 -w hamming",
         "-w/--window: expected hanning (h) or square (cuadrada, c)"},
        {"--from 0 --to 1 --steps 5 a.dat b.dat", "one argument too many: 'b.dat'"},
    };
    for (const auto& [args, message] : cases) {
        // Every option before and after the faulty one is a valid request for
        // work: nothing may be written.
        const Outcome r = run(dir, "-p g.pdf " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        const std::string head = "fasogram: error: " + message;
        EXPECT_EQ(r.err.substr(0, head.size()), head) << args << "\n" << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), hint.size())), hint) << args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << args;
    }
    EXPECT_EQ(files_in(dir), std::set<std::string>{"datos.dat"});
}

// A small series with comments, blank lines, a header and an underflowing
// value; the signal has period 4.
std::string commented_series() {
    std::string text = "% exported by hand\n\n# second comment\nJD\tmag\n";
    for (int i = 0; i < 60; ++i) {
        const double t = 0.5 * i + 0.13 * (i % 3);
        char line[80];
        std::snprintf(line, sizeof line, "%.4f %.6f\n", t, 3.0 + std::cos(0.5 * M_PI * t));
        text += line;
        if (i == 20) text += "   # a comment in the middle\n";
    }
    return text + "31.0 1e-400\n";
}

TEST(Batch, SeriesFromAFileOrStandardInputWithCommentsAndAHeader) {
    ScratchDir dir;
    dir.write("serie.txt", commented_series());
    const std::string args = "-w c --from 0.2 --to 0.3 --steps 4 ";

    // Nothing else asked for: the table goes to standard output.
    const Outcome file = run(dir, args + "serie.txt");
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(files_in(dir), std::set<std::string>{"serie.txt"});
    EXPECT_EQ(file.err, "fasogram: serie.txt, line 4: header ignored: 'JD\tmag'\n"
                        "fasogram: 61 (time, value) pairs in serie.txt\n"
                        "fasogram: square window; width of each spectral line =  "
                        "0.0322580645\n"
                        "fasogram: the grid step (0.025) exceeds half the line width "
                        "(0.0161290323): a peak can fall between two frequencies; sampling "
                        "them all takes 7 steps: --from 0.2 --to 0.3 --steps 7\n"
                        "fasogram: spectrum of 5 frequencies in the standard output\n");
    const std::string table = file.out;
    const std::vector<std::string> rows = lines_of(table);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].substr(0, 15), "  2.0000000E-01");
    EXPECT_EQ(rows[4].substr(0, 15), "  3.0000000E-01");

    // The same series on standard input, the table on standard output: the
    // same numbers, only the data on standard output, nothing with -q on
    // standard error.
    const Outcome piped = run(dir, args + "-o - -q -", commented_series());
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out, table);

    // Options after the series, "--" before a name that starts with '-'.
    dir.write("-odd.dat", commented_series());
    const Outcome odd = run(dir, "-q -o odd.tab -- -odd.dat " + args);
    EXPECT_EQ(odd.status, 2); // after "--" the grid options are file names
    const Outcome odd2 = run(dir, args + "-q -o odd.tab -- -odd.dat");
    ASSERT_EQ(odd2.status, 0) << odd2.err;
    EXPECT_EQ(dir.read("odd.tab"), table);
}

TEST(Batch, EveryPairIsReadBeyondTheDialoguesLimit) {
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 25000; ++i)
        text += std::to_string(i) + " " + std::to_string(i % 5 == 0 ? 1 : 0) + "\n";
    dir.write("long.dat", text);
    const Outcome r = run(dir, "--from 0.19 --to 0.21 --steps 2 --peaks 1 -o long.csv long.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("fasogram: 25000 (time, value) pairs in long.dat\n"), std::string::npos);
    // The Hanning line width 2/D shows D = 24999, the last time read.
    EXPECT_NE(r.err.find("width of each spectral line =  8.00032001E-05"), std::string::npos)
        << r.err;
}

TEST(Batch, CsvTableReadBackByPythonWithFullPrecision) {
    ScratchDir dir;
    copy_example(dir);
    const Outcome r = run(dir, "-q -w h --from 0.001 --to 0.5 --steps 3000 -o espectro.CSV");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report =
        test_common::run_command("/usr/bin/python3 '" + read_back + "' csv '" +
                                 (dir.path() / "espectro.CSV").string() + "' 0.001 0.5 3000");
    EXPECT_EQ(report, "rows 3001\n");

    // Every digit is the exact fit's: rho, C1, C2 and C3 against the
    // quadruple-precision reference, within half a unit of the seventeenth
    // digit (a value within 1e-25 of a rounding boundary may round either
    // way).  The first rows are the ill-conditioned fits next to f = 0.
    const std::vector<std::string> csv = lines_of(dir.read("espectro.CSV"));
    ASSERT_EQ(csv.size(), 3002u);
    const testing::Series series = testing::example_series();
    const reference::Reference exact(series.t, series.x, true);
    int compared = 0;
    for (std::size_t row = 1; row < csv.size(); row += (row < 40 ? 1 : 97)) {
        std::istringstream values(csv[row]);
        std::vector<std::string> field;
        for (std::string v; std::getline(values, v, ',');) field.push_back(v);
        ASSERT_EQ(field.size(), 5u) << csv[row];
        const reference::Point want = exact.fit(std::stod(field[0]));
        const reference::quad wants[4] = {want.rho, want.c1, want.c2, want.c3};
        for (int k = 0; k < 4; ++k) {
            const std::string& text = field[static_cast<std::size_t>(k) + 1];
            ASSERT_EQ(text.size() - (text[0] == '-' ? 1 : 0), 22u) << text;
            const reference::quad got = strtoflt128(text.c_str(), nullptr);
            const reference::quad w = wants[k];
            const int e10 = static_cast<int>(floorq(log10q(fabsq(w))));
            const reference::quad half_unit = 0.5Q * powq(10.0Q, e10 - 16);
            EXPECT_LE(fabsq(got - w), half_unit + 1e-25Q * fabsq(w))
                << "row " << row << " field " << k + 1 << ": " << text << " exact "
                << reference::to_string(w);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 4 * (39 + 31));

    // The same file whatever the number of threads.
    ASSERT_EQ(run(dir, "-q -j 1 -w h --from 0.001 --to 0.5 --steps 3000 -o uno.csv").status, 0);
    EXPECT_EQ(dir.read("uno.csv"), dir.read("espectro.CSV"));
}

TEST(Batch, PeakTableOfTheExampleSeries) {
    ScratchDir dir;
    copy_example(dir);
    const Outcome r = run(dir, "-q --from 0 --to 0.5 --steps 5000 --peaks 5 -o spectrum.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0], "  n        frequency           period       rho       amplitude"
                        " phase (cycles)               C1         fap");
    struct Row {
        double f, period, rho, amplitude, phase, c1, fap;
    };
    std::vector<Row> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), lines[0].size()) << lines[i]; // aligned columns
        std::istringstream in(lines[i]);
        int n = 0;
        Row row{};
        in >> n >> row.f >> row.period >> row.rho >> row.amplitude >> row.phase >> row.c1 >>
            row.fap;
        ASSERT_TRUE(in) << lines[i];
        EXPECT_EQ(n, static_cast<int>(i));
        EXPECT_NEAR(row.period, 1.0 / row.f, 1e-9 * row.period);
        EXPECT_GE(row.phase, 0.0);
        EXPECT_LT(row.phase, 1.0);
        EXPECT_NEAR(row.c1, 12.5, 0.01);
        // Ranked by rho, so the probabilities never fall down the table.
        EXPECT_GE(row.fap, 0.0);
        EXPECT_LE(row.fap, 1.0);
        if (!rows.empty()) {
            EXPECT_GE(row.fap, rows.back().fap);
        }
        rows.push_back(row);
    }
    // The 2.7-day signal first, its yearly alias (1/365.25 cycles a day
    // away) next to it, the 37-day signal, the other alias of the 2.7-day
    // signal and an alias of the 37-day one: ranked by rho.
    EXPECT_NEAR(rows[0].f, 0.3704, 5e-5);
    EXPECT_NEAR(rows[0].period, 2.700, 5e-4);
    EXPECT_LT(rows[0].fap, 1e-10); // the 2.7-day signal is no accident
    EXPECT_NEAR(rows[0].amplitude, 0.29, 0.02);
    EXPECT_NEAR(rows[1].f, rows[0].f - 1 / 365.25, 2e-4);
    EXPECT_NEAR(rows[2].period, 37.0, 0.1);
    EXPECT_NEAR(rows[2].amplitude, 0.13, 0.02);
    EXPECT_NEAR(rows[3].f, rows[0].f + 1 / 365.25, 2e-4);
    EXPECT_NEAR(rows[4].f, rows[2].f - 1 / 365.25, 2e-4);
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i - 1].rho, rows[i].rho);

    // Each peak is at least as high as the highest grid point around it,
    // read from the full-precision table.
    std::vector<std::pair<double, double>> table;
    for (const std::string& line : lines_of(dir.read("spectrum.csv"))) {
        if (line[0] == 'f') continue;
        const std::size_t comma = line.find(',');
        table.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
    }
    ASSERT_EQ(table.size(), 5000u); // 0 is skipped
    for (const Row& row : rows) {
        double best = 0.0;
        for (const auto& [f, rho] : table) {
            if (std::fabs(f - row.f) <= 1e-4 * 1.0001) best = std::max(best, rho);
        }
        EXPECT_GE(row.rho, best * (1 - 1e-6)) << row.f;
        EXPECT_LT(row.rho, best + 0.01) << row.f;
    }
}

TEST(Batch, SameResultsUnderACommaDecimalLocale) {
    ScratchDir dir;
    copy_example(dir);
    const std::string args = "-q --from 0.3 --to 0.4 --steps 500 --peaks 3 -o t.csv";
    const Outcome plain = run(dir, args, "", "LC_ALL=C");
    const std::string table = dir.read("t.csv");
    const Outcome german = run(dir, args, "", "LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(german.status, 0) << german.err;
    EXPECT_EQ(german.out, plain.out);
    EXPECT_EQ(dir.read("t.csv"), table);
    EXPECT_NE(plain.out.find(" 0.37"), std::string::npos);
}

TEST(Batch, PhasesBeyondTheEnginesRangeAreAnErrorNotACrash) {
    ScratchDir dir;
    dir.write("two.dat", "1 1\n2 2\n");
    dir.write("far.dat", "1 1\n1e308 2\n3 1\n");
    copy_example(dir);
    const std::string phases = "frequencies too high for the times of the series";
    const struct {
        std::string args, file;
    } cases[] = {
        {"-w c --from 0 --to 1e308 --steps 1 -o - two.dat", "two.dat"},
        {"-w c --from 0 --to 1 --steps 1 -o - far.dat", "far.dat"},
        {"--from 0 --to 1e303 --steps 10 -o t.dat", "datos.dat"},
        {"--from -1e303 --to 0.5 --steps 10 -o t.dat", "datos.dat"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(dir, "-q " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, "fasogram: error: --from/--to/--steps with " + c.file + ": " + phases +
                             " (|t*f| must be below 2^1000)\n")
            << c.args;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_FALSE(dir.exists("t.dat"));
    // Just inside the range the run goes through: the example's latest time
    // is below 2451545 + 4000, so 1e294 keeps |t*f| under 2^1000.
    const Outcome inside = run(dir, "-q --from 1e294 --to 2e294 --steps 2 -o -");
    EXPECT_EQ(inside.status, 0) << inside.err;
    EXPECT_EQ(lines_of(inside.out).size(), 3u);
}

TEST(Batch, FailuresNameTheFileAndExitWithOne) {
    ScratchDir dir;
    dir.write("bad.dat", "1 2\n3 4\n5 x7\n");
    dir.write("flat.dat", "1 2\n2 2\n3 2\n");
    struct Case {
        std::string args;
        std::string error;
    };
    const Case cases[] = {
        {"missing.dat", "cannot open the file missing.dat: No such file or directory"},
        {"no_dir_here/x.dat", "cannot open the file no_dir_here/x.dat: No such file or "
                              "directory"},
        {"bad.dat", "bad.dat, line 3: malformed number: 'x7'"},
        {"flat.dat", "flat.dat: the series does not vary under this window"},
        {"-o /dev/full", "cannot write the file /dev/full: No space left on device"},
        {"-o no/such/t.csv", "cannot create the file no/such/t.csv: No such file or "
                             "directory"},
        {"-o .", "cannot create the file .: Is a directory"},
        {"-p no/such/g.png", "cannot create the file no/such/g.png: No such file or "
                             "directory"},
        {"--screen", "--screen: there is no display"},
    };
    copy_example(dir);
    for (const Case& c : cases) {
        const Outcome r = run(dir, std::string(grid) + " -q " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err.rfind("fasogram: error: " + c.error, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // A full standard output is a failure as well.
    const Outcome full = run(dir, std::string(grid) + " -q -o -", "", "", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err,
              "fasogram: error: cannot write to standard output: No space left on device\n");
    // Nothing half-written is left behind, and no output of a run that
    // failed (the table of the run whose graph could not be made).
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"bad.dat", "datos.dat", "flat.dat"}));
}

// What read_back.py tells of a graph: a raster image read as it is, a
// vector page rendered.
struct GraphFacts {
    std::string size; // "WIDTH HEIGHT" of the image or the rendered page
    int width = 0, height = 0;
    double white = 0;    // share of white pixels
    long blue = 0;       // pixels of the curve's blue
    long dark = 0;       // dark pixels (axes, labels)
    std::string corner;  // "R G B" near the upper right corner
    double ink[4] = {};  // the box around everything drawn, as fractions
    std::string problem; // empty when read_back.py gave every line
};

GraphFacts read_graph(const fs::path& file, bool render = false) {
    const std::string text =
        test_common::run_command("/usr/bin/python3 '" + read_back + "' " +
                                 (render ? "render '" : "image '") + file.string() + "'");
    const std::vector<std::string> lines = lines_of(text);
    GraphFacts f;
    if (lines.size() != 6 || lines[5].rfind("ink ", 0) != 0) {
        f.problem = text;
        return f;
    }
    f.size = lines[0];
    std::istringstream(lines[0]) >> f.width >> f.height;
    f.white = std::stod(lines[1].substr(6));
    f.blue = std::stol(lines[2].substr(5));
    f.dark = std::stol(lines[3].substr(5));
    f.corner = lines[4].substr(11);
    std::istringstream(lines[5].substr(4)) >> f.ink[0] >> f.ink[1] >> f.ink[2] >> f.ink[3];
    return f;
}

TEST(Batch, OutputsFollowLinksAndCrossFileSystems) {
    ScratchDir dir;
    copy_example(dir);
    dir.write("real.csv", "old\n");
    fs::create_symlink("real.csv", dir.path() / "link.csv");
    // The graph is written in the temporary directory and copied over when
    // that lies on another file system (/dev/shm is a memory file system).
    std::string tmpdir;
    struct stat shm {};
    struct stat here {};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(dir.path().c_str(), &here) == 0 &&
        S_ISDIR(shm.st_mode) && shm.st_dev != here.st_dev)
        tmpdir = "TMPDIR=/dev/shm";
    const Outcome r = run(dir, std::string(grid) + " -q -o link.csv -p graph.png", "", tmpdir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.csv"));
    EXPECT_EQ(dir.read("real.csv").substr(0, 23), "frequency,rho,C1,C2,C3\n");
    EXPECT_EQ(read_graph(dir.path() / "graph.png").size, "3508 2480") << tmpdir;
    EXPECT_EQ(files_in(dir),
              (std::set<std::string>{"datos.dat", "real.csv", "link.csv", "graph.png"}));
}

// The page of every format, rendered or read by an outside program: a
// white page with the dark axes and labels and the blue curve, upright;
// raster images at A4 landscape and 300 dots per inch.
TEST(Batch, GraphsInEveryFormatReadByOutsidePrograms) {
    ScratchDir dir;
    copy_example(dir);
    dir.write("g.pdf", "an older file that is replaced\n");
    const std::string long_dir(70, 'd');
    fs::create_directory(dir.path() / long_dir);
    const std::string long_name = long_dir + "/a-graph-name-long-enough-to-pass-eighty-chars.png";
    const Outcome r = run(dir, std::string(grid) +
                                   " -q -p g.pdf -p g.ps --plot=g.eps -p g.svg -p g.png -p g.bmp "
                                   "-p g.tif -p G.TIFF -p " +
                                   long_name);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(files_in(dir),
              (std::set<std::string>{"datos.dat", "g.pdf", "g.ps", "g.eps", "g.svg", "g.png",
                                     "g.bmp", "g.tif", "G.TIFF", long_dir}));

    // Raster images, read by PIL: 297 x 210 mm at 300 dots per inch.
    for (const std::string name : {"g.png", "g.bmp", "g.tif", "G.TIFF", long_name.c_str()}) {
        const GraphFacts f = read_graph(dir.path() / name);
        ASSERT_EQ(f.problem, "") << name;
        EXPECT_EQ(f.size, "3508 2480") << name;
        EXPECT_GT(f.white, 0.9) << name;
        EXPECT_GT(f.blue, 5000) << name;
        EXPECT_GT(f.dark, 50000) << name;
        EXPECT_EQ(f.corner, "255 255 255") << name;
    }

    // The SVG file is well-formed XML.
    std::string log;
    EXPECT_EQ(
        test_common::run_command("xmllint --noout '" + (dir.path() / "g.svg").string() + "'", log),
        0)
        << log;
    // PDF: one page, turned to be shown upright.
    ASSERT_EQ(test_common::run_command("pdfinfo '" + (dir.path() / "g.pdf").string() + "'", log), 0)
        << log;
    EXPECT_NE(log.find("\nPages:           1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nPage rot:        90\n"), std::string::npos) << log;

    // The vector pages as viewers show them (pdftoppm, ghostscript,
    // rsvg-convert at 50 pixels per inch): an A4 landscape page, give or
    // take the margins, white, with the curve and dark text.
    for (const char* name : {"g.pdf", "g.ps", "g.eps", "g.svg"}) {
        const GraphFacts f = read_graph(dir.path() / name, true);
        ASSERT_EQ(f.problem, "") << name;
        EXPECT_GT(f.width, f.height) << name << " " << f.size;
        EXPECT_NEAR(static_cast<double>(f.width) / f.height, 297.0 / 210.0, 0.03)
            << name << " " << f.size;
        EXPECT_GT(f.white, 0.9) << name;
        EXPECT_EQ(f.corner, "255 255 255") << name;
        EXPECT_GT(f.blue, 100) << name;
        EXPECT_GT(f.dark, 2000) << name;
    }
}

// --size: the image has exactly the pixels asked for, and the page fills it
// as far as its shape allows (2969 x 2099 plot units, drawn to the edges by
// the page's border), whatever the shape of the image.
TEST(Batch, RasterGraphsAtTheRequestedSize) {
    ScratchDir dir;
    copy_example(dir);
    constexpr double page_shape = 2099.0 / 2969.0; // height over width
    const struct {
        const char* size;
        const char* file;
        int width, height;
    } cases[] = {
        {"1600x1131", "a4.png", 1600, 1131}, // the page's own shape
        {"1000x1000", "square.bmp", 1000, 1000},
        {"3000X700", "wide.tif", 3000, 700},
        {"16x16", "least.png", 16, 16}, // the smallest size taken
    };
    for (const auto& c : cases) {
        const Outcome r =
            run(dir, std::string(grid) + " -q -o - --size " + c.size + " -p " + c.file);
        ASSERT_EQ(r.status, 0) << c.size << r.err;
        const GraphFacts f = read_graph(dir.path() / c.file);
        ASSERT_EQ(f.problem, "") << c.file;
        EXPECT_EQ(f.width, c.width) << c.file;
        EXPECT_EQ(f.height, c.height) << c.file;
        if (c.width < 100) continue; // too small for anything but its size
        EXPECT_EQ(f.corner, "255 255 255") << c.file;
        EXPECT_GT(f.dark, c.width) << c.file;
        EXPECT_GT(f.blue, c.width / 10) << c.file;
        // The page, anchored at the upper left corner, as large as it fits.
        const double fit = std::min(1.0, c.height / (c.width * page_shape));
        const double tol = 2.0 / std::min(c.width, c.height);
        EXPECT_NEAR(f.ink[0], 0.0, tol) << c.file;
        EXPECT_NEAR(f.ink[1], 0.0, tol) << c.file;
        EXPECT_NEAR(f.ink[2], fit, tol) << c.file;
        EXPECT_NEAR(f.ink[3], fit * c.width * page_shape / c.height, tol) << c.file;
    }
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"datos.dat", "a4.png", "square.bmp", "wide.tif",
                                                    "least.png"}));
}

// A graph the system does not let the program write (here a file size
// limit, which the program turns into an ordinary write error): one error
// line naming the file and the reason, status 1, and no output of the run
// replaces anything: neither the graph drawn before it nor the one that
// failed; later ones are not drawn; nothing is left beside the targets nor
// in the temporary directory.
TEST(Batch, AGraphThatCannotBeWrittenStopsTheRun) {
    ScratchDir dir;
    copy_example(dir);
    dir.write("g.svg", "old\n");
    fs::create_directory(dir.path() / "tmp");
    const Outcome r = run(
        dir, std::string(grid) + " -o /dev/null --size 64x64 -p small.png -p g.svg -p after.pdf",
        "", "TMPDIR=tmp", ".stdout", "ulimit -f 40 &&");
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> err = lines_of(r.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), "fasogram: error: cannot write the graph g.svg: File too large") << r.err;
    EXPECT_EQ(std::count(err.begin(), err.end(),
                         "fasogram: error: cannot write the graph g.svg: File too large"),
              1);
    EXPECT_EQ(r.err.find("fasogram: grafico en"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("g.svg"), "old\n");
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"datos.dat", "g.svg", "tmp"}));
    EXPECT_TRUE(fs::is_empty(dir.path() / "tmp"));
}

// The rows of a peak table: frequency, rho.
std::vector<std::pair<double, double>> peak_rows(const std::string& out) {
    std::vector<std::pair<double, double>> rows;
    for (const std::string& line : lines_of(out)) {
        std::istringstream in(line);
        int n = 0;
        double f = 0, period = 0, rho = 0;
        if (in >> n >> f >> period >> rho) rows.emplace_back(f, rho);
    }
    return rows;
}

// The notes of a run that start with `head`.
std::vector<std::string> notes_with(const std::string& err, const std::string& head) {
    std::vector<std::string> found;
    for (const std::string& line : lines_of(err))
        if (line.rfind("fasogram: " + head, 0) == 0) found.push_back(line);
    return found;
}

// 60 points of a clean sinusoid with errors of 0.01, and one point 1 mag
// off with an error of 1 mag.
constexpr double kSignal = 0.137;
std::string series_with_errors(const char* separator = " ") {
    std::string text;
    for (int i = 0; i < 61; ++i) {
        const double t = 1.3 * i + 0.37 * ((i * 7) % 5);
        const double x = 15.0 + 0.4 * std::cos(2 * M_PI * kSignal * t + 0.3) + (i == 23 ? 1.0 : 0);
        char line[120];
        std::snprintf(line, sizeof line, "%.6f%s%.9f%s%s\n", t, separator, x, separator,
                      i == 23 ? "1.0" : "0.01");
        text += line;
    }
    return text;
}

TEST(Batch, TheErrorsColumnWeighsEachPoint) {
    ScratchDir dir;
    dir.write("s.dat", series_with_errors());
    const Outcome weighted = run(dir, "-e -w c --peaks 1 -o w.csv s.dat");
    ASSERT_EQ(weighted.status, 0) << weighted.err;
    EXPECT_EQ(notes_with(weighted.err, "61 (time, value, error) triples in s.dat").size(), 1u)
        << weighted.err;
    EXPECT_TRUE(notes_with(weighted.err, "s.dat, line").empty()) << weighted.err;
    const Outcome plain = run(dir, "-w c --peaks 1 -o p.dat s.dat");
    ASSERT_EQ(plain.status, 0) << plain.err;
    // One note for the column that is not read, at its first line.
    EXPECT_EQ(notes_with(plain.err, "s.dat"),
              std::vector<std::string>{"fasogram: s.dat, line 1: the third column is not read; "
                                       "with -e/--errors it is the error of each value and each "
                                       "point weighs 1/error^2"});
    EXPECT_EQ(notes_with(plain.err, "61 (time, value) pairs in s.dat").size(), 1u);
    EXPECT_EQ(run(dir, "-q -w c --peaks 1 -o p.dat s.dat").err, "");

    // The poor point down-weighted leaves the peak where the signal is.
    const auto w = peak_rows(weighted.out), p = peak_rows(plain.out);
    ASSERT_EQ(w.size(), 1u);
    ASSERT_EQ(p.size(), 1u);
    const double line_width = 1.0 / (1.3 * 60 + 0.37 * ((60 * 7) % 5));
    EXPECT_NEAR(w[0].first, kSignal, 2e-3 * line_width);
    EXPECT_GT(w[0].second, 0.9995);
    EXPECT_LT(p[0].second, 0.9);

    // Every digit of the CSV table is the weighted fit's (the reference in
    // quadruple precision, the errors read as the program reads them):
    // within half a unit of the seventeenth digit.
    std::vector<double> t, x, sigma;
    std::istringstream in(dir.read("s.dat"));
    for (double a, b, c; in >> a >> b >> c;) {
        t.push_back(a);
        x.push_back(b);
        sigma.push_back(c);
    }
    ASSERT_EQ(t.size(), 61u);
    const reference::Reference exact(t, x, sigma, false);
    const std::vector<std::string> rows = lines_of(dir.read("w.csv"));
    ASSERT_GT(rows.size(), 100u);
    int compared = 0;
    for (std::size_t r = 1; r < rows.size(); r += 7) {
        std::istringstream values(rows[r]);
        std::vector<std::string> field;
        for (std::string v; std::getline(values, v, ',');) field.push_back(v);
        ASSERT_EQ(field.size(), 5u) << rows[r];
        const reference::Point want = exact.fit(std::stod(field[0]));
        const reference::quad wants[4] = {want.rho, want.c1, want.c2, want.c3};
        for (int k = 0; k < 4; ++k, ++compared) {
            const reference::quad got =
                strtoflt128(field[static_cast<std::size_t>(k) + 1].c_str(), nullptr);
            const int e10 = static_cast<int>(floorq(log10q(fabsq(wants[k]))));
            EXPECT_LE(fabsq(got - wants[k]),
                      0.5Q * powq(10.0Q, e10 - 16) + 1e-25Q * fabsq(wants[k]))
                << rows[r] << " field " << k + 1 << " exact " << reference::to_string(wants[k]);
        }
    }
    EXPECT_GT(compared, 60);

    // Commas as separators, and the same numbers.
    dir.write("s.csv", series_with_errors(","));
    ASSERT_EQ(run(dir, "-q -e -w c -o c.csv s.csv").status, 0);
    EXPECT_EQ(dir.read("c.csv"), dir.read("w.csv"));
}

TEST(Batch, BadErrorsAndEmptyFieldsStopTheRunAtTheirLine) {
    ScratchDir dir;
    dir.write("zero.dat", "1 2 0.1\n2 3 0.1\n3 1 0\n4 5 0.1\n");
    dir.write("short.dat", "1 2 0.1\n2 3\n");
    dir.write("hole.csv", "2458000.1,12.1,0.02\n2458000.2,,0.02\n2458000.3,12.3,0.02\n");
    const std::pair<std::string, std::string> cases[] = {
        {"-e zero.dat", "zero.dat, line 3: the error must be a number greater than 0: '0'"},
        {"-e short.dat",
         "short.dat, line 2: three numbers (time, value and error) are expected and there are 2"},
        {"-e hole.csv", "hole.csv, line 2: empty field in column 2"},
        {"hole.csv", "hole.csv, line 2: empty field in column 2"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome r = run(dir, "-q -o t.dat " + args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err.rfind("fasogram: error: " + message, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(dir.exists("t.dat"));
}

TEST(Batch, TheGridIsChosenFromTheSamplingWhenLeftOut) {
    ScratchDir dir;
    copy_example(dir);
    const Outcome r = run(dir, "--peaks 5 -o s.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> grid_note = notes_with(r.err, "automatic grid: from ");
    ASSERT_EQ(grid_note.size(), 1u) << r.err;
    EXPECT_TRUE(notes_with(r.err, "the grid step").empty());
    // Read back: the first frequency and the step are a tenth of the line
    // width, the last one is below 1/(2 s), s the median spacing of the
    // distinct times, and within a step of it.
    double f_ini = 0, f_fin = 0, step = 0;
    long long steps = 0;
    ASSERT_EQ(std::sscanf(grid_note[0].c_str(),
                          "fasogram: automatic grid: from %lf to %lf in %lld steps of %lf", &f_ini,
                          &f_fin, &steps, &step),
              4)
        << grid_note[0];
    const testing::Series s = testing::example_series();
    std::vector<double> times = s.t, gaps;
    std::sort(times.begin(), times.end());
    for (std::size_t i = 1; i < times.size(); ++i)
        if (times[i] > times[i - 1]) gaps.push_back(times[i] - times[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    const double median = gaps.size() % 2 ? gaps[gaps.size() / 2]
                                          : (gaps[gaps.size() / 2 - 1] + gaps[gaps.size() / 2]) / 2;
    const double line_width = 2.0 / (times.back() - times.front());
    EXPECT_NEAR(f_ini, line_width / 10, 1e-8 * f_ini);
    EXPECT_NEAR(step, line_width / 10, 1e-8 * step);
    EXPECT_LE(f_fin, 0.5 / median * (1 + 1e-9));
    EXPECT_GT(f_fin + step, 0.5 / median);
    EXPECT_EQ(lines_of(dir.read("s.dat")).size(), static_cast<std::size_t>(steps + 1));
    // The two signals of the series, the 2.7-day one first.
    const auto peaks = peak_rows(r.out);
    ASSERT_EQ(peaks.size(), 5u);
    EXPECT_NEAR(1 / peaks[0].first, 2.7, 1e-3);
    EXPECT_TRUE(std::any_of(peaks.begin(), peaks.end(),
                            [](const auto& p) { return std::fabs(1 / p.first - 37.0) < 0.2; }));

    // A coarser oversampling, and a given final frequency.
    const Outcome coarse = run(dir, "--oversample 2.5 -o c.dat");
    ASSERT_EQ(coarse.status, 0) << coarse.err;
    const std::vector<std::string> c = lines_of(dir.read("c.dat"));
    EXPECT_NEAR(std::stod(c[1].substr(0, 15)) - std::stod(c[0].substr(0, 15)), line_width / 2.5,
                1e-7 * line_width);
    const Outcome to = run(dir, "--to 0.5 -o t.dat");
    ASSERT_EQ(to.status, 0) << to.err;
    const std::vector<std::string> n = notes_with(to.err, "automatic grid: from ");
    ASSERT_EQ(n.size(), 1u);
    const long long wanted = static_cast<long long>(std::ceil((0.5 - f_ini) / f_ini));
    EXPECT_NE(n[0].find(" to 0.5 in " + std::to_string(wanted) + " steps"), std::string::npos)
        << n[0];
    EXPECT_EQ(n[0].find("spacing"), std::string::npos) << n[0];
}

// A table file only with -o: peaks, graphs or prewhitening alone write none;
// with none of them the table goes to standard output.
TEST(Batch, TheTableIsWrittenOnlyWhereAsked) {
    ScratchDir dir;
    copy_example(dir);
    const std::string g = std::string(grid) + " -q ";
    const Outcome peaks = run(dir, g + "--peaks 2");
    ASSERT_EQ(peaks.status, 0) << peaks.err;
    EXPECT_EQ(peak_rows(peaks.out).size(), 2u);
    const Outcome graph = run(dir, g + "-p g.svg");
    ASSERT_EQ(graph.status, 0) << graph.err;
    EXPECT_EQ(graph.out, "");
    const Outcome prewhiten = run(dir, g + "--prewhiten 1");
    ASSERT_EQ(prewhiten.status, 0) << prewhiten.err;
    EXPECT_NE(prewhiten.out, "");
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"datos.dat", "g.svg"}));

    // Neither: the 2000 lines on standard output (the frequency 0 is
    // skipped), no file.
    const Outcome plain = run(dir, g);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(lines_of(plain.out).size(), 2000u);
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"datos.dat", "g.svg"}));

    // With -o the file is written beside the peaks, and the same table.
    const Outcome both = run(dir, g + "--peaks 2 -o t.dat");
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out, peaks.out);
    EXPECT_EQ(dir.read("t.dat"), plain.out);
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"datos.dat", "g.svg", "t.dat"}));
}

// The plotting library's summary box names the file asked for, not the
// staging file it is written under; -q leaves the box out.
TEST(Batch, TheSummaryBoxNamesTheFileAskedFor) {
    ScratchDir dir;
    copy_example(dir);
    fs::create_directory(dir.path() / "out");
    const Outcome r = run(dir, std::string(grid) + " -p out/g.svg -p g.png");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(" <<  Metafile: out/g.svg "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" <<  Metafile: g.png "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".fasogram-"), std::string::npos) << r.err;
    const Outcome quiet = run(dir, std::string(grid) + " -q -p g.png");
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
}

// The messages follow LC_ALL, LC_MESSAGES, LANG and LANGUAGE: English in the
// C locale and in one the system does not know, Spanish in a Spanish one;
// the numbers keep their decimal point.
TEST(Batch, MessagesInTheLanguageOfTheLocale) {
    ScratchDir dir;
    copy_example(dir);
    const std::string spanish_locale = "es_ES.UTF-8";
    if (std::setlocale(LC_MESSAGES, spanish_locale.c_str()) == nullptr)
        GTEST_SKIP() << "the locale " << spanish_locale << " is not installed (tools/setup.sh)";
    std::setlocale(LC_MESSAGES, "C");
    const std::string usage = "--bogus";
    const std::string english_error = "fasogram: error: unknown or ambiguous option: '--bogus'\n"
                                      "Try 'fasogram --help' for more information.\n";
    const std::string spanish_error = "fasogram: error: opcion desconocida o ambigua: '--bogus'\n"
                                      "Pruebe 'fasogram --help' para mas informacion.\n";
    const struct {
        std::string environment;
        bool spanish;
    } cases[] = {
        {"LANG=C", false},
        {"LANG=" + spanish_locale, true},
        {"LANG=xx_YY.UTF-8", false}, // unknown: English
        {"LC_ALL=" + spanish_locale, true},
        {"LANG=" + spanish_locale + " LC_MESSAGES=C", false},
        {"LANG=C LC_MESSAGES=" + spanish_locale, true},
        {"LC_ALL=C LANG=" + spanish_locale, false},
        {"LANG=de_DE.UTF-8 LANGUAGE=es", true},
        {"LANG=" + spanish_locale + " FASOGRAM_LOCALEDIR=" + dir.path().string(), false},
    };
    for (const auto& c : cases) {
        const Outcome r = run(dir, usage, "", c.environment);
        EXPECT_EQ(r.status, 2) << c.environment;
        EXPECT_EQ(r.err, c.spanish ? spanish_error : english_error) << c.environment;
    }

    // A whole run: notes, the peak table's header and the missing file's
    // reason in the language; the numbers the same in both.
    const std::string args = "-w c --from 0.3 --to 0.4 --steps 100 --peaks 2 datos.dat";
    const Outcome en = run(dir, args);
    const Outcome es = run(dir, args, "", "LANG=" + spanish_locale);
    ASSERT_EQ(en.status, 0) << en.err;
    ASSERT_EQ(es.status, 0) << es.err;
    const std::vector<std::string> en_lines = lines_of(en.out), es_lines = lines_of(es.out);
    ASSERT_EQ(en_lines.size(), 3u);
    ASSERT_EQ(es_lines.size(), 3u);
    EXPECT_EQ(en_lines[0], "  n        frequency           period       rho       amplitude "
                           "phase (cycles)               C1         fap");
    EXPECT_EQ(es_lines[0], "  n       frecuencia          periodo       rho        amplitud  "
                           "fase (ciclos)               C1         fap");
    EXPECT_EQ(en_lines[0].size(), es_lines[0].size());
    EXPECT_EQ(en_lines[1], es_lines[1]);
    EXPECT_EQ(en_lines[2], es_lines[2]);
    EXPECT_NE(en.err.find("fasogram: 2983 (time, value) pairs in datos.dat\n"
                          "fasogram: square window; width of each spectral line ="),
              std::string::npos)
        << en.err;
    EXPECT_NE(es.err.find("fasogram: 2983 pares (tiempo, valor) en datos.dat\n"
                          "fasogram: ventana cuadrada; ancho de cada linea espectral ="),
              std::string::npos)
        << es.err;
    const Outcome missing = run(dir, "-q none.dat", "", "LANG=" + spanish_locale);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("fasogram: error: no se puede abrir el archivo none.dat: ", 0), 0u)
        << missing.err;
    EXPECT_EQ(run(dir, "-q none.dat").err,
              "fasogram: error: cannot open the file none.dat: No such file or directory\n");

    // The help in both languages; the CSV header is the same in every one.
    EXPECT_EQ(run(dir, "--help").out.rfind("Usage: fasogram [OPTIONS] [SERIES]\n", 0), 0u);
    EXPECT_EQ(run(dir, "--help", "", "LANG=" + spanish_locale).out.rfind("Uso: fasogram ", 0), 0u);
    ASSERT_EQ(
        run(dir, "-q --from 0.3 --to 0.4 --steps 2 -o t.csv", "", "LANG=" + spanish_locale).status,
        0);
    EXPECT_EQ(lines_of(dir.read("t.csv")).at(0), "frequency,rho,C1,C2,C3");
}

TEST(Batch, AutomaticLimitsThatLeaveNoGridAreAnError) {
    ScratchDir dir;
    copy_example(dir);
    const Outcome above = run(dir, "-q --from 100");
    EXPECT_EQ(above.status, 1);
    EXPECT_EQ(above.err.rfind("fasogram: error: --from/--to/--steps with datos.dat: --from is not "
                              "below the Nyquist frequency",
                              0),
              0u)
        << above.err;
    const Outcome below = run(dir, "-q --to 1e-6");
    EXPECT_EQ(below.status, 1);
    EXPECT_NE(below.err.find("--to does not go beyond the automatic first frequency"),
              std::string::npos)
        << below.err;
    EXPECT_FALSE(dir.exists("fasogram.dat"));
}

TEST(Batch, TheUndersamplingNoteAtHalfTheLineWidthAndJustAbove) {
    // Times 0..64: the Hanning line width is 1/32, and 64 steps over 0..1
    // are half of it apart.
    ScratchDir dir;
    std::string text;
    for (int i = 0; i <= 64; ++i)
        text += std::to_string(i) + " " + std::to_string(std::sin(1.3 * i)) + "\n";
    dir.write("s.dat", text);
    const Outcome at = run(dir, "--from 0 --to 1 --steps 64 s.dat");
    ASSERT_EQ(at.status, 0) << at.err;
    EXPECT_TRUE(notes_with(at.err, "the grid step").empty()) << at.err;
    const Outcome over = run(dir, "--from 0 --to 1 --steps 63 s.dat");
    ASSERT_EQ(over.status, 0) << over.err;
    EXPECT_EQ(notes_with(over.err, "the grid step"),
              std::vector<std::string>{
                  "fasogram: the grid step (0.0158730159) exceeds half the line width "
                  "(0.015625): a peak can fall between two frequencies; sampling them all "
                  "takes 64 steps: --from 0 --to 1 --steps 64"});
    EXPECT_EQ(run(dir, "-q --from 0 --to 1 --steps 63 s.dat").err, "");
    // An automatic grid of fewer than two points a line width says so too.
    const Outcome coarse = run(dir, "--oversample 1.5 s.dat");
    ASSERT_EQ(coarse.status, 0) << coarse.err;
    EXPECT_EQ(notes_with(coarse.err, "the grid step").size(), 1u) << coarse.err;
    const Outcome fine = run(dir, "--oversample 2 s.dat");
    EXPECT_TRUE(notes_with(fine.err, "the grid step").empty()) << fine.err;
}

TEST(Batch, TheExampleWithErrorsNeedsNeitherAGridNorAnythingButItsErrors) {
    // Poor nights, three in ten, carry errors twenty times those of the good
    // ones: weighted by them, the 0.8127-day signal stands out at once.
    ScratchDir dir;
    fs::copy_file(FASOGRAM_EXAMPLE_ERRORS, dir.path() / "errores.dat");
    const Outcome weighted = run(dir, "-e --peaks 3 errores.dat");
    ASSERT_EQ(weighted.status, 0) << weighted.err;
    const auto w = peak_rows(weighted.out);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_NEAR(1 / w[0].first, 0.8127, 2e-4);
    EXPECT_GT(w[0].second, 0.7);
    // Its daily aliases come next, well below it.
    for (std::size_t k = 1; k < 3; ++k) {
        EXPECT_NEAR(std::fabs(w[k].first - w[0].first), 1.0, 0.01);
        EXPECT_LT(w[k].second, w[0].second - 0.2);
    }
    // Taken at face value the poor nights drown it: the highest peak is
    // noise, and a note points at the errors column.
    const Outcome plain = run(dir, "--peaks 3 errores.dat");
    ASSERT_EQ(plain.status, 0) << plain.err;
    const auto p = peak_rows(plain.out);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_GT(std::fabs(1 / p[0].first - 0.8127), 0.01);
    EXPECT_LT(p[0].second, 0.05);
    EXPECT_EQ(notes_with(plain.err, "errores.dat, line 2: the third column is not read").size(), 1u)
        << plain.err;
}

} // namespace
} // namespace fasogram
