// A small plot on the screen for the window test: a red line, a blue filled
// polygon and a green box on the default page, then the wait of disfin.
//   screen_plot [wait option [key option]]
#include <cstdlib>

#include "core/state.h"
#include "pipeline/style.h"
#include "plotix.h"

int main(int argc, char** argv) {
    plotix::metafl("CONS");
    plotix::disini();
    if (argc > 1) plotix::detail::g.screen.waitopt = std::atoi(argv[1]);
    if (argc > 2) plotix::detail::g.screen.keyopt = std::atoi(argv[2]);
    if (argc > 3) plotix::detail::g.screen.delay = std::atoi(argv[3]);
    plotix::color("RED");
    plotix::line(100, 100, 1000, 100);
    plotix::color("BLUE");
    plotix::shdpat(16);
    const int x[4] = {2000, 2400, 2400, 2000}, y[4] = {1000, 1000, 1400, 1400};
    plotix::areaf(x, y, 4);
    plotix::detail::dbox(1500.0f, 1000.0f, 1600.0f, 1100.0f, 138);
    plotix::disfin();
    return 0;
}
