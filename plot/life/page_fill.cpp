// pagfll: the whole page filled with one colour.
#include "core/colour.h"
#include "core/helpers.h"
#include "core/state.h"
#include "pipeline/style.h"
#include "plotix.h"

void plotix::pagfll(int clr) {
    using namespace plotix::detail;
    if (jqqlev(1, 3, "pagfll") != 0) return;
    const int previous = g.colour.current;
    dbox(0.0f, 0.0f, static_cast<float>(g.page.width), static_cast<float>(g.page.height), clr);
    setclr(previous);
}
