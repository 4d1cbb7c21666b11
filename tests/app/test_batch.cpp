// Batch runs: the built program with arguments, in a scratch directory, its
// files read back by outside programs (python's csv module, PIL, poppler,
// ghostscript).
#include "test_support.hpp"

#include "common/ppm.hpp"
#include "common/support.hpp"

#include <algorithm>
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

// Runs the program in `dir` with the arguments (a shell word list), the
// given standard input and no display; standard output goes to `out`.
Outcome run(const ScratchDir& dir, const std::string& args, const std::string& input = "",
            const std::string& environment = "", const std::string& out = ".stdout") {
    dir.write(".stdin", input);
    dir.write(".stdout", "");
    const std::string command = "cd '" + dir.path().string() + "' && env -u DISPLAY " +
                                environment + " '" + FASOGRAM_BINARY + "' " + args + " <.stdin >" +
                                out + " 2>.stderr";
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
    EXPECT_EQ(r.out.rfind("Uso: fasogram [OPCIONES] [SERIE]\n", 0), 0u) << r.out;
    for (const char* option :
         {"--window", "--from", "--to", "--steps", "--table", "--plot", "--size", "--peaks",
          "--screen", "--threads", "--quiet", "--help", "--version"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_NE(r.out.find("Ejemplos:\n  fasogram "), std::string::npos);
    EXPECT_EQ(run(dir, "-h").out, r.out);
    // --help ends the reading: what follows is not looked at.
    EXPECT_EQ(run(dir, "--help --bogus").status, 0);

    r = run(dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "fasogram version 22/04/03\nbiblioteca de graficos plotix 8.0\n");
    EXPECT_EQ(run(dir, "-V").out, r.out);
    EXPECT_TRUE(files_in(dir).empty());
}

TEST(Batch, UsageErrorsExitWithTwoBeforeAnyWork) {
    ScratchDir dir;
    copy_example(dir);
    const std::string hint = "Pruebe 'fasogram --help' para mas informacion.\n";
    // The usage errors that a user meets first; the parser's own test
    // pins the rest.
    const std::pair<std::string, std::string> cases[] = {
        {"--bogus", "opcion desconocida o ambigua: '--bogus'"},
        {"--from", "a la opcion '--from' le falta su valor"},
        {"--to 1", "faltan --from y --steps: la malla"},
        {"--from 0.5 --to 0.5 --steps 5", "--to debe ser mayor que --from (--from 0.5, --to 0.5)"},
        {"--from 0 --to 1 --steps 0", "--steps: se espera un numero entero de pasos mayor que 0"},
        {"--from 0 --to 1 --steps 5 --size 15x600", "--size: se espera ANCHOxALTO"},
        {"--from 0 --to 1 --steps 5 -w hamming",
         "-w/--window: se espera hanning (h) o square (cuadrada, c)"},
        {"--from 0 --to 1 --steps 5 a.dat b.dat", "sobra el argumento 'b.dat'"},
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

    const Outcome file = run(dir, args + "serie.txt");
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(file.out, "");
    EXPECT_EQ(file.err, "fasogram: serie.txt, linea 4: cabecera ignorada: 'JD\tmag'\n"
                        "fasogram: 61 pares (tiempo, valor) en serie.txt\n"
                        "fasogram: ventana cuadrada; ancho de cada linea espectral =  "
                        "0.0322580645\n"
                        "fasogram: espectro de 5 frecuencias en fasogram.dat\n");
    const std::string table = dir.read("fasogram.dat");
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
    EXPECT_NE(r.err.find("fasogram: 25000 pares (tiempo, valor) en long.dat\n"), std::string::npos);
    // The Hanning line width 2/D shows D = 24999, the last time read.
    EXPECT_NE(r.err.find("ancho de cada linea espectral =  8.00032001E-05"), std::string::npos)
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

    // The same run into the fixed columns: each CSV value rounds to the
    // eight digits written there.
    ASSERT_EQ(run(dir, "-q -w h --from 0.001 --to 0.5 --steps 3000").status, 0);
    const std::vector<std::string> fixed = lines_of(dir.read("fasogram.dat"));
    const std::vector<std::string> csv = lines_of(dir.read("espectro.CSV"));
    ASSERT_EQ(csv.size(), fixed.size() + 1);
    for (std::size_t i : {std::size_t{0}, std::size_t{1234}, fixed.size() - 1}) {
        std::istringstream values(csv[i + 1]);
        std::string value;
        for (int k = 0; k < 5 && std::getline(values, value, ','); ++k) {
            char field[32];
            std::snprintf(field, sizeof field, "%15.7E", std::stod(value));
            EXPECT_EQ(std::stod(field), std::stod(fixed[i].substr(15 * k, 15))) << i << " " << k;
        }
    }
}

TEST(Batch, PeakTableOfTheExampleSeries) {
    ScratchDir dir;
    copy_example(dir);
    const Outcome r = run(dir, "-q --from 0 --to 0.5 --steps 5000 --peaks 5 -o spectrum.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0], "  n       frecuencia          periodo       rho        amplitud"
                        "  fase (ciclos)               C1");
    struct Row {
        double f, period, rho, amplitude, phase, c1;
    };
    std::vector<Row> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), lines[0].size()) << lines[i]; // aligned columns
        std::istringstream in(lines[i]);
        int n = 0;
        Row row{};
        in >> n >> row.f >> row.period >> row.rho >> row.amplitude >> row.phase >> row.c1;
        ASSERT_TRUE(in) << lines[i];
        EXPECT_EQ(n, static_cast<int>(i));
        EXPECT_NEAR(row.period, 1.0 / row.f, 1e-9 * row.period);
        EXPECT_GE(row.phase, 0.0);
        EXPECT_LT(row.phase, 1.0);
        EXPECT_NEAR(row.c1, 12.5, 0.01);
        rows.push_back(row);
    }
    // The 2.7-day signal first, its yearly alias (1/365.25 cycles a day
    // away) next to it, the 37-day signal, the other alias of the 2.7-day
    // signal and an alias of the 37-day one: ranked by rho.
    EXPECT_NEAR(rows[0].f, 0.3704, 5e-5);
    EXPECT_NEAR(rows[0].period, 2.700, 5e-4);
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

TEST(Batch, FailuresNameTheFileAndExitWithOne) {
    ScratchDir dir;
    dir.write("bad.dat", "1 2\n3 4\n5 x7\n");
    dir.write("flat.dat", "1 2\n2 2\n3 2\n");
    struct Case {
        std::string args;
        std::string error;
    };
    const Case cases[] = {
        {"missing.dat", "no se puede abrir el archivo missing.dat"},
        {"bad.dat", "bad.dat, linea 3: numero mal formado: 'x7'"},
        {"flat.dat", "flat.dat: la serie no varia con esta ventana"},
        {"-o /dev/full", "error al escribir el archivo /dev/full: No space left on device"},
        {"-o no/such/t.csv", "no se puede crear el archivo no/such/t.csv: No such file or "
                             "directory"},
        {"-o .", "no se puede crear el archivo .: Is a directory"},
        {"-p no/such/g.png", "no se puede crear el archivo no/such/g.png: No such file or "
                             "directory"},
        {"--screen", "--screen: no hay pantalla"},
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
    EXPECT_EQ(
        full.err,
        "fasogram: error: error al escribir en la salida estandar: No space left on device\n");
    // Nothing half-written is left behind.
    EXPECT_EQ(files_in(dir),
              (std::set<std::string>{"bad.dat", "datos.dat", "flat.dat", "fasogram.dat"}));
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
    EXPECT_EQ(dir.read("real.csv").substr(0, 24), "frecuencia,rho,C1,C2,C3\n");
    EXPECT_EQ(lines_of(test_common::run_command("/usr/bin/python3 '" + read_back + "' image '" +
                                                (dir.path() / "graph.png").string() + "'"))
                  .at(0),
              "853 603")
        << tmpdir;
    EXPECT_EQ(files_in(dir),
              (std::set<std::string>{"datos.dat", "real.csv", "link.csv", "graph.png"}));
}

// The page of every format, rendered or read by an outside program: a
// white page with the dark axes and labels and the blue curve.
TEST(Batch, GraphsInEveryFormatReadByOutsidePrograms) {
    ScratchDir dir;
    copy_example(dir);
    dir.write("g.pdf", "an older file that is replaced\n");
    const std::string long_dir(70, 'd');
    fs::create_directory(dir.path() / long_dir);
    const std::string long_name = long_dir + "/a-graph-name-long-enough-to-pass-eighty-chars.png";
    const Outcome r = run(dir, std::string(grid) +
                                   " -q -p g.pdf -p g.ps --plot=g.eps -p g.png -p g.bmp -p g.tif "
                                   "-p G.TIFF -p " +
                                   long_name);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(files_in(dir),
              (std::set<std::string>{"datos.dat", "fasogram.dat", "g.pdf", "g.ps", "g.eps", "g.png",
                                     "g.bmp", "g.tif", "G.TIFF", long_dir}));

    // Raster images: PIL.
    for (const std::string name : {"g.png", "g.bmp", "g.tif", "G.TIFF", long_name.c_str()}) {
        const std::vector<std::string> facts = lines_of(test_common::run_command(
            "/usr/bin/python3 '" + read_back + "' image '" + (dir.path() / name).string() + "'"));
        ASSERT_EQ(facts.size(), 5u) << name;
        EXPECT_EQ(facts[0], "853 603") << name; // the library's own size for now
        EXPECT_GT(std::stod(facts[1].substr(6)), 0.9) << name;
        EXPECT_GT(std::stoi(facts[2].substr(5)), 500) << name;
        EXPECT_GT(std::stoi(facts[3].substr(5)), 3000) << name;
        EXPECT_EQ(facts[4], "background 255 255 255") << name;
    }

    // PDF: poppler's pdfinfo and pdftoppm; PostScript and EPS: ghostscript.
    std::string info;
    ASSERT_EQ(test_common::run_command("pdfinfo '" + (dir.path() / "g.pdf").string() + "'", info),
              0)
        << info;
    EXPECT_NE(info.find("\nPages:           1\n"), std::string::npos) << info;
    std::string log;
    ASSERT_EQ(test_common::run_command("pdftoppm -r 36 '" + (dir.path() / "g.pdf").string() +
                                           "' '" + (dir.path() / "pdf").string() + "'",
                                       log),
              0)
        << log;
    ASSERT_TRUE(
        test_common::render_with_ghostscript(dir.path() / "g.ps", 36, dir.path() / "ps.ppm", log))
        << log;
    ASSERT_TRUE(
        test_common::render_with_ghostscript(dir.path() / "g.eps", 36, dir.path() / "eps.ppm", log))
        << log;
    for (const char* page : {"pdf-1.ppm", "ps.ppm", "eps.ppm"}) {
        test_common::Image img;
        ASSERT_TRUE(img.read(dir.path() / page)) << page;
        int white = 0, blue = 0, dark = 0;
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                const test_common::Pixel p = img.at(x, y);
                if (p.r > 240 && p.g > 240 && p.b > 240) ++white;
                if (p.b > 150 && p.r < 100 && p.g < 100) ++blue;
                if (test_common::dark(p)) ++dark;
            }
        }
        EXPECT_GT(white, img.width * img.height * 8 / 10) << page;
        EXPECT_GT(blue, 50) << page;
        EXPECT_GT(dark, 1000) << page;
    }
}

} // namespace
} // namespace fasogram
