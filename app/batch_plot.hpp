// The graphs of a batch run: the files asked for with --plot and the screen.
#pragma once

#include "cli.hpp"
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

// Draws the spectrum into every --plot file (each written under a temporary
// name and put in place complete; an existing file is replaced), then on the
// screen when --screen is given.  The plotting library's console text (its
// summary boxes and warnings) goes to standard error, or nowhere with
// --quiet; `note` receives a line for each file written.  A graph that could
// not be written (the library's file status) raises FatalError naming its
// file and the system's reason; no part of it is left.
void draw_batch_graphs(SpectrumGraph& graph, const Options& options,
                       const std::function<void(const std::string&)>& note);

// Writes one graph file as draw_batch_graphs does (a temporary name, the
// library's console, the file status), drawn by `draw` on the page it is
// given.
void write_graph_file(const GraphRequest& request, const Options& options,
                      const std::function<void(const GraphPage&)>& draw,
                      const std::function<void(const std::string&)>& note);

} // namespace fasogram
