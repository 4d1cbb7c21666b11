// Line styles, named colours and filled areas on a PostScript page.
// It writes styles_colours.ps (or its first free version) in the current
// directory: three solid boxes in red, green and blue, an orange hatched box,
// and four lines in the foreground colour, solid, dashed, dotted and
// chain-dashed.
#include <plotix.h>

namespace {

void box(int x1, int y1, int x2, int y2) {
    const int x[4] = {x1, x2, x2, x1};
    const int y[4] = {y1, y1, y2, y2};
    plotix::areaf(x, y, 4);
}

} // namespace

int main() {
    plotix::metafl("PS");
    plotix::setfil("styles_colours.ps");
    plotix::disini();

    plotix::shdpat(16); // solid
    plotix::color("RED");
    box(200, 200, 800, 700);
    plotix::color("GREEN");
    box(1000, 200, 1600, 700);
    plotix::color("BLUE");
    box(1800, 200, 2400, 700);

    plotix::shdpat(1); // lines at 45 degrees
    plotix::color("ORANGE");
    box(200, 900, 800, 1300);

    plotix::color("FORE");
    plotix::solid();
    plotix::line(200, 1500, 2700, 1500);
    plotix::dash();
    plotix::line(200, 1650, 2700, 1650);
    plotix::dot();
    plotix::line(200, 1800, 2700, 1800);
    plotix::chndsh();
    plotix::line(200, 1950, 2700, 1950);

    plotix::disfin();
    return 0;
}
