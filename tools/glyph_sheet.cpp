// Draws every glyph of every alphabet of both stroked fonts in a grid, one
// PostScript page per font, through the plotting library itself.
//
//   glyph_sheet [prefix]   writes <prefix>_complex.ps and <prefix>_default.ps
//                          (default prefix: glyphs)
//
// tools/glyph_sheet.sh renders the pages to docs/glyph_chart.png.
#include <algorithm>
#include <string>

#include "core/state.h"
#include "plotix.h"
#include "text/glyphs.h"
#include "text/text.h"

namespace d = plotix::detail;
using d::g;

namespace {

constexpr int kColumns = 32;
constexpr int kLeft = 170, kRight = 40, kTop = 40;
constexpr int kGlyphHeight = 50, kRowHeight = 80, kLabelHeight = 28, kLabelGap = 46;
constexpr int kSectionGap = 18; // room for the descenders above the next label

const char* const kLoaders[2][6] = {
    {"lcomro", "lcomgr", "lcmath", "lcomit", "lcomsc", "lcomcy"},
    {"disalf", "disalf", "lcmath", "lcital", "lcomsc", "lcomcy"},
};
const char* const kNames[6] = {"roman", "Greek", "signs", "italic", "script", "Cyrillic"};

// Number of glyph numbers from 2 on that have a record in alphabet k.
int last_glyph(int k) {
    const auto& a = g.text.alf[k - 1];
    const d::AlphabetData view{a.ixptr,     static_cast<std::size_t>(a.ncoords),
                               a.ikptr,     static_cast<std::size_t>(a.nindex),
                               a.glyphs,    a.glyphs,
                               a.fixed != 0};
    int last = 1;
    while (last < a.glyphs && d::glyph_record(view, last + 1) >= 0) ++last;
    return last;
}

void page(const std::string& file, bool complex) {
    plotix::metafl("PS");
    plotix::setfil(file);
    plotix::disini();
    plotix::pagera();
    if (complex) plotix::complx();
    const int fam = complex ? 0 : 1;
    const double cell = (g.page.width - kLeft - kRight) / double(kColumns);

    plotix::height(44);
    plotix::messag(complex ? "Complex font (complx): every glyph of alphabets 1-6"
                           : "Default font (disalf): every glyph of alphabets 1-6",
                   kLeft, kTop);
    int y = kTop + 70;
    for (int k = 1; k <= 6; ++k) {
        const int last = last_glyph(k);
        std::string from, to;
        plotix::intcha(last, to);
        plotix::height(kLabelHeight);
        plotix::messag(std::string("Alphabet ") + char('0' + k) + " (" + kNames[k - 1] + ", " +
                           kLoaders[fam][k - 1] + "): glyph numbers 2-" + to +
                           (k == 1 ? ", character codes 33-" + std::to_string(last + 31) : ""),
                       kLeft, y);
        y += kLabelGap;
        for (int gnum = 2; gnum <= last; ++gnum) {
            const int col = (gnum - 2) % kColumns;
            if (col == 0) {
                if (gnum > 2) y += kRowHeight;
                std::string num;
                plotix::intcha(gnum, num);
                plotix::height(22);
                plotix::messag(num, 40, y + 20);
            }
            plotix::height(kGlyphHeight);
            d::salfpa(k);
            const double w = d::glyph_width(gnum);
            g.text.x = static_cast<float>(kLeft + col * cell + std::max(0.0, (cell - w) / 2));
            g.text.y = static_cast<float>(y + kGlyphHeight - 1);
            d::qqglyph(k, gnum);
        }
        y += kRowHeight + kSectionGap;
    }
    plotix::disfin();
}

} // namespace

int main(int argc, char** argv) {
    const std::string prefix = argc > 1 ? argv[1] : "glyphs";
    page(prefix + "_complex.ps", true);
    page(prefix + "_default.ps", false);
    return 0;
}
