// The one plotting state: its first-call defaults and the reset to the state
// before the first call.
#include "core/state.h"

namespace plotix::detail {

State g;

void first_call() {
    // Persistent defaults, set once per run.
    g.life.initialised = true;
    g.msg.unit = 6;
    g.msg.errfile = nullptr;
    g.msg.warnings_on = 1;
    g.out.device = 0;
    g.dev.bgopt = 4;
    g.out.filestate = 0;
    g.out.filemode = 0;
    g.dev.winopt = 0;
    g.page.basew = 2969.0f;
    g.page.baseh = 2099.0f;
    g.page.format = "DA4L";
    g.page.unitdiv = 1.0f;
    g.page.userscale = 1.0f;
    g.page.swap = 0;
    g.page.nolimit = 0;
    g.msg.errfile_opt = 0;
    g.dev.pdfopt = 1;
}

void reset_state() {
    if (g.msg.errfile != nullptr) std::fclose(g.msg.errfile);
    g.msg.errfile = nullptr;
    // The driver goes first: it may still hold an unfinished file.
    g.dev.driver.reset();
    g.dev.screens.reset();
    // Every group back to the defaults written in the state's declaration.
    g = State{};
}

} // namespace plotix::detail
