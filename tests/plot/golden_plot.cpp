// Draws the same two plots into every file format of the library, with the
// test clock, and writes the console text to console.txt: the fixed plots
// whose bytes the golden test compares with the recorded digests.
//   golden_plot <directory>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/support.hpp"
#include "core/helpers.h"
#include "plotix.h"

namespace {

void polygon(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    const int x[4] = {x1, x2, x3, x4};
    const int y[4] = {y1, y2, y3, y4};
    plotix::areaf(x, y, 4);
}

// Page decorations, line styles, colours, fills, text and an axis system.
void first_plot() {
    plotix::pagera();
    plotix::pagfll(3);
    plotix::paghdr("GOLDEN", "plot", 2, 0);
    plotix::paghdr("GOLDEN", "side", 1, 1);

    for (int t = 0; t <= 7; ++t) {
        plotix::lintyp(t);
        plotix::setclr(30 * t + 10);
        plotix::line(120, 150 + 40 * t, 900, 190 + 40 * t);
    }
    const int own[3] = {40, 10, 5};
    plotix::myline(own, 3);
    plotix::line(120, 520, 900, 700);
    plotix::solid();

    plotix::color("RED");
    plotix::shdpat(16);
    polygon(1000, 150, 1300, 150, 1350, 400, 1020, 450);
    plotix::color("BLUE");
    polygon(2800, 100, 3100, 100, 3100, 300, 2800, 300); // past the page: hatched
    plotix::color("ORANGE");
    plotix::shdpat(5);
    polygon(1400, 150, 1700, 150, 1700, 450, 1400, 450);
    plotix::color("MAGENTA");
    plotix::mypat(30, 2, 3, 1);
    polygon(1750, 150, 2050, 170, 2000, 450, 1760, 430);
    plotix::shdpat(0);
    plotix::color("CYAN");
    polygon(2100, 150, 2400, 150, 2400, 450, 2100, 450);

    plotix::color("FORE");
    plotix::height(50);
    plotix::messag("Golden plot [2] ]x$ 123", 1000, 520);
    plotix::angle(30);
    plotix::messag("angled text", 2100, 700);
    plotix::angle(0);
    plotix::complx();
    plotix::height(40);
    plotix::messag("Complex font: abc ABC", 1000, 620);

    plotix::axspos(450, 1900);
    plotix::axslen(2000, 1000);
    plotix::name("frequency", "X");
    plotix::name("power", "Y");
    plotix::ticks(4, "XY");
    plotix::titlin("Golden axis system", 2);
    plotix::titlin("second line", -3);
    plotix::graf(0.0f, 10.0f, 0.0f, 2.0f, -1.0f, 1.0f, -1.0f, 0.5f);
    plotix::title();
    plotix::lintyp(1);
    plotix::grid(1, 1);
    plotix::lintyp(0);
    plotix::color("GREEN");
    float x[200], y[200];
    for (int i = 0; i < 200; ++i) {
        x[i] = 0.06f * static_cast<float>(i);
        y[i] = std::sin(1.7f * x[i]) * std::exp(-0.1f * x[i]) * 1.2f;
    }
    plotix::curve(x, y, 200);
    plotix::dash();
    plotix::xaxgit();
    plotix::sendbf();
}

// Other colour tables, the page erased and drawn again.
void second_plot() {
    plotix::setvlt("SMAL");
    plotix::color("BLUE");
    plotix::line(100, 100, 2000, 1500);
    plotix::shdpat(16);
    polygon(300, 300, 800, 300, 800, 800, 300, 800);
    plotix::setvlt("VGA");
    plotix::color("GREEN");
    plotix::line(100, 1500, 2000, 100);
    plotix::erase();
    plotix::setvlt("GREY");
    plotix::setclr(128);
    plotix::line(200, 200, 2800, 200);
    plotix::setvlt("RRAI");
    plotix::setclr(40);
    polygon(1000, 1000, 1500, 1000, 1500, 1500, 1000, 1500);
    plotix::setvlt("TEMP");
    plotix::setclr(200);
    plotix::pagera();
    plotix::color("BACK");
    plotix::line(0, 0, 2969, 2099);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || chdir(argv[1]) != 0) {
        std::fprintf(stderr, "usage: golden_plot <directory>\n");
        return 2;
    }
    unsetenv("DISPLAY");
    std::FILE* console = std::fopen("console.txt", "wb");
    if (console == nullptr) return 2;
    plotix::detail::set_console(console);
    plotix::detail::set_clock(test_common::fixed_time);

    const char* const formats[] = {"CONS", "GKSL", "CGM",  "KYOC", "HPGL", "HPA4", "HPA1", "TEKT",
                                   "VT34", "LN03", "POST", "PSCL", "TIFF", "IMAG", "VIRT", "PNG",
                                   "JAVA", "WMF",  "PPM",  "PDF",  "EPS",  "BMP",  "PS"};
    for (const char* format : formats) {
        plotix::metafl(format);
        plotix::setfil(std::string("first_") + format);
        plotix::disini();
        first_plot();
        plotix::disfin();
        plotix::setfil(std::string("second_") + format);
        plotix::disini();
        second_plot();
        plotix::disfin();
    }
    plotix::detail::set_console(nullptr);
    return std::fclose(console) == 0 ? 0 : 1;
}
