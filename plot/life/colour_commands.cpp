// Colour tables (setvlt), named colours (color) and the current colour
// (setclr), by the colour rules of the active device.
#include "life/colour_commands.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/colour.h"
#include "core/helpers.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

constexpr std::string_view kTableNames = "SMAL+RAIN+SPEC+GREY+RRAI+RSPE+RGRE+VGA +TEMP";
constexpr std::string_view kColourNames = "WHIT+RED +GREE+YELL+BLUE+ORAN+CYAN+MAGE+BLAC+FORE+BACK";

constexpr std::uint32_t kSmall[9] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF,
                                     0xFFFF00, 0xFF5500, 0x00FFFF, 0xFF00FF};

constexpr std::uint32_t kVga[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                    0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                    0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};

// Indices of WHIT, RED, GREE, YELL, BLUE, ORAN, CYAN, MAGE, BLAC per table
// family: small, rainbow, spectrum, grey, VGA.
constexpr int kNamedSmall[9] = {1, 2, 3, 5, 4, 6, 7, 8, 1};
constexpr int kNamedRainbow[9] = {255, 254, 138, 192, 30, 223, 96, 13, 0};
constexpr int kNamedSpectrum[9] = {255, 254, 154, 205, 53, 235, 103, 1, 0};
constexpr int kNamedGrey[9] = {255, 230, 185, 150, 95, 215, 175, 110, 255};
constexpr int kNamedVga[9] = {15, 4, 2, 14, 1, 12, 3, 5, 0};

std::uint32_t pack(int r, int g, int b) {
    return (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) |
           static_cast<std::uint32_t>(b);
}

int rnd_half(double v) {
    return static_cast<int>(v + 0.5);
}

std::uint32_t temperature(int i) {
    const int r = i < 150 ? rnd_half(1.7 * i) : 255;
    const int g = i < 120 ? 0 : rnd_half((i - 120) * 1.8888888888888888);
    const int b = i < 190 ? 0 : rnd_half((i - 190) * 3.923076923076923);
    return pack(std::min(r, 255), std::min(g, 255), std::min(b, 255));
}

const int* named_for(int type) {
    switch (type) {
    case 0: return kNamedSmall;
    case 2:
    case 5: return kNamedSpectrum;
    case 3:
    case 6: return kNamedGrey;
    case 7: return kNamedVga;
    default: return kNamedRainbow; // 1, 4, 8
    }
}

// Devices on a light page draw dark with the tables of types 1..3.
bool light_background(int type) {
    return device().light_page && type >= 1 && type <= 3;
}

int foreground_index(int type) {
    if (light_background(type)) return 0;
    if (type == 0) return 1;
    if (type == 7) return 15;
    return 255;
}

} // namespace

void qqvlt(int type) {
    const DeviceInfo& dev = device();
    int t = std::clamp(type, 0, 8);
    if (dev.small_table_only) t = 0;
    g.colour.type = t;

    // Named colours.
    int* named = g.colour.named;
    std::copy_n(named_for(t), 9, named);
    if (dev.white_is_background && t >= 1 && t <= 3) named[0] = 0;
    if (t >= 4 && t <= 6) {
        for (int i = 1; i <= 7; ++i) named[i] = 255 - named[i];
    }

    // The table itself.
    std::uint32_t* table = g.colour.table;
    const bool swapped = dev.black_white_swapped;
    switch (t) {
    case 0:
        std::copy_n(kSmall, 9, table);
        if (swapped) std::swap(table[0], table[1]);
        break;
    case 1:
    case 4: std::copy_n(kRainbow, 256, table); break;
    case 2:
    case 5: std::copy_n(kSpectrum, 256, table); break;
    case 3:
    case 6:
        for (int i = 0; i < 256; ++i) table[i] = pack(i, i, i);
        break;
    case 7:
        std::copy_n(kVga, 16, table);
        if (swapped) std::swap(table[0], table[15]);
        break;
    default:
        for (int i = 0; i < 256; ++i) table[i] = temperature(i);
        break;
    }
    if (t >= 4 && t <= 6) std::reverse(table, table + 256);

    for (int i = 0; i < 30; ++i) g.colour.cycle[i] = named[i % 8];

    if (g.dev.bgmode == 2 && dev.reverses) {
        const int f = t == 0 ? 1 : (t == 7 ? 15 : 255);
        std::swap(table[0], table[f]);
    }

    g.colour.foreground = foreground_index(t);
    g.colour.background = light_background(t) ? 255 : 0;

    shwvlt();
    qqclr(g.colour.foreground);
}

void shwvlt() {
    active_driver().palette(g.colour.type, g.colour.table);
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::setvlt(std::string_view name) {
    if (jqqlev(1, 3, "setvlt") != 0) return;
    std::string key;
    qqcopy(key, name, 4);
    const int k = jqqind(kTableNames, 9, key);
    if (k == 0) return;
    qqvlt(k - 1);
}

void plotix::color(std::string_view name) {
    if (jqqlev(1, 3, "color") != 0) return;
    std::string key;
    qqcopy(key, name, 4);
    const int k = jqqind(kColourNames, 11, key);
    if (k == 0) return;
    if (k <= 9) {
        qqclr(g.colour.named[k - 1]);
    } else if (k == 10) {
        qqclr(foreground_index(g.colour.type));
    } else {
        qqclr(g.colour.background);
    }
}

void plotix::setclr(int index) {
    if (jqqlev(1, 3, "setclr") != 0) return;
    qqclr(index);
}
