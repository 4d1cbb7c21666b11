// Page decorations: the border along the page edges and the page header.
#include <algorithm>
#include <string>

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "text/text.h"

using namespace plotix::detail;

void plotix::pagera() {
    if (jqqlev(1, 3, "pagera") != 0) return;
    const auto w = static_cast<float>(g.page.width), h = static_cast<float>(g.page.height);
    qqmove(0.0f, 0.0f);
    qqdraw(0.0f, h);
    qqdraw(w, h);
    qqdraw(w, 0.0f);
    qqdraw(0.0f, 0.0f);
}

void plotix::paghdr(std::string_view text1, std::string_view text2, int position, int direction) {
    if (jqqlev(1, 3, "paghdr") != 0) return;
    if (position < 1 || position > 4) {
        warni1(2, position);
        position = 1;
    }
    if (direction < 0 || direction > 1) {
        warni1(2, direction);
        direction = 1;
    }
    std::string t1, t2;
    qqcopy(t1, text1, 132);
    qqcopy(t2, text2, 132);

    // The stamp: date and time (22 characters) and the version text.
    const std::string stamp =
        dddate() + ", " + ddtime() + ", PLOTIX " + fmt_fixed(kVersion, 3, 1) + " ";
    std::string line = t1.substr(0, 100) + " " + stamp;
    if (line.size() <= 131) line += t2.substr(0, 132 - line.size());

    State::Text& t = g.text;
    const int saved_angle = t.angle, saved_height = t.height;
    int deg = 0;
    if (direction == 1) deg = position == 1 || position == 4 ? 90 : 270;
    set_angle(deg);
    // 0.6 times the height, truncated; a height of 1 stays 1.
    const int h = std::max(1, saved_height * 6 / 10);
    set_height(h);

    const int len = plotix::nlmess(line);
    const int w = g.page.width, ph = g.page.height;
    int x = 0, y = 0;
    if (direction == 0) {
        x = position == 1 || position == 4 ? 100 : w - 100 - len;
        y = position == 1 || position == 2 ? ph - 15 - h : 15;
    } else {
        x = position == 1 || position == 4 ? 15 : w - 15;
        switch (position) {
        case 1: y = ph - 100; break;
        case 2: y = ph - len - 100; break;
        case 3: y = 100; break;
        default: y = len + 100; break;
        }
    }
    qqmess(line, x, y);

    set_angle(saved_angle);
    set_height(saved_height);
}
