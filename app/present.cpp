#include "present.hpp"

#include "console_in.hpp"
#include "console_out.hpp"
#include "plot_spectrum.hpp"

#include <cstdio>
#include <string_view>

namespace fasogram {

void present_spectrum(const SpectrumPlot& plot, std::istream& in, std::ostream& out) {
    SpectrumGraph graph(plot.curve, plot.f_ini, plot.f_fin);

    // The library writes its messages and summary with C streams: what the
    // dialogue wrote must be out before, and the library's text before the
    // next question.
    out.flush();
    graph.draw(Output::screen);
    std::fflush(stdout);

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

    out.flush();
    graph.draw(static_cast<Output>(choice));
    std::fflush(stdout);
}

} // namespace fasogram
