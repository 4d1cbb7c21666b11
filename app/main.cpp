// fasogram's entry point: the dialogue without arguments, a batch run with them.
#include "batch.hpp"
#include "cli.hpp"
#include "dialogue.hpp"
#include "output_file.hpp"

#include <cstdio>
#include <iostream>

#include <plotix.h>

// Without arguments: the dialogue.  With arguments: a batch run.
int main(int argc, char* argv[]) {
    fasogram::install_signal_cleanup();
    if (argc <= 1) return fasogram::run_fasogram(std::cin, std::cout, std::cerr);

    const fasogram::CommandLine command = fasogram::parse_command_line(argc, argv);
    switch (command.action) {
    case fasogram::CommandLine::Action::help:
        std::fputs(fasogram::help_text().c_str(), stdout);
        break;
    case fasogram::CommandLine::Action::version:
        std::fputs(fasogram::version_text(plotix::getver()).c_str(), stdout);
        break;
    case fasogram::CommandLine::Action::usage_error:
        std::fprintf(stderr,
                     "fasogram: error: %s\nPruebe 'fasogram --help' para mas informacion.\n",
                     command.error.c_str());
        return 2;
    case fasogram::CommandLine::Action::run: return fasogram::run_batch(command.options);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("fasogram: error: error al escribir en la salida estandar\n", stderr);
        return 1;
    }
    return 0;
}
