// End-to-end runs of the built program in a scratch directory, with the
// answers on standard input.
#include "test_support.hpp"

#include "common/ppm.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>

namespace fasogram {
namespace {

using test_common::Image;
using test_common::render_with_ghostscript;
using testing::ScratchDir;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command that leaves the program's console in out.txt and
// err.txt of dir.
Result run_shell(const ScratchDir& dir, const std::string& command) {
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = dir.read("out.txt");
    result.err = dir.read("err.txt");
    return result;
}

Result run_program(const ScratchDir& dir, const std::string& answers,
                   const std::string& environment = "") {
    dir.write("answers.txt", answers);
    // No screen: the graph goes only to the files asked for.
    return run_shell(dir, "cd '" + dir.path().string() + "' && env -u DISPLAY " + environment +
                              " '" + FASOGRAM_BINARY + "' <answers.txt >out.txt 2>err.txt");
}

// A sinusoid of period 4 sampled at uneven times.
// The summary box carries the date and time, and the page header the
// clock's digits in its count of vectors: runs are compared without them.
std::string without_clock(const std::string& text) {
    std::istringstream in(text);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line.find(" <<  Date    : ") != 0 && line.find(" <<  Vectors : ") != 0)
            kept += line + "\n";
    return kept;
}

std::string sinusoid_series() {
    std::string text;
    double t = 0.0;
    for (int i = 0; i < 200; ++i) {
        t += 0.37 + 0.5 * std::fabs(std::sin(1.7 * i));
        char line[80];
        std::snprintf(line, sizeof line, "%.6f %.6f\r\n", t, 2.0 + std::cos(0.5 * M_PI * t));
        text += line;
    }
    return text;
}

TEST(Program, FullRunWritesTheTableAndExitsWithZero) {
    ScratchDir dir;
    dir.write("datos.dat", sinusoid_series());
    const Result run = run_program(dir, "c\n0.2\n0.3\n4\n0\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(" son  200    datos en la serie temporal\n"), std::string::npos);
    // After the progress lines: the screen cycle's warning (no display here)
    // and summary box, then the save question.
    const std::string progress =
        " estoy calculando el espectro....\n vea que bonito el grafico.....\n";
    const std::size_t at = run.out.find(progress);
    ASSERT_NE(at, std::string::npos);
    std::vector<std::string> lines;
    std::istringstream rest(run.out.substr(at + progress.size()));
    for (std::string line; std::getline(rest, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 11u) << run.out;
    EXPECT_EQ(lines[0], " <<<< Warning 101: No display available in disini!");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], " " + std::string(66, '<'));
    EXPECT_EQ(lines[3], " <<                END OF PLOTIX / VERSION  8.0                  <<");
    EXPECT_EQ(lines[5].substr(47), "Fileformat: CONS  <<");
    EXPECT_EQ(lines[7], lines[2]);
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], " Guardo como BMP (1), TIFF (2), PS (3), PDF (4)?");
    EXPECT_EQ(lines[10], " exit (0)?");
    for (const char* name : {"fasogram.bmp", "fasogram.tif", "fasogram.ps", "fasogram.pdf"}) {
        EXPECT_FALSE(dir.exists(name)) << name;
    }

    // Frequencies 0.2, 0.225, 0.25, 0.275, 0.3; the signal sits at 0.25.
    const std::string table = dir.read("fasogram.dat");
    ASSERT_EQ(table.size(), 5u * 76u);
    EXPECT_EQ(table.substr(2 * 76, 15), "  2.5000000E-01");
    const double rho = std::stod(table.substr(2 * 76 + 15, 15));
    EXPECT_NEAR(rho, 1.0, 1e-6);
    EXPECT_NEAR(std::stod(table.substr(2 * 76 + 30, 15)), 2.0, 1e-5);
    EXPECT_NEAR(std::stod(table.substr(2 * 76 + 45, 15)), 1.0, 1e-5);
    EXPECT_LT(std::stod(table.substr(0 * 76 + 15, 15)), 0.9);
}

TEST(Program, ErrorStopsExitWithOne) {
    ScratchDir dir;
    Result run = run_program(dir, "h\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.err,
        "fasogram: error: no se puede abrir el archivo datos.dat: No such file or directory\n");

    dir.write("datos.dat", sinusoid_series());
    run = run_program(dir, "h\n0.1\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "fasogram: error: fin de la entrada al esperar la respuesta a 'frecuencia final?'\n");
    EXPECT_FALSE(dir.exists("fasogram.dat"));
}

// The dialogue speaks Spanish in every locale, the messages it shares with
// batch runs too: the same bytes on both streams and the same table.
TEST(Program, TheDialogueIsSpanishInEveryLocale) {
    const std::string answers = "c\n0.2\n0.3\n4\n0\n";
    const std::string locales[] = {"LANG=C", "LANG=es_ES.UTF-8", "LANG=xx_YY.UTF-8",
                                   "LC_ALL=es_ES.UTF-8 LANGUAGE=es", "LANG=en_US.UTF-8"};
    ScratchDir reference_dir;
    reference_dir.write("datos.dat", sinusoid_series());
    const Result reference = run_program(reference_dir, answers, "-u LC_ALL -u LANGUAGE LANG=C");
    ASSERT_EQ(reference.status, 0) << reference.err;
    EXPECT_NE(reference.out.find(" El espectro estara en fasogram.dat"), std::string::npos);
    for (const std::string& locale : locales) {
        ScratchDir dir;
        dir.write("datos.dat", sinusoid_series());
        const Result run = run_program(dir, answers, "-u LC_ALL -u LANGUAGE " + locale);
        EXPECT_EQ(run.status, 0) << locale;
        EXPECT_EQ(run.err, reference.err) << locale;
        EXPECT_EQ(without_clock(run.out), without_clock(reference.out)) << locale;
        EXPECT_EQ(dir.read("fasogram.dat"), reference_dir.read("fasogram.dat")) << locale;
        // A file error of the reader, shared with batch runs, stays Spanish.
        ScratchDir empty;
        const Result missing = run_program(empty, "h\n", "-u LC_ALL -u LANGUAGE " + locale);
        EXPECT_EQ(missing.err.rfind("fasogram: error: no se puede abrir el archivo datos.dat: ", 0),
                  0u)
            << locale << missing.err;
    }
}

TEST(Program, LimitsBeyondThePhaseRangeAreAskedAgain) {
    ScratchDir dir;
    dir.write("datos.dat", "1 1\n2 2\n");
    const Result run = run_program(dir, "c\n0\n1e308\n0\n0.5\n3\n0\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string asked_again = " zapallo! frecuencias demasiado altas para los tiempos de la "
                                    "serie (|t*f| debe ser menor que 2^1000)\n"
                                    " frecuencia inicial?\n frecuencia final?\n";
    EXPECT_NE(run.out.find(asked_again), std::string::npos) << run.out;
    // The second limits are used: 0 (skipped), 1/6, 1/3 and 0.5.
    EXPECT_EQ(dir.read("fasogram.dat").size(), 3u * 76u);
}

TEST(Program, ExampleSeriesShowsItsTwoPeriods) {
    ScratchDir dir;
    std::filesystem::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const Result run = run_program(dir, "h\n0.01\n0.5\n4900\n0\n");
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream table(dir.read("fasogram.dat"));
    std::string line;
    double best_f = 0.0, best_rho = -1.0; // whole range
    double slow_f = 0.0, slow_rho = -1.0; // below 0.1 cycles per day
    while (std::getline(table, line)) {
        const double f = std::stod(line.substr(0, 15));
        const double rho = std::stod(line.substr(15, 15));
        if (rho > best_rho) best_rho = rho, best_f = f;
        if (f < 0.1 && rho > slow_rho) slow_rho = rho, slow_f = f;
    }
    // The generator puts signals at periods of 2.7 and 37 days.
    EXPECT_NEAR(best_f, 1.0 / 2.7, 2e-4);
    EXPECT_NEAR(slow_f, 1.0 / 37.0, 2e-4);
    EXPECT_GT(best_rho, 0.5);
    EXPECT_GT(slow_rho, 0.1);
}

// The PostScript page lies turned on A4 paper: plot y runs across the paper
// from the left margin (150 device units), plot x up from the bottom margin
// (200 device units), 1.857143 device units per plot unit, 0.1417323 points
// per device unit, placement scale 1.000476. Rendered at 72 dots per inch.
constexpr double points_per_unit = 1.857143 * 0.1417322835 * 1.000476;
double plot_y_of(int col) {
    return (col + 0.5 - 150 * 0.1417322835) / points_per_unit;
}
double plot_x_of(int row) {
    return (842.0 - 200 * 0.1417322835 - (row + 0.5)) / points_per_unit;
}

TEST(Program, ExampleGraphSavedAsPostScript) {
    ScratchDir dir;
    std::filesystem::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const Result run = run_program(dir, "h\n0\n0.5\n5000\n3\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(" <<  Metafile: fasogram.ps "), std::string::npos);
    ASSERT_TRUE(dir.exists("fasogram.ps"));
    const std::filesystem::path ps = dir.path() / "fasogram.ps";
    std::string log;
    ASSERT_TRUE(render_with_ghostscript(ps, 72, dir.path() / "page.ppm", log) &&
                render_with_ghostscript(ps, 72, dir.path() / "page.png", log))
        << log;
    EXPECT_TRUE(dir.exists("page.png"));
    Image img;
    ASSERT_TRUE(img.read(dir.path() / "page.ppm"));
    ASSERT_EQ(img.width, 595);
    ASSERT_EQ(img.height, 842);

    // Classify the pixels by where they lie on the page (plot units).
    int green = 0, green_outside = 0, frame_dark = 0, title_dark = 0, header_dark = 0;
    double top_y = 1e9, top_x = 0;           // highest point of the curve
    double slow_top_y = 1e9, slow_top_x = 0; // highest point below 10 on the axis
    for (int row = 0; row < img.height; ++row) {
        for (int col = 0; col < img.width; ++col) {
            const test_common::Pixel p = img.at(col, row);
            const double x = plot_x_of(row), y = plot_y_of(col);
            const bool dark = test_common::dark(p);
            if (p.g > 150 && p.r < 120 && p.b < 120) {
                ++green;
                if (x < 398 || x > 2601 || y < 199 || y > 1802) ++green_outside;
                if (y < top_y) top_y = y, top_x = x;
                if (x < 400 + 10 * 43.98 && y < slow_top_y) slow_top_y = y, slow_top_x = x;
            }
            if (dark && (std::fabs(y - 1800) < 2 || std::fabs(x - 400) < 2)) ++frame_dark;
            if (dark && y > 30 && y < 80 && x > 1200 && x < 1800) ++title_dark;
            if (dark && x < 45 && y > 500 && y < 2000) ++header_dark;
        }
    }
    EXPECT_GT(green, 500);
    EXPECT_EQ(green_outside, 0);
    // The 2.7-day signal at 0.370 (37.0 on the axis scaled by 100), about
    // 0.66 high; the 37-day signal at 0.027, about 0.14 high.
    const double per_unit = 2199.0 / 50.0;
    EXPECT_NEAR((top_x - 400) / per_unit, 37.04, 0.3);
    EXPECT_NEAR((1800 - top_y) / 1599.0, 0.66, 0.03);
    EXPECT_NEAR((slow_top_x - 400) / per_unit, 2.70, 0.3);
    EXPECT_NEAR((1800 - slow_top_y) / 1599.0, 0.14, 0.03);
    EXPECT_GT(frame_dark, 800); // the lower and left axis lines
    EXPECT_GT(title_dark, 20);
    EXPECT_GT(header_dark, 50);
}

// Unable to start a thread: the run goes on with the threads there are,
// never an abort, and its results are those of an unconstrained run (the
// results do not depend on the thread count).  A stack limit of 1 GB makes
// every new thread ask for more address space than the limit leaves.  (The
// sanitizers reserve far more address space than that, so the check runs in
// the plain build only.)
TEST(Program, ThreadsThatCannotStartLeaveTheRunToTheOthers) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not apply under the address sanitizer";
#else
    ScratchDir dir;
    dir.write("datos.dat", sinusoid_series());
    dir.write("answers.txt", "c\n0.01\n0.5\n5000\n0\n");
    auto run = [&](const std::string& limits, const std::string& out) {
        const std::string command = "cd '" + dir.path().string() + "' && (" + limits +
                                    " env -u DISPLAY '" + FASOGRAM_BINARY + "' <answers.txt >" +
                                    out + " 2>err.txt)";
        return std::system(command.c_str());
    };
    const int free_run = run("", "free.txt");
    ASSERT_TRUE(WIFEXITED(free_run));
    ASSERT_EQ(WEXITSTATUS(free_run), 0);
    const std::string table = dir.read("fasogram.dat");
    ASSERT_GT(table.size(), 100000u);
    std::filesystem::remove(dir.path() / "fasogram.dat");
    const int raw = run("ulimit -s 1000000; ulimit -v 300000;", "out.txt");
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0) << dir.read("err.txt");
    EXPECT_EQ(dir.read("err.txt"), "");
    EXPECT_EQ(without_clock(dir.read("out.txt")), without_clock(dir.read("free.txt")));
    EXPECT_TRUE(dir.read("fasogram.dat") == table) << "the table differs";
#endif
}

// ---- runs that cannot write their files -------------------------------------

// A tmpfs mounted on dir/disk for the length of a test; the program runs
// there, with its answers and its console in dir.
class SmallDisk {
  public:
    SmallDisk(const ScratchDir& dir, const char* options) : at_(dir.path() / "disk") {
        std::filesystem::create_directory(at_);
        ok_ = mount("tmpfs", at_.c_str(), "tmpfs", 0, options) == 0;
    }
    ~SmallDisk() {
        if (ok_) umount2(at_.c_str(), MNT_DETACH);
    }
    bool ok() const { return ok_; }
    const std::filesystem::path& path() const { return at_; }
    void write(const std::string& name, const std::string& contents) const {
        std::FILE* f = std::fopen((at_ / name).c_str(), "wb");
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
    }
    std::string read(const std::string& name) const {
        std::FILE* f = std::fopen((at_ / name).c_str(), "rb");
        if (f == nullptr) return "(missing)";
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(at_)) {
            out.insert(e.path().filename().string());
        }
        return out;
    }
    bool read_only() const {
        return mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    std::filesystem::path at_;
    bool ok_ = false;
};

Result run_on(const ScratchDir& dir, const SmallDisk& disk, const std::string& answers) {
    dir.write("answers.txt", answers);
    const std::string io = dir.path().string();
    return run_shell(dir, "cd '" + disk.path().string() + "' && env -u DISPLAY '" +
                              FASOGRAM_BINARY + "' <'" + io + "/answers.txt' >'" + io +
                              "/out.txt' 2>'" + io + "/err.txt'");
}

#define NEED_SMALL_DISK(disk)                                                                      \
    if (!(disk).ok()) GTEST_SKIP() << "no small file system for the test (mount not permitted)"

TEST(ProgramFaults, GraphSavedOnAFullDiskEndsWithOneAndLeavesNoFile) {
    ScratchDir dir;
    SmallDisk disk(dir, "size=128k");
    NEED_SMALL_DISK(disk);
    disk.write("datos.dat", sinusoid_series());
    // The table fits, the image of half a megabyte does not.
    const Result run = run_on(dir, disk, "c\n0.2\n0.3\n4\n1\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "fasogram: error: no se pudo guardar el grafico en fasogram.bmp: No space "
                       "left on device\n");
    EXPECT_NE(run.out.find(" <<<< Warning  36: File error in disfin!\n"), std::string::npos);
    EXPECT_NE(run.out.find(" <<  Metafile:                                                   <<"),
              std::string::npos);
    EXPECT_EQ(disk.names(), (std::set<std::string>{"datos.dat", "fasogram.dat"}));
    EXPECT_EQ(disk.read("fasogram.dat").size(), 5u * 76u);
}

TEST(ProgramFaults, TableOnAFullDiskKeepsTheEarlierTable) {
    ScratchDir dir;
    SmallDisk disk(dir, "size=64k");
    NEED_SMALL_DISK(disk);
    disk.write("datos.dat", sinusoid_series());
    disk.write("fasogram.dat", "the earlier table\n");
    // 20001 lines of 76 bytes do not fit.
    const Result run = run_on(dir, disk, "c\n0.1\n0.5\n20000\n0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "fasogram: error: error al escribir el archivo fasogram.dat: No space left "
                       "on device\n");
    EXPECT_EQ(disk.read("fasogram.dat"), "the earlier table\n");
    EXPECT_EQ(disk.names(), (std::set<std::string>{"datos.dat", "fasogram.dat"}));
}

TEST(ProgramFaults, TableInADirectoryThatCannotTakeFiles) {
    ScratchDir dir;
    SmallDisk disk(dir, "size=64k");
    NEED_SMALL_DISK(disk);
    disk.write("datos.dat", sinusoid_series());
    disk.write("fasogram.dat", "the earlier table\n");
    ASSERT_TRUE(disk.read_only());
    const Result run = run_on(dir, disk, "c\n0.2\n0.3\n4\n0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.err,
        "fasogram: error: no se puede crear el archivo fasogram.dat: Read-only file system\n");
    EXPECT_EQ(disk.read("fasogram.dat"), "the earlier table\n");
    EXPECT_EQ(disk.names(), (std::set<std::string>{"datos.dat", "fasogram.dat"}));
}

TEST(ProgramFaults, StandardOutputThatCannotBeWritten) {
    ScratchDir dir;
    dir.write("datos.dat", sinusoid_series());
    dir.write("answers.txt", "c\n0.2\n0.3\n4\n0\n");
    const std::string command = "cd '" + dir.path().string() + "' && env -u DISPLAY '" +
                                FASOGRAM_BINARY + "' <answers.txt >/dev/full 2>err.txt";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(dir.read("err.txt"),
              "fasogram: error: no se puede escribir en la salida estandar: No space left on "
              "device\n");
}

} // namespace
} // namespace fasogram
