// Colour tables, named colours, the foreground choice and the colour records
// of the drivers.
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "core/colour.h"
#include "plotix.h"
#include "test_support.h"

#ifndef PLOTIX_TEST_DATA
#error "PLOTIX_TEST_DATA must name the test data directory"
#endif

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

std::uint32_t rgb(int r, int gr, int b) {
    return std::uint32_t(r) << 16 | std::uint32_t(gr) << 8 | std::uint32_t(b);
}

// The stored tables as printed in the reference table file: rows of
// "| first–last | RRGGBB ... |" after the headings "Rainbow:" and "Spectrum:".
std::map<std::string, std::vector<std::uint32_t>> printed_tables() {
    std::ifstream in(std::string(PLOTIX_TEST_DATA) + "/colour_tables.md");
    std::map<std::string, std::vector<std::uint32_t>> out;
    const std::string dash = "\xE2\x80\x93"; // the en dash between first and last
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.ends_with(":")) current = line.substr(0, line.size() - 1);
        // "| first–last | RRGGBB ... |"
        if (!line.starts_with("| ") || !line.ends_with(" |")) continue;
        const std::size_t d = line.find(dash), bar = line.find(" | ", 2);
        if (d == std::string::npos || bar == std::string::npos || d > bar) continue;
        const std::string first = line.substr(2, d - 2);
        const std::string last = line.substr(d + dash.size(), bar - d - dash.size());
        if (first.empty() || last.empty() ||
            first.find_first_not_of("0123456789") != std::string::npos ||
            last.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::vector<std::uint32_t>& t = out[current];
        EXPECT_EQ(std::stoul(first), t.size()) << line; // rows in index order
        std::istringstream words(line.substr(bar + 3, line.size() - 2 - (bar + 3)));
        std::string w;
        while (words >> w) {
            EXPECT_EQ(w.size(), 6u) << line;
            EXPECT_EQ(w.find_first_not_of("0123456789ABCDEF"), std::string::npos) << line;
            t.push_back(std::uint32_t(std::stoul(w, nullptr, 16)));
        }
        EXPECT_EQ(std::stoul(last) + 1, t.size()) << line;
    }
    return out;
}

class Colours : public PlotixTest {
  protected:
    void start(const char* format) {
        record();
        plotix::metafl(format);
        plotix::disini();
    }
    std::uint32_t entry(int i) const { return g.colour.table[i]; }
    std::uint32_t current() const { return g.colour.table[g.colour.current]; }
};

} // namespace

TEST_F(Colours, StoredTablesMatchThePrintedTables) {
    auto printed = printed_tables();
    ASSERT_EQ(printed["Rainbow"].size(), 256u);
    ASSERT_EQ(printed["Spectrum"].size(), 256u);
    start("CONS"); // no background swap
    for (const auto& [name, keyword] :
         {std::pair{"Rainbow", "RAINBOW"}, {"Spectrum", "SPECTRUM"}}) {
        plotix::setvlt(keyword);
        const auto& t = printed[name];
        for (int i = 0; i < 256; ++i) EXPECT_EQ(entry(i), t[i]) << name << " entry " << i;
    }
    // Reversed tables run backwards.
    plotix::setvlt("RSPE");
    const auto& spectrum = printed["Spectrum"];
    for (int i = 0; i < 256; ++i) ASSERT_EQ(entry(i), spectrum[255 - i]) << i;
    EXPECT_EQ(console_text(), "");
}

TEST_F(Colours, ComputedTables) {
    start("CONS");
    plotix::setvlt("GREY");
    for (int i : {0, 1, 128, 254, 255}) EXPECT_EQ(entry(i), rgb(i, i, i));
    plotix::setvlt("RGRE");
    EXPECT_EQ(entry(0), rgb(255, 255, 255));
    EXPECT_EQ(entry(200), rgb(55, 55, 55));
    plotix::setvlt("TEMP");
    EXPECT_EQ(entry(0), rgb(0, 0, 0));
    EXPECT_EQ(entry(100), rgb(170, 0, 0));
    EXPECT_EQ(entry(119), rgb(202, 0, 0));   // 202.3
    EXPECT_EQ(entry(149), rgb(253, 55, 0));  // 253.3, 54.78
    EXPECT_EQ(entry(150), rgb(255, 57, 0));  // green 56.67
    EXPECT_EQ(entry(191), rgb(255, 134, 4)); // green 134.1, blue 3.92
    EXPECT_EQ(entry(255), rgb(255, 255, 255));

    // The small and VGA tables overwrite only their own entries.
    plotix::setvlt("RAIN");
    plotix::setvlt("SMAL");
    EXPECT_EQ(entry(0), rgb(0, 0, 0));
    EXPECT_EQ(entry(6), rgb(255, 85, 0));
    EXPECT_EQ(entry(8), rgb(255, 0, 255));
    EXPECT_EQ(entry(9), 0x330088u); // still the rainbow's
    plotix::setvlt("VGA");
    EXPECT_EQ(entry(6), rgb(170, 85, 0));
    EXPECT_EQ(entry(15), rgb(255, 255, 255));
    EXPECT_EQ(entry(16), 0x2900BEu);
    EXPECT_EQ(g.colour.type, 7);
    EXPECT_EQ(g.colour.current, 15); // the foreground of the VGA table
}

TEST_F(Colours, NamedColoursPerTable) {
    start("CONS");
    plotix::color("GREEN");
    EXPECT_EQ(g.colour.current, 138);
    EXPECT_EQ(current(), rgb(0, 255, 0));
    plotix::color("BLACK");
    EXPECT_EQ(g.colour.current, 0);
    plotix::setvlt("SMAL");
    plotix::color("BLAC");
    EXPECT_EQ(g.colour.current, 1);
    plotix::color("orange");
    EXPECT_EQ(current(), rgb(255, 85, 0));
    plotix::setvlt("GREY");
    plotix::color("BLACK");
    EXPECT_EQ(g.colour.current, 255);
    plotix::setvlt("SPEC");
    plotix::color("MAGENTA");
    EXPECT_EQ(g.colour.current, 1);
    EXPECT_EQ(current(), rgb(255, 0, 255));

    plotix::setvlt("RRAI"); // reversed rainbow: the names follow their colours
    EXPECT_EQ(entry(0), rgb(255, 255, 255));
    EXPECT_EQ(entry(255), rgb(0, 0, 0));
    EXPECT_EQ(entry(117), rgb(0, 255, 0));
    plotix::color("GREEN");
    EXPECT_EQ(g.colour.current, 117);
    plotix::color("RED");
    EXPECT_EQ(current(), rgb(255, 0, 0));
    plotix::color("WHITE");
    EXPECT_EQ(g.colour.current, 255); // white and black keep their indices
    plotix::setvlt("RSPE");
    plotix::color("GREEN");
    EXPECT_EQ(g.colour.current, 101);

    // Cycle colours: white, red, green, yellow, blue, orange, cyan, magenta, ...
    plotix::setvlt("RAIN");
    const int cycle[30] = {255, 254, 138, 192, 30, 223, 96, 13, 255, 254, 138, 192, 30, 223, 96, 13,
                           255, 254, 138, 192, 30, 223, 96, 13, 255, 254, 138, 192, 30, 223};
    EXPECT_EQ(std::vector<int>(g.colour.cycle, g.colour.cycle + 30),
              std::vector<int>(cycle, cycle + 30));
    EXPECT_EQ(console_text(), "");
}

TEST_F(Colours, ForegroundAndBackgroundPerFormat) {
    // "PS": reversed background, entry 0 white and the foreground 255 black.
    start("PS");
    EXPECT_EQ(g.colour.type, 1);
    EXPECT_EQ(g.colour.current, 255);
    EXPECT_EQ(current(), rgb(0, 0, 0));
    EXPECT_EQ(entry(0), rgb(255, 255, 255));
    plotix::color("RED");
    plotix::color("FORE");
    EXPECT_EQ(g.colour.current, 255);
    EXPECT_EQ(current(), rgb(0, 0, 0));
    plotix::color("BACK");
    EXPECT_EQ(g.colour.current, 0);
    EXPECT_EQ(current(), rgb(255, 255, 255));
    plotix::setvlt("SMAL"); // swaps entries 0 and 1
    EXPECT_EQ(entry(0), rgb(255, 255, 255));
    EXPECT_EQ(g.colour.current, 1);
    EXPECT_EQ(current(), rgb(0, 0, 0));
    plotix::disfin();

    // "POST": the reversed grey table, black foreground on white.
    plotix::metafl("POST");
    plotix::disini();
    EXPECT_EQ(g.colour.type, 6);
    EXPECT_EQ(g.colour.current, 255);
    EXPECT_EQ(current(), rgb(0, 0, 0));
    plotix::setvlt("RAIN"); // types 1..3 draw with index 0 on background 255
    EXPECT_EQ(g.colour.current, 0);
    EXPECT_EQ(g.colour.background, 255);
    plotix::color("FORE");
    EXPECT_EQ(g.colour.current, 0);
    plotix::setvlt("VGA"); // white first: entries 0 and 15 exchanged
    EXPECT_EQ(entry(0), rgb(255, 255, 255));
    EXPECT_EQ(entry(15), rgb(0, 0, 0));
    EXPECT_EQ(g.colour.current, 15);
    plotix::disfin();

    // Screens draw white on black.
    plotix::metafl("CONS");
    plotix::disini();
    EXPECT_EQ(g.colour.current, 255);
    EXPECT_EQ(current(), rgb(255, 255, 255));
    EXPECT_EQ(entry(0), rgb(0, 0, 0));
    plotix::disfin();

    // The printer knows only the small table; the metafiles with a light page
    // have no white.
    plotix::metafl("KYOC");
    plotix::disini();
    EXPECT_EQ(g.colour.type, 0);
    plotix::setvlt("SPEC");
    EXPECT_EQ(g.colour.type, 0);
    plotix::disfin();
    plotix::metafl("CGM");
    plotix::disini();
    EXPECT_EQ(g.colour.named[0], 0);
    plotix::setvlt("RSPE");
    EXPECT_EQ(g.colour.named[0], 255);
    plotix::disfin();
}

TEST_F(Colours, BadNamesAndIndicesChangeNothing) {
    start("CONS");
    plotix::color("CYAN");
    std::array<std::uint32_t, 256> before;
    std::memcpy(before.data(), g.colour.table, sizeof g.colour.table);
    console_text();
    events.clear();
    plotix::setvlt("PASTEL");
    plotix::color("PURPLE");
    plotix::color("");
    plotix::setclr(256);
    plotix::setclr(-1);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in setvlt!   (PAST)\n"
                              " <<<< Warning   2: Incorrect parameter in color!   (PURP)\n"
                              " <<<< Warning   2: Incorrect parameter in color!   ()\n"
                              " <<<< Warning   2: Incorrect parameter in setclr!   ( 256)\n"
                              " <<<< Warning   2: Incorrect parameter in setclr!   (  -1)\n");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(g.colour.current, 96);
    EXPECT_EQ(std::memcmp(before.data(), g.colour.table, sizeof g.colour.table), 0);
    plotix::disfin();
    console_text();
    plotix::color("RED");
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in color!   (   0)\n");
}

TEST_F(Colours, ColourChangesReachTheDriver) {
    start("CONS");
    // disini loaded the table into the screen palette and chose the foreground.
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], (Event{'l', 0, 0, 1}));
    EXPECT_EQ(events.back(), (Event{'c', 0, 0, 255}));
    events.clear();
    plotix::line(0, 0, 10, 0); // pending until the colour change strokes it
    plotix::setclr(7);
    plotix::setclr(7); // the screen hears every call
    plotix::setvlt("GREY");
    EXPECT_EQ(events,
              (std::vector<Event>{mv(0, 0), dr(10, 0), Event{'c', 0, 0, 7}, Event{'c', 0, 0, 7},
                                  Event{'l', 0, 0, 3}, Event{'c', 0, 0, 255}}));
    plotix::disfin();
}

TEST_F(Colours, PostScriptColourCommands) {
    plotix::metafl("PS");
    plotix::setfil("c.ps");
    plotix::disini();
    plotix::line(0, 0, 100, 0);
    plotix::color("GREEN");
    plotix::color("GREEN"); // written again, with no empty path between
    plotix::color("FORE");
    plotix::disfin();
    auto lines = split_lines(read_file("c.ps"));
    ASSERT_EQ(lines.size(), 87u);
    EXPECT_EQ(lines[86], "0 0 0 f 0 0 u 0 186 d p 0 255 0 f 0 255 0 f 0 0 0 f showpage ");
}

TEST_F(PlotixTest, PlotterPenPerColour) {
    plotix::metafl("HPGL");
    plotix::disini();
    plotix::color("GREEN");
    plotix::color("GREEN"); // same pen: nothing written
    plotix::setclr(255);
    plotix::disfin();
    EXPECT_EQ(read_file("plotix.hpg"), " SP1;\nSP255;SP138;SP255;PU0,0;\n");
}
