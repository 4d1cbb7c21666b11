// The spectrum as a graph: the curve handed to the plotting library, its
// frequency scale, and the page of one plotting cycle.
#pragma once

#include "fasogram/spectrum.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fasogram {

// The curve handed to the plot: frequencies and coefficients as floats.
struct PlotArrays {
    std::vector<float> cox;
    std::vector<float> coy;
};

// Runs the grid and collects the plot arrays (they grow as needed; there is
// no fixed cap), handing every point to `on_point` as well.
PlotArrays compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                            const std::function<void(const SpectrumPoint&)>& on_point,
                            unsigned threads = 0, Digits digits = Digits::eight);

// Why `engine` cannot run `grid`, in the program's words; empty when it can.
std::string grid_problem(const FrequencyGrid& grid, const SpectrumEngine& engine);

// Scale factor of the frequency axis and the axis name that says it: the
// scaled final frequency lies in [10, 100) for final frequencies from 1e-6
// up to 10.
struct FrequencyScale {
    float factor = 1.0f;
    std::string label; // 20 characters, blank-padded on the right
};
FrequencyScale frequency_scale(float f_fin);

// The curve as it is drawn: frequencies times the factor, coefficients below
// 1e-12 as 0.
PlotArrays scaled_curve(const PlotArrays& curve, float factor);

// Where a plotting cycle goes: the screen, or the file of a save answer.
enum class Output { screen = 0, bmp = 1, tiff = 2, ps = 3, pdf = 4 };

// Format keyword and file name of a save answer 1..4.
std::string_view output_keyword(Output output);
std::string_view output_file(Output output);

// The page of one plotting cycle: where it goes and how the page is set up
// around the graph.
struct GraphPage {
    std::string_view keyword; // output format keyword
    std::string file;         // file name; empty for the screen
    std::string shown_file;   // the name the library's summary shows; empty: file
    // Settings made after the format and the file are chosen, before the
    // plot starts (may be empty).
    std::function<void()> before_start;
    // Draws the page itself (border, background) right after the plot starts.
    std::function<void()> page;
    std::string_view curve_colour = "GREEN";
};

// The page of the interactive program for an output: the library's default
// page, with a border and a filled background.
GraphPage dialogue_page(Output output);

// The spectrum graph: the scaled curve and the axis limits, drawn by one
// complete plotting cycle per output.
class SpectrumGraph {
  public:
    SpectrumGraph(const PlotArrays& curve, double f_ini, double f_fin);

    // One plotting cycle, from the choice of the output format to disfin.
    // The frequency axis starts at 0 when its scaled start lies below 1 on
    // the screen or below 10 in a file; once set to 0 it stays 0 for the
    // following cycles.
    void draw(Output output);
    // The same on any page.  `page.file` is handed to the library as it is
    // (the library does not replace an existing file).
    void draw(const GraphPage& page);

    const PlotArrays& data() const { return data_; }
    const FrequencyScale& scale() const { return scale_; }
    float axis_start() const { return a_; } // the unscaled start, after any reset

  private:
    PlotArrays data_;
    FrequencyScale scale_;
    float a_ = 0.0f;
    float b_ = 0.0f;
};

} // namespace fasogram
