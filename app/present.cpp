// The dialogue's graph: shown on the screen, then saved in the format the user picks.
#include "present.hpp"

#include "console_in.hpp"
#include "console_out.hpp"
#include "plot_spectrum.hpp"

#include "error.hpp"

#include <plotix.h>

#include <cstring>
#include <string>
#include <string_view>

namespace fasogram {

void present_spectrum(const SpectrumPlot& plot, std::istream& in, std::ostream& out) {
    SpectrumGraph graph(plot.curve, plot.f_ini, plot.f_fin);

    // The library writes its messages and summary with C streams: what the
    // dialogue wrote must be out before, and the library's text before the
    // next question.
    flush_output(out);
    graph.draw(Output::screen);
    flush_output(out);

    constexpr std::string_view save_question = "Guardo como BMP (1), TIFF (2), PS (3), PDF (4)?";
    AnswerReader answers(in, out);
    int choice = 0;
    for (;;) {
        write_line(out, {save_question});
        write_line(out, {"exit (0)?"});
        choice = answers.read_int(save_question);
        if (choice >= 0 && choice <= 4) break;
    }
    if (choice == 0) return;

    flush_output(out);
    graph.draw(static_cast<Output>(choice));
    flush_output(out);
    // A graph that could not be saved completely is gone (the library does
    // not leave part of it under the name): that ends the run.
    int errnum = 0;
    std::string file;
    if (plotix::getfst(&errnum, &file) < 0) {
        throw FatalError("no se pudo guardar el grafico en " + file + ": " + std::strerror(errnum));
    }
}

} // namespace fasogram
