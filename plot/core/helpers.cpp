// The level and argument checks of the public routines and the small text
// helpers of every module.
#include "core/helpers.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "core/messages.h"
#include "core/state.h"

namespace plotix::detail {

int jqqlev(int minimum, int maximum, std::string_view name) {
    if (!g.life.initialised) first_call();
    g.msg.routine.assign(name);
    int level = g.life.level;
    if (minimum <= level && level <= maximum) return 0;
    if (level == 0) g.msg.unit = 6;
    warni1(3, level);
    return 1;
}

int chkini(std::string_view name) {
    return jqqlev(1, 3, name);
}

int jqqval(int value, int minimum, int maximum) {
    if (value >= minimum && (maximum < minimum || value <= maximum)) return 0;
    warni1(2, value);
    return 1;
}

int jqqind(std::string_view list, int count, std::string_view keyword) {
    std::string key = keyword4(keyword);
    for (int i = 0; i < count; ++i) {
        std::size_t at = static_cast<std::size_t>(i) * 5;
        if (at >= list.size()) break;
        std::string entry = keyword4(list.substr(at, 4));
        if (entry == key) return i + 1;
    }
    warnc1(2, keyword);
    return 0;
}

int jqquni(int n) {
    double div = g.page.unitdiv;
    if (!(div > 0.0) || !std::isfinite(div)) div = 1.0;
    double v = std::round(static_cast<double>(n) / div);
    if (v > 2147483647.0) return 2147483647;
    if (v < -2147483647.0) return -2147483647;
    return static_cast<int>(v);
}

int jqqyvl(int y) {
    if (g.page.lowerleft == 0) return y;
    long long v = static_cast<long long>(g.page.height) - y;
    if (v > 2147483647LL) v = 2147483647LL;
    return static_cast<int>(v);
}

void qqcopy(std::string& destination, std::string_view source, std::size_t n) {
    destination.assign(source.substr(0, n));
}

void upstr(std::string& s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
}

int trmlen(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') --n;
    return static_cast<int>(n);
}

void dsblnk(std::string& s) {
    std::erase(s, ' ');
}

int dsblnk(std::string& s, int n) {
    const std::size_t head = std::min(s.size(), static_cast<std::size_t>(std::max(n, 0)));
    std::string front = s.substr(0, head);
    std::erase(front, ' ');
    s.replace(0, head, front);
    return static_cast<int>(front.size());
}

std::string keyword4(std::string_view keyword) {
    std::string k;
    qqcopy(k, keyword, 4);
    upstr(k);
    k.resize(4, ' ');
    return k;
}

} // namespace plotix::detail
