// The numbered warnings and their texts, where messages go, and the summary
// box printed at disfin.
#include "core/messages.h"

#include <algorithm>

#include "core/console.h"
#include "core/format.h"
#include "core/state.h"

namespace plotix::detail {

namespace {

constexpr const char* kMessages[59] = {
    " ",
    "Negative parameter",
    "Incorrect parameter",
    "Incorrect level",
    "X coordinate out of page",
    "Y coordinate out of page",
    "Same tick number as in a call before",
    "First radius greater than second radius",
    "Start angle greater/equal end angle",
    "Step equal zero",
    "Begin and end of scaling are equal",
    "Axis length < 2",
    "Startlabel out of scaling",
    "Linear scaling must be used",
    "Linear interpolation must be used",
    "No call to legini before",
    "Too long string for legend line",
    "Not enough store for the legend buffer",
    "Incorrect character after the eushft operator",
    "The basealphabet cannot be used",
    "No metafile",
    "The routine must be called after disfin",
    "The metafile is deleted before",
    "Non positive minimum for log scaling (set to 0.1)",
    "Non positive maximum for log scaling (set to 1.0)",
    "Minimum equal maximum (added -1 and +1)",
    "Too many intersections",
    "Non positive values for log scaling",
    "Number of bars unequal number of main ticks",
    "Sum of data is zero",
    "Incorrect number of points",
    "Incorrect number of points for spline interpolation",
    "No increasing x coordinates for spline interpolation",
    "Incorrect viewpoint",
    "No call to grfini before",
    "Confusion of graf3d and graf3",
    "File error",
    "Incorrect filename",
    "Singular matrix",
    "Too many pages for CGM file (max. length 327 cm)",
    "File format and output device are incompatible",
    "Incorrect device for HPGL file",
    "More legend lines than calls to curve",
    "Instruction code: incorrect parameter",
    "Instruction code: incorrect tabulator index",
    "Instruction code: no integer value",
    "Instruction code: unknown command",
    "Blanking buffer overflow",
    "No call to psfont",
    "Fileformat is not PostScript",
    "Incorrect sign for step",
    "Non positive parameter",
    "Hiddenline overflow",
    "Not enough memory",
    "No call to imgfin",
    "No call to imgini",
    "Incorrect file format",
    "Control characters must be different",
    "Array is out of screen",
};

constexpr int kTextMax = 132; // longest text value printed in a warning

bool printing() {
    return g.msg.unit != 0 && g.msg.warnings_on != 0;
}

std::string head(int number) {
    return " <<<< Warning " + fmt_int(number, 3) + ": " + g.msg.text + " in " + g.msg.routine + "!";
}

void write_to(std::FILE* f, std::string_view text) {
    if (f != nullptr && !text.empty()) std::fwrite(text.data(), 1, text.size(), f);
}

std::string patch_text() {
    const int plv = kPatchLevel;
    if (plv == 0) return " ";
    return std::string(1, static_cast<char>(64 + plv));
}

std::string version_text() {
    return fmt_fixed(kVersion, 4, 1);
}

// The lines of a file name in the summary box: the label and the name,
// printable, 48 bytes a line, continued on further lines of the box (a
// character of several bytes, or a control character's \xNN, is not split).
std::string box_name(std::string_view label, const std::string& name) {
    constexpr std::size_t kWidth = 48;
    const std::string text = printable(name);
    std::string lines;
    std::size_t at = 0;
    do {
        std::size_t end = std::min(text.size(), at + kWidth);
        if (end < text.size()) {
            std::size_t cut = end;
            // Back to the start of a character of several bytes.
            while (cut > at && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
            // Back to the start of an escape cut through.
            for (std::size_t k = 1; k <= 3 && cut >= at + k; ++k) {
                if (text.compare(cut - k, 2, "\\x") == 0) {
                    cut -= k;
                    break;
                }
            }
            if (cut > at) end = cut;
        }
        const std::string head =
            lines.empty() ? std::string(label) : std::string(label.size(), ' ');
        lines += "\n <<  " + pad_right(head + text.substr(at, end - at), 58) + "  <<";
        at = end;
    } while (at < text.size());
    return lines;
}

} // namespace

int errmes(int number) {
    ++g.count.warnings;
    if (g.msg.unit == 0 || number > 100 || g.msg.warnings_on == 0) return number;
    if (number < 1 || number > 58) {
        write_to(console(), "<<<< Incorrect parameter in errmes! (" + fmt_int(number, 4) + ")\n");
        g.msg.text = kMessages[0];
    } else {
        g.msg.text = kMessages[number];
    }
    return number;
}

void qqserr(std::string_view text) {
    g.msg.text.assign(text.substr(0, kTextMax));
}

std::FILE* message_stream() {
    if (g.msg.unit == 17 && g.msg.errfile != nullptr) return g.msg.errfile;
    return console();
}

void message_write(std::string_view text) {
    std::FILE* f = message_stream();
    if (f == g.msg.errfile && f != nullptr && !text.empty()) g.msg.errfile_used = true;
    write_to(f, text);
    std::fflush(f);
}

void warnin(int number) {
    errmes(number);
    if (printing()) message_write(head(number) + "\n");
}

void warni1(int number, int value) {
    errmes(number);
    if (printing()) message_write(head(number) + "   (" + fmt_int(value, 4) + ")\n");
}

void warnc1(int number, std::string_view value) {
    errmes(number);
    if (printing()) {
        message_write(head(number) + "   (" + printable(value.substr(0, kTextMax)) + ")\n");
    }
}

void warn_file(int number, std::string_view name) {
    errmes(number);
    if (printing()) message_write(head(number) + "   (" + printable(name) + ")\n");
}

// The output file's name as the summary shows it.
static const std::string& shown_file() {
    return g.out.shownname.empty() ? g.out.filename : g.out.shownname;
}

std::string summary_box(int flag) {
    const std::string border =
        "\n <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<";
    std::string s = border;
    s += "\n <<                END OF PLOTIX / VERSION " + version_text() + " " + patch_text() +
         "                <<";
    s += "\n <<  Date    : " + pad_left(dddate(), 10) + "  Time    : " + pad_left(ddtime(), 8) +
         "  Pageformat: " + pad_left(g.page.format, 4) + "  <<";
    s += "\n <<  Vectors : " + pad_right(fmt_int(g.count.vectors), 10) +
         "  Warnings: " + pad_right(fmt_int(g.count.warnings), 8) +
         "  Fileformat: " + pad_left(g.out.keyword, 4) + "  <<";
    if (flag != 10) s += box_name("Metafile: ", flag % 10 != 0 ? shown_file() : "");
    if (flag > 9) s += box_name("Err-file: ", g.msg.errname);
    s += border + "\n";
    s += "\n";
    return s;
}

std::string summary_text(int flag) {
    std::string s =
        "           END OF PLOTIX / VERSION " + version_text() + " " + patch_text() + "\n ";
    s += "\n Date          : " + dddate();
    s += "\n Time          : " + ddtime();
    s += "\n Pageformat: " + g.page.format;
    s += "\n Vectors      : " + fmt_int(g.count.vectors);
    s += "\n Warnings  : " + fmt_int(g.count.warnings);
    s += "\n Fileformat  : " + g.out.keyword;
    if (flag == 1 || flag == 11) s += "\n Metafile     : " + printable(shown_file());
    if (flag > 9) s += "\n Error file    : " + printable(g.msg.errname);
    return s;
}

void dprcol(int flag) {
    if (g.msg.unit == 0 || g.msg.summary_on == 0) return;
    message_write(summary_box(flag));
}

void qqmprc(int flag) {
    if (g.msg.unit == 0 || g.msg.summary_on == 0) return;
    // No message box on this platform: the box's caption and text go to the console.
    std::FILE* f = console();
    write_to(f, "disfin\n" + summary_text(flag) + "\n");
    std::fflush(f);
}

} // namespace plotix::detail
