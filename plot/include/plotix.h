// plotix - a scientific plotting library with a flat set of routines over one
// global plotting state.
//
// A plot is one cycle of
//     metafl("PS");           // output format (persistent)
//     setfil("name.ps");      // optional output file name (persistent)
//     disini();               // start the plot: level 0 -> 1
//     ... settings and drawing ...
//     disfin();               // finish the plot, print the summary: level -> 0
//
// Lengths are integer plot units on a page of 2969 x 2099 units (origin at the
// upper left corner, x to the right, y downwards). Keywords count by their
// first four characters, compared in upper case. No routine aborts on bad
// input: it prints a numbered warning naming the routine and carries on.
#ifndef PLOTIX_H
#define PLOTIX_H

#include <string>
#include <string_view>
#include <vector>

namespace plotix {

// ---- life cycle -----------------------------------------------------------
void disini();  // start a plot (level 0 only)
void disfin();  // finish the plot (levels 1..3)
void erase();   // clear the page on screen, image and applet devices (1..3)
float getver(); // library version (8.0)
int getplv();   // patch level (0)
void sendbf();  // flush pending strokes, update a screen window (1..3)
void winupd();  // the same, also allowed at level 0

// ---- output format and file -----------------------------------------------
void metafl(std::string_view keyword); // output format: "PS", "PDF", "SVG", "BMP", ... (level 0)
void setfil(std::string_view name);    // output file name, kept whole (level 0)
// The file name the summary (box and text) shows for the plots that follow,
// in place of the output file's own name: for a program that writes under a
// staging name and then moves the file to the name its user asked for
// (level 0, persistent; an empty name shows the output file's name again).
// Warnings name the file actually written.
void shwfil(std::string_view name);
// Output files. A plot's file is written under a temporary name of its own
// (made by this process alone, in the directory the file goes to, with the
// permissions the process's umask leaves of 0666) and takes its name only
// when it was written completely; a file that cannot be written completely
// is removed. A file that cannot be created (a missing or closed directory,
// a name the system does not take) is reported at disini by warning 36 with
// its name; the plot goes on without output. A failure later (a full disk)
// is reported at disfin by warning 36. File names in messages and in the
// summary are printed whole, control characters as \xNN.
//
// filmod chooses what becomes of a file that exists under the name (level 0,
// persistent):
//   "VERSION" (default): nothing under the name is touched; the plot goes to
//       the first free version of it ("plotix_1.ps", ...). Anything under the
//       name takes it: a file, a directory, a symbolic link (also one whose
//       target is missing). The library never writes through a link here.
//   "REPLACE": the new file replaces the existing one when it is complete; a
//       replaced file keeps its permissions, and its owner and group as far
//       as the process may give them away. A symbolic link under the name is
//       followed, as the system follows links when it opens a file: the file
//       it leads to is replaced, or made when it does not exist, and the link
//       stays. A link is not followed where the system's protection of shared
//       directories would not follow it: in a sticky world-writable directory
//       (such as /tmp) a link owned neither by the process's effective user
//       nor by the directory's owner is refused (warning 36 at disini, EACCES).
//       A directory, device or pipe under the name is never replaced
//       (warning 36 at disini).
void filmod(std::string_view keyword);
// getfst tells how the output file of the last finished plot
// ended (any level): 1 written completely, 0 the plot had no output file
// (screens, "VIRT", formats without contents here) or no plot has finished,
// -1 it could not be created or written. errnum, when given, receives the
// system's error number of the failure (0 otherwise); file the name of the
// file (empty when there was none).
int getfst(int* errnum = nullptr, std::string* file = nullptr);

// One output format, as format_list describes it.
struct FormatInfo {
    std::string keyword;                 // as metafl takes it, upper case: "PS", "TIFF", "XWI1"
    std::vector<std::string> extensions; // lower case, without the dot, of the file names of the
                                         // format: the default file's first ("tif", "tiff");
                                         // empty when the format names no file
    std::string file;                    // the default file name ("plotix.tif"), empty without one
    bool file_format = false;            // a plot writes an output file (getfst tells how it ended)
    bool screen = false;                 // a plot draws in a window on the display
};
// Every format keyword metafl takes, in the order of the library's format
// table (any level; no warning, no change of state). A keyword with
// extensions that is no file format names the file of a format whose
// contents the library does not write ("CGM", "WMF": warning 40 at disini).
std::vector<FormatInfo> format_list();

// ---- pages for publication (level 0, persistent) -----------------------------
// Image size in pixels of the image formats ("BMP", "TIFF", "PNG", "PPM",
// "IMAG", "VIRT"), each side 2..32767 (default: 853 x 603, 603 x 853 for a
// page higher than wide; imgpix(0, 0) returns to it). The page is mapped
// onto the image as large as it fits; lines are as wide as on the
// PostScript and PDF pages (about 0.27 mm, at least one pixel) and text
// scales with the page.
void imgpix(int nw, int nh);
// n = 1: a landscape page is shown upright in viewers in the vector formats
// that lay it turned on portrait paper: "PDF" gets a page rotation of 90
// degrees, "PS", "POST" and "PSCL" a landscape paper size (the drawing
// turned onto it) and "EPS" a landscape bounding box. n = 0 (default): as
// the paper lies. "SVG" and the images are upright either way.
void pagupr(int n);
// "WHITE": a white page with dark drawing in every format (the reversed
// background mode: colour index 0 is white, the foreground black; the
// image formats and the screen otherwise draw on black). "AUTO" (default):
// by format (white for "PS", "EPS", "PDF" and "SVG").
void pagbck(std::string_view keyword);

// ---- messages ---------------------------------------------------------------
void winini(); // summary in a message box, messages in "plotix.err" (level 0)

// ---- drawing ----------------------------------------------------------------
void line(int nx1, int ny1, int nx2, int ny2); // a line in plot units (1..3)

// ---- line styles ------------------------------------------------------------
// Lines drawn by the library follow a repeating pattern of drawn and skipped
// lengths in plot units; choosing a style restarts the pattern (levels 1..3).
void lintyp(int n);                      // predefined style 0..7, as below
void solid();                            // 0: solid
void dot();                              // 1: 1 drawn, 10 skipped
void dash();                             // 2: 10, 10
void chndsh();                           // 3: 30, 15, 10, 15
void chndot();                           // 4: 1, 15, 15, 15
void dashm();                            // 5: 20, 15
void dotl();                             // 6: 1, 20
void dashl();                            // 7: 30, 20
void myline(const int pattern[], int n); // own pattern of 1..10 lengths, each >= 1

// ---- colours ----------------------------------------------------------------
// Colours are indices 0..255 into a table of 256 RGB entries; every plot
// starts with the "RAIN" table ("RGRE" for "POST") in the foreground colour.
void setvlt(std::string_view name); // table: "SMAL", "RAIN", "SPEC", "GREY", "RRAI",
                                    // "RSPE", "RGRE", "VGA", "TEMP"
void color(std::string_view name);  // "WHITE", "RED", "GREEN", "YELLOW", "BLUE", "ORANGE",
                                    // "CYAN", "MAGENTA", "BLACK", "FORE", "BACK"
void setclr(int index);             // colour index 0..255

// ---- area fill --------------------------------------------------------------
void areaf(const int x[], const int y[], int n); // polygon of n >= 3 points: outline and fill
void shdpat(int n);                              // shading pattern 0..17 (16 solid, 0 none)
void mypat(int angle, int type, int density, int cross); // own hatch pattern
void pagfll(int clr);                                    // fills the page with colour clr

// ---- axis systems -----------------------------------------------------------
// An axis system is a rectangle on the page with a linear user scale along
// each side. axspos and axslen place it (level 1); graf scales and draws it
// (level 1 -> 2); curves, grid and zero line then work in user coordinates.
void axspos(int nxa, int nya); // lower left corner in plot units
void axslen(int nxl, int nyl); // width and height in plot units, each >= 2
// Scales both axes (ends, first label, label step) and draws the four axes
// and the frame. Equal ends or a zero step leave level 1 and draw nothing.
void graf(float xa, float xe, float xor_, float xstep, float ya, float ye, float yor, float ystep);
void ticks(int n, std::string_view axes);                // tick intervals per label, 0..1000
void name(std::string_view text, std::string_view axes); // axis name of "X", "Y", "Z"
// Decimals of the axis labels, -1..20 (-1: rounded integers; default 1).
void labdig(int ndig, std::string_view axes);
// Plot position of a user coordinate (levels 2..3): unrounded and rounded.
float xposn(float x);
float yposn(float y);
int nxposn(float x);
int nyposn(float y);
// Polyline through n >= 2 points in user coordinates, clipped to the inside
// of the frame; points outside the scaling are reported one line each.
void curve(const float x[], const float y[], int n);
void grid(int nx, int ny);                 // nx, ny grid lines per label interval
void xaxgit();                             // the line y = 0 when it lies inside the scaling
void titlin(std::string_view text, int n); // title line |n| (1..4), underlined when n < 0
void title();                              // draws the title lines above the axis system
// ---- text -------------------------------------------------------------------
// All text is drawn with stroked vector fonts. The default font is loaded at
// disini; complx switches to the complex font for the rest of the plot.
void complx(); // complex font (1..3)
void disalf(); // default font (1..3)
// Text height in plot units, 1..10000 (capital height plus one; default 36).
void height(int n);
// Text angle in degrees, counter-clockwise (default 0).
void angle(int deg);
// Draws text with the upper left corner of its first character at (x, y) for
// angle 0 (the baseline lies height - 1 below). (999, 999) continues at the
// end of the previous string. At most 256 characters; codes below 32 and
// codes without a glyph draw as blanks.
void messag(std::string_view text, int x, int y);
// Length of text in plot units at the current height.
int nlmess(std::string_view text);
// Integer as decimal text; returns its length.
int intcha(int n, std::string& text);
// Real as label text with ndig decimals (-1: rounded integer); returns its length.
int fcha(float value, int ndig, std::string& text);

// ---- page decorations -------------------------------------------------------
// Border along the page edges (1..3).
void pagera();
// One header line of text1 (at most 100 characters), the date, the time, the
// library version and text2 at 0.6 times the text height in a page corner:
// position 1 lower left, 2 lower right, 3 upper right, 4 upper left;
// direction 0 horizontal, 1 vertical (1..3).
void paghdr(std::string_view text1, std::string_view text2, int position, int direction);

} // namespace plotix

#endif
