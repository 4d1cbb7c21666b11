// fasogram's entry point: the dialogue without arguments, a batch run with them.
#include "batch.hpp"
#include "cli.hpp"
#include "dialogue.hpp"
#include "messages.hpp"
#include "output_file.hpp"

#include <cstdio>
#include <iostream>

#include <plotix.h>

// Without arguments: the dialogue.  With arguments: a batch run.
int main(int argc, char* argv[]) {
    fasogram::install_signal_cleanup();
    if (argc <= 1) return fasogram::run_fasogram(std::cin, std::cout, std::cerr);
    fasogram::use_locale_messages();
    fasogram::set_signal_note(_("interrupted by"));

    const fasogram::CommandLine command = fasogram::parse_command_line(argc, argv);
    switch (command.action) {
    case fasogram::CommandLine::Action::help:
        std::fputs(fasogram::help_text().c_str(), stdout);
        break;
    case fasogram::CommandLine::Action::version:
        std::fputs(fasogram::version_text(plotix::getver()).c_str(), stdout);
        break;
    case fasogram::CommandLine::Action::usage_error:
        std::fprintf(stderr, "fasogram: error: %s\n%s\n", command.error.c_str(),
                     _("Try 'fasogram --help' for more information."));
        return 2;
    case fasogram::CommandLine::Action::run: return fasogram::run_batch(command.options);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "fasogram: error: %s\n", _("cannot write to standard output"));
        return 1;
    }
    return 0;
}
