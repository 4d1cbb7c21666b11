// The graphs of a batch run: the files asked for with --plot and the screen.
#pragma once

#include "batch_graph.hpp"
#include "cli.hpp"
#include "output_file.hpp"
#include "plot_spectrum.hpp"

#include <functional>
#include <string>
#include <string_view>

namespace fasogram {

// The library's format keyword for a graph format.
std::string_view graph_keyword(GraphFormat format);

// The page of a batch graph in `format`, written to `file` (empty: the
// screen): dark lines on a white page in every format, a landscape PDF,
// PostScript or EPS page shown upright, raster images of --size pixels
// (default_image_size without it).  Every setting of the page of a graph for
// publication is made here.
GraphPage batch_page(GraphFormat format, const std::string& file, const Options& options);

// Draws the spectrum into every --plot file (each staged beside its target
// in `outputs`, put in place with the run's other outputs).  The plotting
// library's console text (its
// summary boxes and warnings) goes to standard error, or nowhere with
// --quiet.  A graph that could not be written (the library's file status)
// raises FatalError naming its file and the system's reason; no part of it
// is left.
void draw_batch_graphs(const BatchGraph& graph, const Options& options, RunOutputs& outputs);

// Shows the spectrum on the screen (--screen), once the run's files are in
// place.
void show_batch_graph(const BatchGraph& graph, const Options& options);

// Writes one graph file as draw_batch_graphs does (staged in `outputs`, the
// library's console, the file status), drawn by `draw` on the page it is
// given.
void write_graph_file(const GraphRequest& request, const Options& options, RunOutputs& outputs,
                      const std::function<void(const GraphPage&)>& draw,
                      const std::function<void(const std::string&)>& note);

} // namespace fasogram
