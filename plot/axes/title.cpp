// Decorations of an axis system: title lines, grid and the zero line.
#include <cstdlib>
#include <string>

#include "axes/axes.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "text/text.h"

using namespace plotix::detail;

void plotix::titlin(std::string_view text, int n) {
    chkini("titlin");
    const long long line = std::llabs(static_cast<long long>(n));
    if (line < 1 || line > 4) {
        warni1(2, line > 2147483647LL ? 2147483647 : static_cast<int>(line));
        return;
    }
    qqcopy(g.axes.title[line - 1], text, 132);
    g.axes.underline[line - 1] = n < 0;
}

void plotix::title() {
    if (jqqlev(2, 3, "title") != 0) return;
    const State::Axes& ax = g.axes;
    const int h = g.text.height;
    for (int k = 1; k <= 4; ++k) {
        const std::string& text = ax.title[k - 1];
        const int len = plotix::nlmess(text);
        if (len == 0) continue;
        const int x = ax.xpos + (ax.xlen - len) / 2;
        const int y =
            static_cast<int>(static_cast<double>(ax.ypos - ax.ylen) - 1.5 * h * (4 - k) - 3.0 * h);
        dtext(text, x, y, 0, h);
        if (ax.underline[k - 1]) {
            const int yu = static_cast<int>(y + 1.2 * h);
            lineqq(x - h / 2, yu, x + len + h / 2, yu);
        }
    }
}

void plotix::grid(int nx, int ny) {
    if (jqqlev(2, 3, "grid") != 0) return;
    if (nx < 0) warni1(2, nx);
    if (ny < 0) warni1(2, ny);
    const State::Axes& ax = g.axes;
    AxisRun run;
    run.a = ax.x.a;
    run.e = ax.x.e;
    run.first = ax.x.first;
    run.step = ax.x.step;
    run.nl = ax.xlen;
    run.nx = ax.xpos;
    run.ny = ax.ypos;
    qqtick(run, 1 - ax.ylen, 1 - ax.ylen, nx);

    run.xaxis = false;
    run.a = ax.y.a;
    run.e = ax.y.e;
    run.first = ax.y.first;
    run.step = ax.y.step;
    run.nl = ax.ylen;
    qqtick(run, ax.xlen - 1, ax.xlen - 1, ny);
}

void plotix::xaxgit() {
    if (jqqlev(2, 3, "axgit") != 0) return;
    const State::Axes& ax = g.axes;
    const float tiny = ax.tolerance;
    if (!(ax.y.min + tiny < 0.0f && 0.0f < ax.y.max - tiny)) return;
    const float y0 = plot_y(0.0f);
    strtqq(static_cast<float>(ax.xpos), y0);
    connqq(static_cast<float>(ax.xpos + ax.xlen - 1), y0);
}
