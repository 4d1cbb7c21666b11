// The graphs of a batch run: their pages, the files asked for and the screen.
#include "batch_plot.hpp"

#include "error.hpp"
#include "messages.hpp"
#include "output_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <plotix.h>

namespace fasogram {

namespace {

namespace fs = std::filesystem;

// While it lives, what the library writes on standard output goes to
// standard error (or nowhere when quiet), so that standard output carries
// only the program's data.
class LibraryConsole {
  public:
    explicit LibraryConsole(bool quiet) {
        std::fflush(stdout);
        const int target = quiet ? ::open("/dev/null", O_WRONLY) : STDERR_FILENO;
        if (target < 0) return;
        saved_ = ::dup(STDOUT_FILENO);
        if (saved_ >= 0 && ::dup2(target, STDOUT_FILENO) < 0) {
            ::close(saved_);
            saved_ = -1;
        }
        if (quiet) ::close(target);
    }
    ~LibraryConsole() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    LibraryConsole(const LibraryConsole&) = delete;
    LibraryConsole& operator=(const LibraryConsole&) = delete;

  private:
    int saved_ = -1;
};

} // namespace

std::string_view graph_keyword(GraphFormat format) {
    switch (format) {
    case GraphFormat::pdf: return "PDF";
    case GraphFormat::ps: return "PS";
    case GraphFormat::eps: return "EPS";
    case GraphFormat::svg: return "SVG";
    case GraphFormat::png: return "PNG";
    case GraphFormat::bmp: return "BMP";
    case GraphFormat::tiff: return "TIFF";
    }
    return "PDF";
}

GraphPage batch_page(GraphFormat format, const std::string& file, const Options& options) {
    GraphPage page;
    const bool screen = file.empty();
    page.keyword = screen ? std::string_view("CONS") : graph_keyword(format);
    page.file = file;
    page.curve_colour = "BLUE";
    const ImageSize size = options.size.value_or(default_image_size);
    // The library keeps these settings from one plot to the next: each page
    // makes all of them.  The image size applies to the raster formats only.
    page.before_start = [size] {
        plotix::pagbck("WHITE");
        plotix::pagupr(1);
        plotix::imgpix(size.width, size.height);
    };
    page.page = [] { plotix::pagera(); }; // the page's border
    return page;
}

void draw_batch_graphs(const BatchGraph& graph, const Options& options, RunOutputs& outputs) {
    if (options.graphs.empty()) return;
    LibraryConsole console(options.quiet);
    {
        for (const GraphRequest& request : options.graphs) {
            const fs::path file = outputs.graph(request.path, request.path);
            GraphPage page = batch_page(request.format, file.string(), options);
            page.shown_file = request.path; // not the staging name
            graph.draw(page);
            std::fflush(stdout);
            // The library removes a graph it could not write completely.
            int errnum = 0;
            if (plotix::getfst(&errnum) != 1) {
                const std::string_view failed = _("cannot write the graph");
                throw FatalError(errnum != 0
                                     ? system_failure(failed, request.path, errnum)
                                     : std::string(failed) + " " + quoted_input(request.path));
            }
        }
    }
}

void show_batch_graph(const BatchGraph& graph, const Options& options) {
    if (!options.screen) return;
    LibraryConsole console(options.quiet);
    graph.draw(batch_page(GraphFormat::pdf, "", options));
    std::fflush(stdout);
}

void write_graph_file(const GraphRequest& request, const Options& options, RunOutputs& outputs,
                      const std::function<void(const GraphPage&)>& draw,
                      const std::function<void(const std::string&)>& note) {
    LibraryConsole console(options.quiet);
    const fs::path file = outputs.graph(request.path, request.path);
    GraphPage page = batch_page(request.format, file.string(), options);
    page.shown_file = request.path; // not the staging name
    draw(page);
    std::fflush(stdout);
    int errnum = 0;
    if (plotix::getfst(&errnum) != 1) {
        const std::string_view failed = _("cannot write the graph");
        throw FatalError(errnum != 0 ? system_failure(failed, request.path, errnum)
                                     : std::string(failed) + " " + quoted_input(request.path));
    }
    note(_("graph in ") + quoted_input(request.path));
}

} // namespace fasogram
