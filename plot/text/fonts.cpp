// The alphabet table of the stroked fonts, the font routines and the drawing
// of one glyph.
#include <algorithm>
#include <cmath>

#include "core/helpers.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "text/glyphs.h"
#include "text/text.h"

namespace plotix::detail {

namespace {

using Alphabet = State::Text::Alphabet;

// The read-only view of a registered alphabet for the decoding helpers.
// Records are bounded by the index table itself, so the glyph count serves.
AlphabetData view(const Alphabet& a) {
    return {a.ixptr,     static_cast<std::size_t>(std::max(a.ncoords, 0L)),
            a.ikptr,     static_cast<std::size_t>(std::max(a.nindex, 0L)),
            a.glyphs,    a.glyphs,
            a.fixed != 0};
}

// Point k (0-based) of the alphabet's coordinates in glyph units.
GlyphPoint point(const Alphabet& a, int k) {
    if (a.ibopt == 1) return gbyt01(a.ixptr[k]);
    return {a.ixptr[k], a.iyptr[k]};
}

// Calls stroke(entry) for every stroke entry of glyph gnum in record order.
template <class F> void each_stroke(const Alphabet& a, int gnum, F&& stroke) {
    const AlphabetData d = view(a);
    const long pos = glyph_record(d, gnum);
    if (pos < 0) return;
    const std::size_t end = static_cast<std::size_t>(pos) + static_cast<std::size_t>(d.index[pos]);
    std::size_t k = static_cast<std::size_t>(pos) + 1;
    StrokeEntry e{};
    while (k < end && gconpa(d, k, e) && k + static_cast<std::size_t>(e.words) <= end) {
        stroke(e);
        k += static_cast<std::size_t>(e.words);
    }
}

// Glyph width in glyph units: 6 for the fixed-width alphabets of the default
// font, else the largest x of all points with their stroke offsets.
double width_units(const Alphabet& a, int gnum) {
    if (a.fixed != 0 && g.text.family == kFamilyDefault) return 6.0;
    if (a.ibopt == 1) return gmxcln(view(a), gnum);
    double w = 0.0;
    each_stroke(a, gnum, [&](const StrokeEntry& e) {
        for (int i = 0; i < e.npoints; ++i) {
            w = std::max(w, point(a, e.start - 1 + i).x + e.dx * 0.5);
        }
    });
    return w;
}

void register_alphabet(const AlphabetData* d, int glyphs) {
    if (d == nullptr) return;
    lcsets(d->coords, d->coords, static_cast<long>(d->ncoords), d->index,
           static_cast<long>(d->nindex), glyphs);
}

// Draws one stroke of the loaded alphabet at the text position.
void alfcon(const Alphabet& a, const StrokeEntry& e) {
    const State::Text& t = g.text;
    for (int i = 0; i < e.npoints; ++i) {
        const GlyphPoint p = point(a, e.start - 1 + i);
        const double up = (p.y + e.dy * 0.5) * t.yscale;    // above the baseline
        const double along = (p.x + e.dx * 0.5) * t.xscale; // along the baseline
        const auto x = static_cast<float>(t.x + along * t.cosa - up * t.sina);
        const auto y = static_cast<float>(t.y - along * t.sina - up * t.cosa);
        if (i == 0) {
            qqmove(x, y);
        } else {
            qqdraw(x, y);
        }
    }
}

} // namespace

void lcinit(int family) {
    State::Text& t = g.text;
    t.nalf = 0;
    t.loaded = 0;
    t.family = family;
    t.hardware = 0;
    for (int i = 0; i < 6; ++i) {
        Alphabet& a = t.alf[i];
        a = Alphabet{};
        a.direct = i == 0 ? 1 : 0;
        const int n = i + 1;
        if (family == kFamilyDefault && (n == 1 || n == 2 || n == 4)) {
            a.cellw = 6.0f;
            a.cellh = 7.0f;
            a.extra = 0.0f;
        } else {
            a.cellw = 20.0f;
            a.cellh = 21.0f;
            a.extra = n == 5 ? 0.0f : 0.25f;
        }
    }
    t.space = family == kFamilyDefault ? 6.0f : 9.0f;
}

void lcsets(const std::int16_t* coords, const std::int16_t* ycoords, long ncoords,
            const std::int16_t* index, long nindex, int glyphs) {
    State::Text& t = g.text;
    if (t.nalf >= 6) return;
    Alphabet& a = t.alf[t.nalf];
    const Alphabet& first = t.alf[0];
    const bool registered_first = t.nalf == 0;
    if (ncoords == 0 && !registered_first) {
        a.ixptr = first.ixptr;
        a.iyptr = first.iyptr;
        a.ncoords = first.ncoords;
        a.ibopt = first.ibopt;
    } else {
        a.ixptr = coords;
        a.iyptr = ncoords < 0 ? ycoords : coords;
        a.ncoords = ncoords < 0 ? -ncoords : ncoords;
        a.ibopt = ncoords < 0 ? 0 : 1;
        if (a.ixptr == nullptr || a.iyptr == nullptr) a.ncoords = 0;
    }
    if (nindex == 0 && !registered_first) {
        a.ikptr = first.ikptr;
        a.nindex = first.nindex;
    } else {
        a.ikptr = index;
        a.nindex = index == nullptr || nindex < 0 ? 0 : nindex;
    }
    a.glyphs = glyphs;
    a.fixed = t.family == kFamilyDefault && (registered_first || nindex == 0) ? 1 : 0;
    ++t.nalf;
}

void lcomro() {
    register_alphabet(alphabet_data(kFamilyComplex, 1), 155);
}
void lcomgr() {
    register_alphabet(alphabet_data(kFamilyComplex, 2), 95);
}
void lcmath() {
    register_alphabet(alphabet_data(kFamilyComplex, 3), 95);
}
void lcomit() {
    register_alphabet(alphabet_data(kFamilyComplex, 4), 102);
}
void lcomsc() {
    register_alphabet(alphabet_data(kFamilyComplex, 5), 102);
}
void lcomcy() {
    register_alphabet(alphabet_data(kFamilyComplex, 6), 95);
}
void lcital() {
    lcsets(nullptr, nullptr, 0, nullptr, 0, 102);
}

void load_default_font() {
    lcinit(kFamilyDefault);
    register_alphabet(alphabet_data(kFamilyDefault, 1), 132);
    const AlphabetData* greek = alphabet_data(kFamilyDefault, 2);
    lcsets(nullptr, nullptr, 0, greek->index, static_cast<long>(greek->nindex), 95);
    lcmath();
    lcital();
    lcomsc();
    lcomcy();
}

void load_complex_font() {
    lcinit(kFamilyComplex);
    lcomro();
    lcomgr();
    lcmath();
    lcomit();
    lcomsc();
    lcomcy();
}

void salfpa(int alphabet) {
    State::Text& t = g.text;
    if (t.nalf < 1) load_default_font();
    if (alphabet < 1 || alphabet > t.nalf) alphabet = 1;
    if (t.loaded == alphabet) return;
    const Alphabet& a = t.alf[alphabet - 1];
    const float h = static_cast<float>(t.height);
    t.xscale = (h - 1.0f) / a.cellw;
    t.yscale = (h - 1.0f) / a.cellh;
    t.trail = a.extra * h;
    t.loaded = alphabet;
}

double glyph_width(int gnum) {
    const State::Text& t = g.text;
    if (t.loaded < 1) return 0.0;
    const Alphabet& a = t.alf[t.loaded - 1];
    if (gnum < 2 || gnum > a.glyphs || glyph_record(view(a), gnum) < 0) {
        return t.space * t.xscale;
    }
    return width_units(a, gnum) * t.xscale;
}

void qqglyph(int alphabet, int gnum) {
    salfpa(alphabet);
    State::Text& t = g.text;
    const Alphabet& a = t.alf[t.loaded - 1];
    if (gnum > a.glyphs) gnum = 1;
    const double w = glyph_width(gnum);
    if (gnum >= 2 && t.measure == 0)
        each_stroke(a, gnum, [&a](const StrokeEntry& e) { alfcon(a, e); });
    const double step = w + t.trail;
    t.x = static_cast<float>(t.x + step * t.cosa);
    t.y = static_cast<float>(t.y - step * t.sina);
}

void alfcha(int code) {
    if (code < 32) code = 32;
    qqglyph(1, code - 31);
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::complx() {
    if (chkini("complx") != 0) return;
    load_complex_font();
}

void plotix::disalf() {
    if (chkini("disalf") != 0) return;
    load_default_font();
}
