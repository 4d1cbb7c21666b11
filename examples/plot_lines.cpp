// A small plotix program: a frame and a zig-zag line on a PostScript page.
// It writes plotix.ps (or its first free version) in the current directory.
#include <plotix.h>

int main() {
    plotix::metafl("PS");
    plotix::disini();
    plotix::line(100, 100, 2869, 100);
    plotix::line(2869, 100, 2869, 1999);
    plotix::line(2869, 1999, 100, 1999);
    plotix::line(100, 1999, 100, 100);
    for (int i = 0; i < 20; ++i) {
        plotix::line(200 + 120 * i, i % 2 == 0 ? 300 : 1800, 320 + 120 * i,
                     i % 2 == 0 ? 1800 : 300);
    }
    plotix::disfin();
    return 0;
}
