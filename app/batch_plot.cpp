#include "batch_plot.hpp"

#include "error.hpp"
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

// The longest file name the library takes.
constexpr std::size_t library_name_max = 80;

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

// A private directory for the library to write a graph into: its file names
// are short (the library takes at most 80 characters) and never already
// taken (the library would pick another name).
class GraphScratch {
  public:
    GraphScratch() {
        for (const fs::path& base : candidates()) {
            std::string pattern = (base / "fasogram-XXXXXX").string();
            if (pattern.size() + 16 > library_name_max) continue;
            if (::mkdtemp(pattern.data()) != nullptr) {
                dir_ = pattern;
                return;
            }
        }
        throw FatalError(system_failure("no se puede crear un directorio temporal en",
                                        candidates().front().string(), errno));
    }
    ~GraphScratch() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    GraphScratch(const GraphScratch&) = delete;
    GraphScratch& operator=(const GraphScratch&) = delete;

    // Where the library writes graph `index` of the run, asked for as
    // `target`: under the target's own name when it is short enough (so
    // that the library's summary names it).
    fs::path file(std::size_t index, const GraphRequest& target) const {
        const fs::path own = dir_ / fs::path(target.path).filename();
        if (own.string().size() <= library_name_max) return own;
        return dir_ / ("g" + std::to_string(index) + "." + std::string(extension(target.format)));
    }

  private:
    static std::vector<fs::path> candidates() {
        std::vector<fs::path> bases;
        if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0')
            bases.emplace_back(tmp);
        bases.emplace_back("/tmp");
        return bases;
    }
    static std::string_view extension(GraphFormat format) {
        switch (format) {
        case GraphFormat::pdf: return "pdf";
        case GraphFormat::ps: return "ps";
        case GraphFormat::eps: return "eps";
        case GraphFormat::svg: return "svg";
        case GraphFormat::png: return "png";
        case GraphFormat::bmp: return "bmp";
        case GraphFormat::tiff: return "tif";
        }
        return "out";
    }

    fs::path dir_;
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

void draw_batch_graphs(SpectrumGraph& graph, const Options& options,
                       const std::function<void(const std::string&)>& note) {
    if (options.graphs.empty() && !options.screen) return;
    LibraryConsole console(options.quiet);
    if (!options.graphs.empty()) {
        const GraphScratch scratch;
        for (std::size_t i = 0; i < options.graphs.size(); ++i) {
            const GraphRequest& request = options.graphs[i];
            const fs::path file = scratch.file(i, request);
            graph.draw(batch_page(request.format, file.string(), options));
            std::fflush(stdout);
            // The library removes a graph it could not write completely.
            int errnum = 0;
            if (plotix::getfst(&errnum) != 1) {
                constexpr std::string_view failed = "no se pudo escribir el grafico";
                throw FatalError(errnum != 0 ? system_failure(failed, request.path, errnum)
                                             : std::string(failed) + " " + request.path);
            }
            move_into_place(file, request.path, request.path);
            note("grafico en " + request.path);
        }
    }
    if (options.screen) {
        graph.draw(batch_page(GraphFormat::pdf, "", options));
        std::fflush(stdout);
    }
}

void write_graph_file(const GraphRequest& request, const Options& options,
                      const std::function<void(const GraphPage&)>& draw,
                      const std::function<void(const std::string&)>& note) {
    LibraryConsole console(options.quiet);
    const GraphScratch scratch;
    const fs::path file = scratch.file(0, request);
    draw(batch_page(request.format, file.string(), options));
    std::fflush(stdout);
    int errnum = 0;
    if (plotix::getfst(&errnum) != 1) {
        constexpr std::string_view failed = "no se pudo escribir el grafico";
        throw FatalError(errnum != 0 ? system_failure(failed, request.path, errnum)
                                     : std::string(failed) + " " + request.path);
    }
    move_into_place(file, request.path, request.path);
    note("grafico en " + request.path);
}

} // namespace fasogram
