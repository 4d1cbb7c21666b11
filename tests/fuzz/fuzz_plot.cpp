// Fuzz target: the plotting library's public routines.  The input bytes
// choose a sequence of calls and their arguments (NaN, infinities, extreme
// integers, empty, long and non-ASCII strings, calls at the wrong level) and
// the output formats; the files go to a scratch directory.  Each run ends
// with disfin; then the plot must be closed (level 0) and every file written
// must be complete (output_checks.cpp reads each one back).
//
// Only the public interface plotix.h is used.  Its level-0 settings outlive a
// plot (format, file name, message box), so every run starts by choosing a
// format and a file name itself; winini is left out, since nothing public
// undoes it and later runs would depend on an earlier input.
#include "fuzz_check.hpp"
#include "output_checks.hpp"
#include "plotix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- the scratch directory and the captured console -----------------------

struct Scratch {
    fs::path root;    // removed at exit
    fs::path out;     // the plot files of one run
    int console = -1; // standard output, which carries the library's messages
};

void remove_root();

Scratch& scratch() {
    static Scratch s = [] {
        // No screen window may open: it would wait for a mouse click.
        unsetenv("DISPLAY");
        Scratch n;
        std::string tmpl = (fs::temp_directory_path() / "fasogram-fuzz-plot-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) fuzz::fail("cannot create a scratch directory");
        n.root = tmpl;
        n.out = n.root / "out";
        fs::create_directory(n.out);
        const std::string console = (n.root / "console.txt").string();
        n.console = open(console.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 0600);
        if (n.console < 0) fuzz::fail("cannot create the console file");
        std::fflush(stdout);
        dup2(n.console, STDOUT_FILENO);
        std::atexit(remove_root);
        return n;
    }();
    return s;
}

void remove_root() {
    std::error_code ec;
    fs::remove_all(scratch().root, ec);
}

// What the library printed since the last call.
std::string take_console() {
    std::fflush(stdout);
    const int fd = scratch().console;
    std::string text;
    char buf[65536];
    off_t at = 0;
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n) text.append(buf, n);
    if (ftruncate(fd, 0) != 0) fuzz::fail("cannot empty the console file");
    return text;
}

std::string read_file(const fs::path& p) {
    std::string bytes;
    if (std::FILE* f = std::fopen(p.c_str(), "rb")) {
        char buf[1 << 16];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

// ---- argument choices --------------------------------------------------------

const int kInts[] = {0,           1,         -1,        2,     3,       4,       7,
                     8,           9,         10,        11,    16,      17,      18,
                     36,          89,        90,        255,   256,     -255,    360,
                     999,         1000,      1001,      2099,  2969,    10000,   10001,
                     -999,        16777216,  -16777216, 65536, INT_MAX, INT_MIN, INT_MAX - 1,
                     INT_MIN + 1, 100000000, -100000000};

const float kReals[] = {0.0f,
                        -0.0f,
                        1.0f,
                        -1.0f,
                        0.5f,
                        2.0f,
                        10.0f,
                        100.0f,
                        1e-35f,
                        1e30f,
                        -1e30f,
                        std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity(),
                        FLT_MAX,
                        -FLT_MAX,
                        FLT_MIN,
                        std::numeric_limits<float>::denorm_min(),
                        2147483648.0f,
                        -2147483648.0f,
                        16777217.0f,
                        0.1f};

// Output formats: the first kKnownFormats are known to the library (a run
// starts with one of them, which puts the format back after the previous
// run), then a format that may come later, spellings and unknown keywords.
const char* const kFormats[] = {"PS",   "EPS",  "PDF",  "BMP",  "TIFF", "PNG",  "PPM",  "IMAG",
                                "VIRT", "GKSL", "HPGL", "HPA4", "HPA1", "KYOC", "JAVA", "POST",
                                "PSCL", "CGM",  "WMF",  "CONS", "TEKT", "XWIN", "XWND", "MET1",
                                "SVG",  "ps",   "pdf ", "Tiff", "PSX",  "",     "PNG-", "XYZ"};
constexpr std::size_t kKnownFormats = 25;
const char* const kTables[] = {"SMAL", "RAIN", "SPEC", "GREY", "RRAI", "RSPE",
                               "RGRE", "VGA",  "TEMP", "rain", "VGAX", "NONE"};
const char* const kColours[] = {"WHITE",   "RED",   "GREEN", "YELLOW", "BLUE", "ORANGE", "CYAN",
                                "MAGENTA", "BLACK", "FORE",  "BACK",   "red",  "PURPLE", "BLA"};
const char* const kAxes[] = {"X", "Y", "Z", "XY", "XYZ", "x", "yx", "", "Q", "XXXX"};
const char* const kTexts[] = {
    "Hello",        "frecuencia x 1e8", "Coef.Corr.Espec.", "a",   "\xC3\xA1\xC3\xB1 \xE2\x82\xAC",
    "\xFF\xFE\x80", "~!@#$%^&*()",      "\t\n\r",           "999", "{}[]|\\"};

// FASOGRAM_FUZZ_TRACE=1 prints every call and argument an input makes on
// standard error (to read a finding).
const bool kTrace = std::getenv("FASOGRAM_FUZZ_TRACE") != nullptr;

template <class T> T traced(const char* what, T value) {
    if (kTrace) {
        if constexpr (std::is_same_v<T, std::string>) {
            const std::string s = value.size() > 70 ? value.substr(0, 60) + "... (" +
                                                          std::to_string(value.size()) + " bytes)"
                                                    : value;
            std::fprintf(stderr, "    %s '%s'\n", what, fuzz::shown(s).c_str());
        } else if constexpr (std::is_same_v<T, float>) {
            std::fprintf(stderr, "    %s %.9g\n", what, static_cast<double>(value));
        } else {
            std::fprintf(stderr, "    %s %d\n", what, static_cast<int>(value));
        }
    }
    return value;
}

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    bool empty() const { return n_ == 0; }

    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }

    std::uint32_t word() {
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = v << 8 | byte();
        return v;
    }

    template <class T, std::size_t N> T pick(const T (&table)[N]) { return table[byte() % N]; }

    int integer() { return traced("int", integer_value()); }
    float real() { return traced("real", real_value()); }
    std::string text() { return traced("text", text_value()); }
    int count(std::size_t most) { return traced("count", count_value(most)); }

    std::string keyword(const char* const* list, std::size_t count) {
        const std::uint8_t sel = byte();
        if (sel < 224) return traced("keyword", std::string(list[sel % count]));
        return text();
    }

    // A file name inside the scratch directory: '/' cannot occur in the part
    // chosen by the input, so the files stay there.
    std::string file_name() {
        std::string name;
        switch (byte() % 4) {
        case 0: name = "f.out"; break;
        case 1: name = "plotix.ps"; break;
        case 2: name = std::string(60 + byte() % 40, 'n') + ".pdf"; break;
        default: name = text(); break;
        }
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        return traced("file", (scratch().out / "").string() + name);
    }

  private:
    int integer_value() {
        const std::uint8_t sel = byte();
        if (sel < 128) return kInts[sel % std::size(kInts)];
        if (sel < 224) return static_cast<int>(word() % 4096) - 1024; // on and around the page
        return static_cast<int>(word());
    }

    float real_value() {
        const std::uint8_t sel = byte();
        if (sel < 128) return kReals[sel % std::size(kReals)];
        if (sel < 224) return (static_cast<float>(word() % 20001) - 10000.0f) / 100.0f;
        const std::uint32_t bits = word();
        float f;
        static_assert(sizeof f == sizeof bits);
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    std::string text_value() {
        switch (byte() % 8) {
        case 0: return "";
        case 1: return pick(kTexts);
        case 2: return std::string(256, 'W');
        case 3: return std::string(257, 'M');
        case 4: { // long: 1000 to 1255 times one byte
            const std::size_t n = 1000 + byte();
            return std::string(n, static_cast<char>(byte()));
        }
        default: { // raw bytes: NUL, control and non-ASCII bytes included
            std::string s(byte() % 64, ' ');
            for (char& c : s) c = static_cast<char>(byte());
            return s;
        }
        }
    }

    // n values for an array argument; the array always holds what n says
    // (a caller's promise the library relies on), n itself may be anything
    // that asks for no values.
    int count_value(std::size_t most) {
        const std::uint8_t sel = byte();
        switch (sel % 8) {
        case 0: return 0;
        case 1: return -1;
        case 2: return INT_MIN;
        case 3: return 1;
        case 4: return 2;
        case 5: return 3;
        default: return static_cast<int>(byte() % (most + 1));
        }
    }

    const std::uint8_t* p_;
    std::size_t n_;
};

template <class T> std::vector<T> values(Input& in, int n, T (Input::*one)()) {
    std::vector<T> v(n > 0 ? n : 1); // exactly n: a read past them is a finding
    for (T& x : v) x = (in.*one)();
    return v;
}

// ---- one run -------------------------------------------------------------------

void check_returned_text(const std::string& text, int length, const char* routine) {
    fuzz::check(length == static_cast<int>(text.size()),
                std::string(routine) + " returned a length that is not its text's");
    for (char c : text) {
        fuzz::check(c >= 32 && c < 127, std::string(routine) +
                                            " returned a text that is not printable ASCII '" +
                                            fuzz::shown(text) + "'");
    }
}

// The label text of a finite value with 0 to 6 decimals must read back as
// the value within half a unit of its last decimal.
void check_label(float value, int ndig, const std::string& text) {
    if (!std::isfinite(value) || std::fabs(value) > 1e15f || ndig < 0 || ndig > 6) return;
    char* end = nullptr;
    const double back = std::strtod(text.c_str(), &end);
    const double tolerance = 0.5 * std::pow(10.0, -ndig) * (1 + 1e-9) + std::fabs(value) * 1e-15;
    fuzz::check(end != text.c_str() && *end == '\0' && std::fabs(back - value) <= tolerance,
                "fcha(" + std::to_string(value) + ", " + std::to_string(ndig) + ") gave '" +
                    fuzz::shown(text) + "'");
}

const char* const kCalls[42] = {"disini",
                                "disfin",
                                "erase",
                                "getver/getplv",
                                "sendbf",
                                "winupd",
                                "metafl",
                                "setfil",
                                "line",
                                "lintyp",
                                "style",
                                "myline",
                                "setvlt",
                                "color",
                                "setclr",
                                "areaf",
                                "shdpat",
                                "mypat",
                                "pagfll",
                                "axspos",
                                "axslen",
                                "graf",
                                "ticks",
                                "name",
                                "xposn/yposn/nxposn/nyposn",
                                "curve",
                                "grid",
                                "xaxgit",
                                "titlin",
                                "title",
                                "complx",
                                "disalf",
                                "height",
                                "angle",
                                "messag",
                                "nlmess",
                                "intcha",
                                "fcha",
                                "pagera",
                                "paghdr",
                                "disini/graf/curve",
                                "messag"};

void call(Input& in, int& plots) {
    using namespace plotix;
    const int which = in.byte() % 42;
    if (kTrace) std::fprintf(stderr, "%s\n", kCalls[which]);
    switch (which) {
    case 0:
        // A few plots per run at most: each raster plot writes a large image.
        if (plots < 4) {
            ++plots;
            disini();
        }
        break;
    case 1: disfin(); break;
    case 2: erase(); break;
    case 3: getver(), getplv(); break;
    case 4: sendbf(); break;
    case 5: winupd(); break;
    case 6: metafl(in.keyword(kFormats, std::size(kFormats))); break;
    case 7: setfil(in.file_name()); break;
    case 8: {
        const int a = in.integer(), b = in.integer(), c = in.integer(), d = in.integer();
        line(a, b, c, d);
        break;
    }
    case 9: lintyp(in.integer()); break;
    case 10: {
        void (*const styles[])() = {solid, dot, dash, chndsh, chndot, dashm, dotl, dashl};
        const int style = in.byte() % 8;
        if (kTrace) std::fprintf(stderr, "    style %d\n", style);
        styles[style]();
        break;
    }
    case 11: {
        const int n = in.count(12);
        const std::vector<int> pattern = values(in, n, &Input::integer);
        myline(pattern.data(), n);
        break;
    }
    case 12: setvlt(in.keyword(kTables, std::size(kTables))); break;
    case 13: color(in.keyword(kColours, std::size(kColours))); break;
    case 14: setclr(in.integer()); break;
    case 15: {
        const int n = in.count(64);
        const std::vector<int> x = values(in, n, &Input::integer);
        const std::vector<int> y = values(in, n, &Input::integer);
        areaf(x.data(), y.data(), n);
        break;
    }
    case 16: shdpat(in.integer()); break;
    case 17: {
        const int a = in.integer(), b = in.integer(), c = in.integer(), d = in.integer();
        mypat(a, b, c, d);
        break;
    }
    case 18: pagfll(in.integer()); break;
    case 19: {
        const int a = in.integer(), b = in.integer();
        axspos(a, b);
        break;
    }
    case 20: {
        const int a = in.integer(), b = in.integer();
        axslen(a, b);
        break;
    }
    case 21: {
        float v[8];
        for (float& x : v) x = in.real();
        graf(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
        break;
    }
    case 22: {
        const int n = in.integer();
        ticks(n, in.keyword(kAxes, std::size(kAxes)));
        break;
    }
    case 23: {
        const std::string t = in.text();
        name(t, in.keyword(kAxes, std::size(kAxes)));
        break;
    }
    case 24: {
        const float v = in.real();
        xposn(v), yposn(v), nxposn(v), nyposn(v);
        break;
    }
    case 25: {
        const int n = in.count(255);
        const std::vector<float> x = values(in, n, &Input::real);
        const std::vector<float> y = values(in, n, &Input::real);
        curve(x.data(), y.data(), n);
        break;
    }
    case 26: {
        const int a = in.integer(), b = in.integer();
        grid(a, b);
        break;
    }
    case 27: xaxgit(); break;
    case 28: {
        const std::string t = in.text();
        titlin(t, in.integer());
        break;
    }
    case 29: title(); break;
    case 30: complx(); break;
    case 31: disalf(); break;
    case 32: height(in.integer()); break;
    case 33: angle(in.integer()); break;
    case 34: {
        const std::string t = in.text();
        const int x = in.integer(), y = in.integer();
        messag(t, x, y);
        break;
    }
    case 35: {
        const std::string t = in.text();
        fuzz::check(nlmess(t) >= 0, "nlmess returned a negative length");
        break;
    }
    case 36: {
        const int n = in.integer();
        std::string text = "left over";
        const int length = intcha(n, text);
        fuzz::check(text == std::to_string(n),
                    "intcha(" + std::to_string(n) + ") gave '" + fuzz::shown(text) + "'");
        check_returned_text(text, length, "intcha");
        break;
    }
    case 37: {
        const float v = in.real();
        const int ndig = in.integer();
        std::string text = "left over";
        const int length = fcha(v, ndig, text);
        check_returned_text(text, length, "fcha");
        check_label(v, ndig, text);
        break;
    }
    case 38: pagera(); break;
    case 39: {
        const std::string a = in.text(), b = in.text();
        const int pos = in.integer(), dir = in.integer();
        paghdr(a, b, pos, dir);
        break;
    }
    case 40: {
        // A plot on the spot: open, scale, a curve, close, so that short
        // inputs reach the drawing routines at their levels.
        if (plots < 4) {
            ++plots;
            disini();
            graf(0.0f, 10.0f, 0.0f, 2.0f, -1.0f, 1.0f, -1.0f, 0.5f);
            const float x[3] = {0.0f, in.real(), 10.0f}, y[3] = {0.0f, in.real(), 1.0f};
            curve(x, y, 3);
        }
        break;
    }
    default: {
        const std::string t = in.text();
        const int x = in.integer(), y = in.integer();
        messag(t, x, y);
        break;
    }
    }
}

void check_run(const std::string& console) {
    fuzz::check(console.find("Incorrect parameter in errmes") == std::string::npos,
                "a warning without its message text");
    // A routine that needs an open plot, called now, must say that the
    // level is 0.
    plotix::erase();
    const std::string probe = take_console();
    fuzz::check(probe.find("Incorrect level in erase!") != std::string::npos &&
                    probe.find("(   0)") != std::string::npos,
                "the plot is not closed after disfin: '" + fuzz::shown(probe) + "'");
    // FASOGRAM_FUZZ_KEEP=dir keeps the files of every run there, named
    // <run>-<file>, for a look with other readers.
    static int run = 0;
    ++run;
    const char* keep = std::getenv("FASOGRAM_FUZZ_KEEP");
    for (const fs::directory_entry& e : fs::directory_iterator(scratch().out)) {
        const std::string name = e.path().filename().string();
        fuzz::check(e.is_regular_file(), "not a regular file: " + fuzz::shown(name));
        const std::string problem = fuzz::check_output(read_file(e.path()));
        fuzz::check(problem.empty(), fuzz::shown(name) + ": " + problem);
        if (keep != nullptr) {
            fs::copy_file(e.path(), fs::path(keep) / (std::to_string(run) + "-" + name),
                          fs::copy_options::overwrite_existing);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Scratch& s = scratch();
    for (const fs::directory_entry& e : fs::directory_iterator(s.out)) fs::remove_all(e.path());
    take_console();

    Input in(data, size);
    const char* format = kFormats[in.byte() % kKnownFormats];
    if (kTrace) std::fprintf(stderr, "metafl\n    keyword '%s'\nsetfil\n", format);
    plotix::metafl(format);
    plotix::setfil(in.file_name());
    int plots = 0;
    for (int calls = 0; !in.empty() && calls < 500; ++calls) call(in, plots);
    plotix::disfin();

    check_run(take_console());
    return 0;
}
