// The one global plotting state of the library, grouped by module.
#ifndef PLOTIX_CORE_STATE_H
#define PLOTIX_CORE_STATE_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace plotix::detail {

struct Driver;
class ScreenSession;

inline constexpr int kPenMax = 100;     // points of the pen buffer
inline constexpr float kVersion = 8.0f; // library version
inline constexpr int kPatchLevel = 0;

struct State {
    // Life cycle: 0 closed, 1 after disini, 2 axis system, 3 3-D axis system.
    struct LifeCycle {
        bool initialised = false; // first-call initialisation done
        int level = 0;
        int closed = 0; // 1 after disfin
    } life;

    // Output selection: persistent between plots, except the status of the
    // output file, which disfin sets for the plot it ends.
    struct Output {
        int device = 0;               // 0: no format chosen
        std::string keyword = "GKSL"; // upper case, at most 4 characters
        std::string filename;         // current output file name
        int filestate = 0;            // 0 none given, 1 given by setfil, 2 given and saved
        std::string savedname;        // the name given by setfil
        std::string shownname;        // the name the summary shows (shwfil); empty: filename
        int filemode = 0;             // existing files: 0 a version number, 1 replaced (filmod)
        // Output file of the last finished plot: 1 written completely, 0 the
        // plot had none, -1 it failed (errnum: the system's error number).
        int status = 0;
        int errnum = 0;
        bool create_failed = false; // this plot's file could not be created (warned at disini)
    } out;

    // Page: size in plot units and the persistent page inputs.
    struct Page {
        int width = 2969, height = 2099;
        std::string format = "DA4L";
        float basew = 2969.0f, baseh = 2099.0f;
        float unitdiv = 1.0f;               // unit divisor
        float userscale = 1.0f;             // enlargement limit of the device set-up
        int swap = 0;                       // orientation swap
        int nolimit = 0;                    // skip the enlargement limit
        int lowerleft = 0;                  // y given from the lower left corner
        float paperw = 0.0f, paperh = 0.0f; // user paper size (0: none)
    } page;

    // Device: window and image geometry, background, page options and the
    // active driver.
    struct Device {
        int winopt = 0; // 0 default size, 1 position and size given, other: size given
        int winx = 0, winy = 0, winw = 853, winh = 603;
        int imgw = 853, imgh = 603; // window or image size of this plot (pixels)
        int rasw = 0, rash = 0;     // image size of the image formats (imgpix; 0: as imgw, imgh)
        int bgopt = 4;              // background mode option (4 chooses by device)
        int bgmode = 0;             // 0 normal, 2 reversed
        int first_bgmode = -1;      // background mode of the first plot of the run
        int bgchanged = 0;
        int pdfopt = 1;
        int upright = 0; // 1: landscape vector pages shown upright (pagupr)
        // The driver of the open plot, and the screen windows, which outlive
        // a plot (both owned here, so that a reset of the state ends them).
        std::shared_ptr<Driver> driver;
        std::shared_ptr<ScreenSession> screens;
    } dev;

    // The wait of a screen plot at disfin: wait option (0 until mouse button 2
    // closes the window, 1 the same keeping the window, 2 no wait, 3 close at
    // once, 4 close after the delay), key option (1: Return, 2: Esc also ends
    // the wait) and the delay in seconds. Per plot.
    struct Screen {
        int waitopt = 0;
        int keyopt = 0;
        int delay = 10;
    } screen;

    // Axis system: its place and size on the page, the scaling stored by
    // graf, the settings of each axis, the title lines and the axis clipping
    // window.
    struct Axes {
        // Lower left corner (left column, bottom row) and size in plot units;
        // the system covers columns xpos .. xpos + xlen - 1 and rows
        // ypos - ylen + 1 .. ypos.
        int xlen = 1980, ylen = 1400;
        int xpos = 494, ypos = 1799;

        // One linear scaling: the ends, the first label and the label step in
        // user units, plot units per user unit, and the ends in increasing
        // order.
        struct Scaling {
            float a = 0.0f, e = 1.0f, first = 0.0f, step = 1.0f;
            float factor = 1.0f;
            float min = 0.0f, max = 1.0f;
        };
        Scaling x, y;
        float xorigin = 494.0f, yorigin = 1799.0f; // xpos and ypos as reals
        float tolerance = 1e-35f;                  // of the scaling tests

        // The inside of the frame, to which curves are clipped (plot units).
        int clip_left = 0, clip_top = 0, clip_right = 0, clip_bottom = 0;

        // Settings of the x, y and z axis; lengths in plot units.
        struct Axis {
            int ticks = 2;        // tick intervals between two labels, 0: none
            std::string name;     // at most 132 characters, trailing blanks kept
            int digits = 1;       // decimals of the labels
            int label_dist = 24;  // long tick end to labels
            int name_dist = 30;   // labels to name
            int long_tick = 24;   // ticks at the labels
            int short_tick = 16;  // ticks between labels
            int name_height = 36; // character height of the name
        };
        Axis axis[3];
        float frame = 1.0f; // frame thickness

        std::string title[4]; // title lines 1..4
        bool underline[4] = {};

        int check_scaling = 1; // curve reports points outside the scaling
        int curves = 0;        // curves drawn in this plot

        // Tick and grid lines are drawn alternately forwards and backwards;
        // the switch is not reset by disini.
        bool backwards = false;
    } axes;

    // Messages and the error file.
    struct Messages {
        int unit = 6;                 // 6 console, 17 error file, 0 silent
        std::FILE* errfile = nullptr; // open error file, nullptr: standard output
        std::string errname = "plotix.err";
        bool errname_given = false;
        bool errfile_used = false; // something was written to the error file
        int errfile_opt = 0;       // error-file option (winini sets it)
        bool msgbox = false;       // summary through qqmprc (winini)
        int warnings_on = 1;
        int summary_on = 1;
        std::string routine;    // current public routine
        std::string text = " "; // current message text
    } msg;

    struct Counters {
        std::int64_t vectors = 0;
        std::int64_t warnings = 0;
    } count;

    struct Constants {
        float pi = 3.1415927f, deg2rad = 0.017453292f, tiny = 1e-35f;
    } k;

    // Pen buffer and connection point of the vector pipeline.
    struct Pen {
        float x[kPenMax] = {}, y[kPenMax] = {};
        int n = 0;
        float cx = 0.0f, cy = 0.0f; // connection point (page plot units)
        int ox = 0, oy = 0;         // origin offset
        float parallel = 0.0f;      // parallel offset
        int pending_move = 0;
    } pen;

    // Clipping window: inclusive rectangle or circle in page plot units.
    struct Clip {
        int xmin = 0, ymin = 0, xmax = 2969, ymax = 2099;
        int circular = 0;
        float cx = 0.0f, cy = 0.0f, r = 0.0f;
        float tol = 1e-35f; // intersection tolerance of xcut/ycut
    } clip;

    // Line style: dash pattern and its state (solid by default).
    struct LineStyle {
        int pattern[10] = {1};  // element lengths, drawn and skipped in turn
        int n = 1;              // element count, 1 means solid
        int phase = 0;          // 0 pen down, 1 pen up
        int index = 1;          // 1-based current element
        float remaining = 1.0f; // plot units left in the current element
        int type = 0;           // last number given to lintyp
        int width = 1;          // line width and ends (no routine changes them)
        int cap = 2;
        int join = 2;
        float miter = 2.0f;
    } style;

    // Colours: the current table of 256 packed 0x00RRGGBB entries, the named
    // and cycle colours of that table, and the current index.
    struct Colours {
        std::uint32_t table[256] = {};
        int type = 1;      // 0..8: SMAL RAIN SPEC GREY RRAI RSPE RGRE VGA TEMP
        int named[9] = {}; // WHIT RED GREE YELL BLUE ORAN CYAN MAGE BLAC
        int cycle[30] = {};
        int current = 0;
        int foreground = 255, background = 0;
    } colour;

    // Area fill: shading pattern and polygon outline.
    struct Fill {
        int pattern = 0; // last shdpat number (16 is solid)
        int angle = 0;   // hatch angle in degrees 0..179
        int type = 0;    // 0 no hatching, 1..7
        int density = 0; // 0..9
        int cross = 0;
        float distance = 1.9999f;        // plot units between hatch lines
        int group_on = 1, group_off = 0; // lines drawn, lines skipped
        int outline = 1;                 // areaf also draws the outline
    } fill;

    // Text: height, angle, the text position, the string in work, the
    // in-string conventions and the stroked fonts.
    struct Text {
        int height = 36; // plot units, 1..10000: capital height plus one
        int angle = 0;   // degrees, counter-clockwise
        float sina = 0.0f, cosa = 1.0f;
        float x = 0.0f, y = 0.0f; // text position on the baseline (plot units)
        std::string buffer;       // the string in work, at most 256 characters
        int saved_height = 36;    // height at the start of the current string
        int measure = 0;          // 1: characters advance but draw nothing
        int hardware = 0;         // hardware-font mode (0: stroked text)

        // Exponent mode: raise, lower and back characters.
        int expmode = 0;
        char raise = '[', lower = ']', back = '$';
        float exp_offset = 0.6f, exp_size = 0.8f;

        // Character shift for accented letters: seven shift characters
        // (-1: unset) and the flag that switches the processing on.
        int shift_on = 0;
        int shift[7] = {-1, -1, -1, -1, -1, -1, -1};

        // One registered alphabet.
        struct Alphabet {
            const std::int16_t* ixptr = nullptr; // coordinates (x table when unpacked)
            const std::int16_t* iyptr = nullptr; // y table (the same table when packed)
            long ncoords = 0;
            const std::int16_t* ikptr = nullptr; // glyph records
            long nindex = 0;
            int ibopt = 1;  // 1 packed points, 0 separate x and y tables
            int glyphs = 0; // glyph numbers accepted
            float cellw = 20.0f, cellh = 21.0f;
            float extra = 0.0f; // spacing after every character, fraction of the height
            int direct = 0;     // character codes index the alphabet directly
            int fixed = 0;      // every glyph is 6 units wide
        };
        Alphabet alf[6];
        int family = 0;     // 1 default font, 3 complex font, 0 none loaded
        float space = 6.0f; // width of the blank in glyph units
        int nalf = 0;       // registered alphabets

        // The alphabet whose scales are loaded (0: none) and its scales.
        int loaded = 0;
        int current = 1;
        float xscale = 0.0f, yscale = 0.0f; // plot units per glyph unit
        float trail = 0.0f;                 // trailing spacing in plot units
    } text;
};

extern State g;

// First-call initialisation of the persistent settings.
void first_call();

// Drops the driver (an unfinished output file with it), closes the error
// file and the screen windows and puts the whole state back to its state
// before the first call. Test support.
void reset_state();

} // namespace plotix::detail

#endif
