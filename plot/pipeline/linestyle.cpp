// Line styles: the eight predefined dash patterns, user patterns and the
// restart of the pattern. connqq (pen.cpp) walks the pattern.
#include <algorithm>
#include <cmath>

#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "pipeline/style.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

struct Style {
    int n;
    int len[4];
};

// Element lengths in plot units before the unit divisor: drawn, skipped, ...
constexpr Style kStyles[8] = {
    {1, {1}},              // solid
    {2, {1, 10}},          // dot
    {2, {10, 10}},         // dash
    {4, {30, 15, 10, 15}}, // chain dash
    {4, {1, 15, 15, 15}},  // chain dot
    {2, {20, 15}},         // medium dash
    {2, {1, 20}},          // long dot
    {2, {30, 20}},         // long dash
};

int scaled_length(int v) {
    double div = g.page.unitdiv;
    if (!(div > 0.0) || !std::isfinite(div)) div = 1.0;
    const double l = std::trunc(v / div + 0.5);
    if (!(l >= 1.0)) return 1;
    return l > 1.0e9 ? 1000000000 : static_cast<int>(l);
}

} // namespace

bool qqltyp(int n) {
    if (jqqval(n, 0, 7) != 0) return false;
    g.style.type = n;
    int len[4];
    const Style& s = kStyles[n];
    for (int i = 0; i < s.n; ++i) len[i] = scaled_length(s.len[i]);
    return qqmyln(len, s.n);
}

bool qqmyln(const int* pattern, int n) {
    if (jqqval(n, 1, 10) != 0) return false;
    if (pattern == nullptr) {
        warni1(2, n);
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (pattern[i] < 1) {
            warni1(2, pattern[i]);
            return false;
        }
    }
    std::copy_n(pattern, n, g.style.pattern);
    g.style.n = n;
    inityp();
    return true;
}

void inityp() {
    g.style.phase = 0;
    g.style.index = 1;
    g.style.remaining = static_cast<float>(std::max(g.style.pattern[0], 1));
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::lintyp(int n) {
    if (chkini("lintyp") != 0) return;
    qqltyp(n);
}

void plotix::myline(const int pattern[], int n) {
    if (chkini("myline") != 0) return;
    qqmyln(pattern, n);
}

#define PLOTIX_NAMED_STYLE(name, type)                                                             \
    void plotix::name() {                                                                          \
        if (chkini(#name) != 0) return;                                                            \
        qqltyp(type);                                                                              \
    }

PLOTIX_NAMED_STYLE(solid, 0)
PLOTIX_NAMED_STYLE(dot, 1)
PLOTIX_NAMED_STYLE(dash, 2)
PLOTIX_NAMED_STYLE(chndsh, 3)
PLOTIX_NAMED_STYLE(chndot, 4)
PLOTIX_NAMED_STYLE(dashm, 5)
PLOTIX_NAMED_STYLE(dotl, 6)
PLOTIX_NAMED_STYLE(dashl, 7)

#undef PLOTIX_NAMED_STYLE
