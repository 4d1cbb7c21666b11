// The spectrum graph of a batch run, drawn for publication: plain units on
// the frequency (or period) axis with a label that names them, the y range
// fitted to the data, the peaks marked, and every text open to the command
// line.  The interactive dialogue keeps its own graph (plot_spectrum.hpp).
#pragma once

#include "fasogram/spectrum.hpp"
#include "graph_style.hpp"
#include "plot_spectrum.hpp"

#include <optional>
#include <string>
#include <vector>

namespace fasogram {

// The unit's name for "cycles per ...": "d" is "day", "h" "hour" and so on;
// any other unit is named as it is written; none is "unit of time".
std::string unit_name(const std::string& time_unit);
// The default axis names.
std::string default_xlabel(const GraphStyle& style);
std::string default_ylabel();

// A "nice" axis: its ends, first label, label step and label decimals for
// the range [lo, hi] (lo < hi), about five labels, steps of 1, 2 or 5 times
// a power of ten.
struct AxisScale {
    double start = 0.0, end = 1.0, step = 0.2;
    int digits = 1;
};
AxisScale nice_axis(double lo, double hi);

// The y range drawn: the style's, or from 0 to a little above the highest
// value of the curve or `top`, whichever is higher (at most 1).
std::pair<double, double> y_range(const GraphStyle& style, const PlotArrays& curve,
                                  double top = 0.0);

// A false-alarm level drawn across the graph: the rho whose false-alarm
// probability is `probability`.
struct FapLine {
    double probability = 0.0;
    double rho = 0.0;
};
// Its label: "FAP 1%", "FAP 0.1%" (the percentage to 6 significant digits).
std::string fap_label(double probability);

// Where the labels of lines go, in plot units (y grows downwards): each
// label of `widths[i]` is drawn at height `tops[i]` (its line's y less the
// gap above it), right-aligned at `right` unless that would cover a label
// already placed within a label's height of it; then it moves left of that
// one.  Labels are placed from the top of the page down.  Returns each
// label's left end.
std::vector<int> label_lefts(const std::vector<int>& tops, const std::vector<int>& widths,
                             int right, int height);

// A peak's label: its period with the time unit, 4 significant digits.
std::string peak_label(const Peak& peak, const std::string& time_unit);

class BatchGraph {
  public:
    // `curve` in plain frequencies; `peaks` highest first (those beyond
    // style.mark_peaks are not marked).
    // `levels` are drawn as dashed lines across the graph, each labelled at
    // its right end (those outside a fixed --ylim are left out).
    BatchGraph(PlotArrays curve, double f_ini, double f_fin, GraphStyle style,
               std::vector<Peak> peaks, std::vector<FapLine> levels = {});
    void draw(const GraphPage& page) const;

  private:
    PlotArrays curve_;
    double f_ini_, f_fin_;
    GraphStyle style_;
    std::vector<Peak> peaks_;
    std::vector<FapLine> levels_;
};

} // namespace fasogram
