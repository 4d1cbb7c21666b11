// String drawing: height and angle, the start point and baseline of a
// string, the exponent mode, string widths and the character shift.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "plotix.h"
#include "text/text.h"

namespace plotix::detail {

namespace {

// Letters that may follow a shift character, per group, and the internal
// character codes that replace the pair.
struct ShiftGroup {
    std::string_view letters;
    unsigned char codes[10];
};
constexpr ShiftGroup kShift[7] = {
    {"AOUaous", {127, 128, 129, 130, 131, 132, 133}},
    {"AOEaoe", {134, 135, 136, 137, 138, 139}},
    {"Nn!?", {140, 141, 185, 186}},
    {"CcEIei", {142, 143, 144, 145, 146, 147}},
    {"AEIOUaeiou", {148, 149, 150, 151, 152, 153, 154, 155, 156, 157}},
    {"AEIOUaeiou", {158, 159, 160, 161, 162, 163, 164, 165, 166, 167}},
    {"AEIOUaeiou", {168, 169, 170, 171, 172, 173, 174, 175, 176, 177}},
};

// Rounds half away from zero, kept within the int range.
int round_away(double v) {
    if (!std::isfinite(v)) return 0;
    v = std::round(v);
    v = std::clamp(v, -2147483647.0, 2147483647.0);
    return static_cast<int>(v);
}

// Start and end points outside the page write one warning line each; the
// start warning also needs warnings on, the end warning only a message unit.
bool off_page(long long x, long long y) {
    return x < 0 || x > g.page.width || y < 0 || y > g.page.height;
}

void page_warning(const char* what, long long x, long long y, bool needs_warnings_on) {
    ++g.count.warnings;
    if (g.msg.unit == 0 || (needs_warnings_on && g.msg.warnings_on == 0)) return;
    auto clamp = [](long long v) { return std::clamp<long long>(v, -2147483647LL, 2147483647LL); };
    message_write(std::string(" <<<< Warning: ") + what + " (" + fmt_int(clamp(x), 5) + "/" +
                  fmt_int(clamp(y), 5) + ") " + "in MESSAG out of page - (" +
                  g.text.buffer.substr(0, 8) + ").\n");
}

// The new height of a raised or lowered exponent.
int exponent_height() {
    const State::Text& t = g.text;
    return std::clamp(round_away(static_cast<double>(t.exp_size) * t.height), 1, kHeightMax);
}

// Copies s into the string buffer and applies the character shift; returns
// the length without trailing blanks.
int take_string(std::string_view s) {
    State::Text& t = g.text;
    qqcopy(t.buffer, s, kTextBuffer);
    strsft(t.buffer);
    return trmlen(t.buffer);
}

// The per-string resets.
void start_string() {
    State::Text& t = g.text;
    t.measure = 0;
    t.loaded = 0;
    t.saved_height = t.height;
    t.current = 1;
}

void restore_height() {
    if (g.text.height != g.text.saved_height) set_height(g.text.saved_height);
}

} // namespace

void set_height(int n) {
    g.text.height = n;
    g.text.loaded = 0;
}

void set_angle(int deg) {
    State::Text& t = g.text;
    t.angle = deg;
    const double r = static_cast<double>(deg) * static_cast<double>(g.k.deg2rad);
    t.sina = static_cast<float>(std::sin(r));
    t.cosa = static_cast<float>(std::cos(r));
}

void strsft(std::string& s) {
    if (g.text.shift_on == 0) return;
    const int n = trmlen(s);
    const std::string first = s.substr(0, 1);
    std::string out;
    int i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        int group = -1;
        for (int k = 6; k >= 0 && i + 1 < n; --k) {
            if (g.text.shift[k] == c) {
                group = k;
                break;
            }
        }
        if (group < 0) {
            out += s[i++];
            continue;
        }
        const char next = s[i + 1];
        const std::size_t at = kShift[group].letters.find(next);
        if (static_cast<unsigned char>(next) == c) {
            out += s[i];
            i += 2;
        } else if (at != std::string_view::npos) {
            out += static_cast<char>(kShift[group].codes[at]);
            i += 2;
        } else {
            warnc1(18, first);
            out += s[i++];
        }
    }
    s = out;
}

namespace {
TextObserver& text_observer() {
    static TextObserver observer;
    return observer;
}
} // namespace

void set_text_observer(TextObserver observer) {
    text_observer() = std::move(observer);
}

void qqmess(std::string_view s, int x, int y) {
    if (jqqlev(1, 3, "messag") != 0) return;
    State::Text& t = g.text;
    const int n = take_string(s);
    if (n == 0) return;
    const std::string text = t.buffer.substr(0, static_cast<std::size_t>(n));
    if (text_observer()) text_observer()(text, x, y);
    start_string();

    if (x != 999 || y != 999) {
        const long long xs = static_cast<long long>(x) + g.pen.ox;
        const long long ys = static_cast<long long>(y) + g.pen.oy;
        const double down = t.height - 1.0;
        t.x = static_cast<float>(static_cast<double>(xs) + down * t.sina);
        t.y = static_cast<float>(static_cast<double>(ys) + down * t.cosa);
        if (off_page(xs, ys)) page_warning("Startpoint", xs, ys, true);
    }

    double accx = 0.0, accy = 0.0; // accumulated exponent offset
    for (const char ch : text) {
        if (t.expmode != 0 && (ch == t.raise || ch == t.lower || ch == t.back)) {
            if (ch == t.raise) {
                const double d = static_cast<double>(t.exp_offset) * t.height;
                t.x = static_cast<float>(t.x - d * t.sina);
                t.y = static_cast<float>(t.y - d * t.cosa);
                accx -= d * t.sina;
                accy -= d * t.cosa;
                set_height(exponent_height());
            } else if (ch == t.lower) {
                set_height(exponent_height());
                const double d = static_cast<double>(t.exp_offset) * t.height;
                t.x = static_cast<float>(t.x + d * t.sina);
                t.y = static_cast<float>(t.y + d * t.cosa);
                accx += d * t.sina;
                accy += d * t.cosa;
            } else {
                set_height(t.saved_height);
                t.x = static_cast<float>(t.x - accx);
                t.y = static_cast<float>(t.y - accy);
                accx = accy = 0.0;
            }
            continue;
        }
        alfcha(static_cast<unsigned char>(ch));
    }
    t.x = static_cast<float>(t.x - accx);
    t.y = static_cast<float>(t.y - accy);

    const int ex = round_away(t.x - static_cast<double>(t.trail) * t.cosa);
    const int ey = round_away(t.y + static_cast<double>(t.trail) * t.sina);
    if (off_page(ex, ey)) page_warning("Endpoint  ", ex, ey, false);
    restore_height();
}

void dtext(std::string_view s, int x, int y, int angle, int height) {
    const int old_height = g.text.height, old_angle = g.text.angle;
    if (height != old_height) plotix::height(height);
    if (angle != old_angle) plotix::angle(angle);
    if (x == 999 && y == 999) x = 1000;
    qqmess(s, x, y);
    if (g.text.height != old_height) plotix::height(old_height);
    if (g.text.angle != old_angle) plotix::angle(old_angle);
}

void dnumqq(float value, int ndig, int x, int y) {
    std::string text;
    plotix::fcha(value, ndig, text);
    qqmess(text, x, y);
}

int flen(float value, int ndig) {
    if (!std::isfinite(value)) return static_cast<int>(fmt_fixed(value, 0, 0).size());
    ndig = std::clamp(ndig, -1, 100);
    const double a = std::fabs(static_cast<double>(value));
    double v;
    if (ndig <= 0) {
        v = a + 0.5;
    } else {
        const double p = std::pow(10.0, ndig);
        v = (a * p + 0.5) / p;
    }
    const double whole = std::floor(v);
    int d = 1;
    while (d < 100 && !(std::pow(10.0, d) - 0.5 > whole)) ++d;
    return ndig + d + 1 + (value < 0.0f ? 1 : 0);
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::height(int n) {
    if (chkini("height") != 0) return;
    if (jqqval(n, 1, kHeightMax) != 0) return;
    set_height(n);
}

void plotix::angle(int deg) {
    if (chkini("angle") != 0) return;
    set_angle(deg);
}

void plotix::messag(std::string_view text, int x, int y) {
    if (chkini("messag") != 0) return;
    qqmess(text, x, jqqyvl(y));
}

int plotix::nlmess(std::string_view text) {
    State::Text& t = g.text;
    const int n = take_string(text);
    if (n == 0) return 0;
    const std::string s = t.buffer.substr(0, static_cast<std::size_t>(n));
    const float keep_x = t.x, keep_y = t.y;
    start_string();
    t.measure = 1;
    t.x = t.y = 0.0f;
    int longest = 0;
    for (const char ch : s) {
        if (t.expmode != 0 && (ch == t.raise || ch == t.lower)) {
            set_height(exponent_height());
            continue;
        }
        if (t.expmode != 0 && ch == t.back) {
            set_height(t.saved_height);
            continue;
        }
        alfcha(static_cast<unsigned char>(ch));
        const double ex = t.x - static_cast<double>(t.trail) * t.cosa;
        const double ey = t.y + static_cast<double>(t.trail) * t.sina;
        longest = std::max(longest, round_away(std::hypot(ex, ey)));
    }
    restore_height();
    t.x = keep_x;
    t.y = keep_y;
    t.measure = 0;
    return longest;
}

int plotix::intcha(int n, std::string& text) {
    text = fmt_int(n);
    return static_cast<int>(text.size());
}

int plotix::fcha(float value, int ndig, std::string& text) {
    if (ndig < -1) ndig = -1;
    if (ndig > 100) ndig = 100;
    const double v = value;
    if (ndig == -1 && std::isfinite(v)) {
        text = fmt_fixed(std::round(v) + 0.0, 0, 0);
    } else {
        text = fmt_fixed(v, flen(value, ndig), std::max(ndig, 0));
    }
    return static_cast<int>(text.size());
}
