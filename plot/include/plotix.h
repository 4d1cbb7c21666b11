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

#include <string_view>

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
void metafl(std::string_view keyword); // output format, e.g. "PS", "GKSL" (level 0)
void setfil(std::string_view name);    // output file name, at most 80 characters (level 0)

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

} // namespace plotix

#endif
