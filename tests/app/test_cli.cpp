// The command line read into options, and the input rules shared by the
// dialogue and batch runs (comments, header, underflow).
#include "batch_plot.hpp"
#include "cli.hpp"
#include "console_in.hpp"
#include "error.hpp"
#include "numbers.hpp"
#include "series.hpp"
#include "table.hpp"
#include "table_csv.hpp"

#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <initializer_list>
#include <limits>
#include <plotix.h>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/formats.h"

namespace fasogram {
namespace {

CommandLine parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"fasogram"};
    argv.insert(argv.end(), args.begin(), args.end());
    return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

// The usage error of the arguments, or "accepted".
std::string error_of(std::initializer_list<const char*> args) {
    const CommandLine c = parse(args);
    return c.action == CommandLine::Action::usage_error ? c.error : "accepted";
}

TEST(CommandLine, EveryOptionInLongAndShortForm) {
    const char* argv[] = {"fasogram",    "-w",       "c",        "--from", "-0.5",
                          "--to=1.5D-1", "--steps",  "7",        "-o",     "t.csv",
                          "-p",          "a.pdf",    "--plot",   "b.TIFF", "--size=640x480",
                          "--peaks",     "4",        "--screen", "-j",     "3",
                          "-q",          "serie.dat"};
    const std::vector<std::string> before(std::begin(argv), std::end(argv));
    const CommandLine c = parse_command_line(static_cast<int>(std::size(argv)), argv);
    ASSERT_EQ(c.action, CommandLine::Action::run) << c.error;
    const Options& o = c.options;
    EXPECT_EQ(o.window, Window::square);
    EXPECT_EQ(o.f_ini, -0.5);
    EXPECT_EQ(o.f_fin, 0.15);
    EXPECT_EQ(o.steps, 7);
    EXPECT_EQ(o.table, "t.csv");
    ASSERT_EQ(o.graphs.size(), 2u);
    EXPECT_EQ(o.graphs[0].path, "a.pdf");
    EXPECT_EQ(o.graphs[0].format, GraphFormat::pdf);
    EXPECT_EQ(o.graphs[1].format, GraphFormat::tiff);
    ASSERT_TRUE(o.size.has_value());
    EXPECT_EQ(o.size->width, 640);
    EXPECT_EQ(o.size->height, 480);
    EXPECT_EQ(o.peaks, 4u);
    EXPECT_TRUE(o.screen);
    EXPECT_EQ(o.threads, 3u);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.series, "serie.dat");
    // The caller's arguments are left as they were.
    EXPECT_EQ(std::vector<std::string>(std::begin(argv), std::end(argv)), before);

    // Defaults, and a second reading that does not inherit the first.
    const CommandLine d = parse({"--from", "0", "--to", "1", "--steps", "1"});
    ASSERT_EQ(d.action, CommandLine::Action::run) << d.error;
    EXPECT_EQ(d.options.window, Window::hanning);
    EXPECT_EQ(d.options.series, "datos.dat");
    EXPECT_EQ(d.options.table, "-"); // nothing else asked: standard output
    for (const char* other : {"--peaks", "-p", "--prewhiten"}) {
        const CommandLine o = parse(
            {"--from", "0", "--to", "1", "--steps", "1", other, other[1] == 'p' ? "g.pdf" : "1"});
        ASSERT_EQ(o.action, CommandLine::Action::run) << o.error;
        EXPECT_EQ(o.options.table, "") << other; // no table
        const CommandLine t = parse({"-o", "t.dat", other, other[1] == 'p' ? "g.pdf" : "1"});
        ASSERT_EQ(t.action, CommandLine::Action::run) << t.error;
        EXPECT_EQ(t.options.table, "t.dat") << other;
    }
    EXPECT_TRUE(d.options.graphs.empty());
    EXPECT_FALSE(d.options.size.has_value());
    EXPECT_EQ(d.options.peaks, 0u);
    EXPECT_EQ(d.options.threads, 0u);
    EXPECT_FALSE(d.options.screen || d.options.quiet || d.options.errors);
    EXPECT_FALSE(d.options.oversample.has_value());

    EXPECT_EQ(parse({"--from", "0", "--to", "1", "--steps", "1", "-", "--"}).options.series, "-");
    EXPECT_EQ(parse({"--version", "--bogus"}).action, CommandLine::Action::version);
    EXPECT_EQ(parse({"-q", "-h"}).action, CommandLine::Action::help);
    EXPECT_EQ(parse({"--bogus", "--help"}).action, CommandLine::Action::usage_error);
    // No arguments at all (the program asks its questions instead): every default.
    EXPECT_EQ(parse_command_line(0, nullptr).action, CommandLine::Action::run);
    EXPECT_EQ(error_of({"--from", "0", "--to", "1", "--steps", "1", "--peaks", "2", "-o", "-"}),
              "--table - and --peaks would both write to standard output");
    EXPECT_EQ(error_of({"-qx"}), "unknown or ambiguous option: '-x'");
    EXPECT_EQ(error_of({"--s", "3"}), "unknown or ambiguous option: '--s'");
    EXPECT_EQ(error_of({"--from", "0", "--to", "1", "--steps", "1", "-o"}),
              "the option '-o' lacks its value");
}

TEST(CommandLine, ValuesAtTheirLimits) {
    auto with = [](std::initializer_list<const char*> extra) {
        std::vector<const char*> argv{"fasogram", "--from", "0", "--to", "1", "--steps", "10"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const CommandLine c = parse_command_line(static_cast<int>(argv.size()), argv.data());
        return c.action == CommandLine::Action::usage_error ? c.error : "accepted";
    };
    EXPECT_EQ(with({"--size", "16x16"}), "accepted");
    EXPECT_EQ(with({"--size", "16384X16384"}), "accepted");
    for (const char* bad : {"15x16", "16x15", "16385x100", "100x16385", "x100", "100x", "100",
                            "+100x100", "100x+100", "-100x100", "1e3x100", "100x100x100", ""})
        EXPECT_NE(with({"--size", bad}).find("--size: expected WIDTHxHEIGHT"), std::string::npos)
            << bad;
    EXPECT_EQ(with({"-j", "0"}), "accepted");
    EXPECT_EQ(with({"-j", "1024"}), "accepted");
    EXPECT_NE(with({"-j", "1025"}), "accepted");
    EXPECT_NE(with({"-j", "-1"}), "accepted");
    EXPECT_EQ(with({"--peaks", "1"}), "accepted");
    EXPECT_EQ(with({"--peaks", "1000000"}), "accepted");
    EXPECT_NE(with({"--peaks", "1000001"}), "accepted");
    for (const char* window : {"h", "H", "hanning", "Hanning", "c", "square", "SQUARE", "cuadrada"})
        EXPECT_EQ(with({"-w", window}), "accepted") << window;
    for (const char* window : {"", "s", "hann", "cuad", "hanning "})
        EXPECT_NE(with({"-w", window}), "accepted") << window;

    EXPECT_EQ(error_of({"--from", "0", "--to", "1", "--steps", "1"}), "accepted");
    EXPECT_NE(error_of({"--from", "0", "--to", "1", "--steps", "0"}), "accepted");
    EXPECT_NE(error_of({"--from", "0", "--to", "1", "--steps", "-3"}), "accepted");
    EXPECT_EQ(error_of({"--from", "0", "--to", "1", "--steps", "9223372036854775806"}), "accepted");
    EXPECT_NE(error_of({"--from", "0", "--to", "1", "--steps", "9223372036854775807"}), "accepted");
    // --to just above --from, equal to it, below it.
    EXPECT_EQ(error_of({"--from", "1", "--to", "1.0000000000000002", "--steps", "1"}), "accepted");
    EXPECT_EQ(error_of({"--from", "1", "--to", "1.00", "--steps", "1"}),
              "--to must be greater than --from (--from 1, --to 1.00)");
    EXPECT_NE(error_of({"--from", "1", "--to", "-1", "--steps", "1"}), "accepted");
    EXPECT_EQ(error_of({"--from", "1e999", "--to", "2", "--steps", "1"}),
              "--from: not a valid number: '1e999'");
    EXPECT_EQ(error_of({"--from", "0", "--to", "1e-400", "--steps", "1"}),
              "--to must be greater than --from (--from 0, --to 1e-400)");
}

TEST(CommandLine, GridPartsLeftOutAndTheErrorsColumn) {
    // Each part of the grid may be left out: none of them is filled in here.
    const CommandLine none = parse({"-e", "s.dat"});
    ASSERT_EQ(none.action, CommandLine::Action::run) << none.error;
    EXPECT_TRUE(none.options.errors);
    EXPECT_FALSE(none.options.f_ini || none.options.f_fin || none.options.steps);
    const CommandLine to = parse({"--errors", "--to", "2", "--oversample", "2.5"});
    ASSERT_EQ(to.action, CommandLine::Action::run) << to.error;
    EXPECT_FALSE(to.options.f_ini.has_value());
    EXPECT_EQ(to.options.f_fin, 2.0);
    EXPECT_EQ(to.options.oversample, 2.5);
    EXPECT_TRUE(to.options.errors);
    EXPECT_EQ(parse({"--from", "3", "--steps", "9"}).options.steps, 9);
    // --from above --to only counts when both are given.
    EXPECT_EQ(error_of({"--from", "3"}), "accepted");
    EXPECT_EQ(error_of({"--from", "3", "--to", "2"}),
              "--to must be greater than --from (--from 3, --to 2)");
    // The oversampling factor: any number above 0, and not with --steps.
    EXPECT_EQ(error_of({"--oversample", "1e-300"}), "accepted");
    for (const char* bad : {"0", "-1", "-0", "1e999", "x", ""})
        EXPECT_NE(error_of({"--oversample", bad}).find("--oversample: expected"), std::string::npos)
            << bad;
    EXPECT_EQ(
        error_of({"--oversample", "4", "--steps", "10"}),
        "--oversample and --steps exclude each other: the grid step comes from one or the other");
    EXPECT_EQ(error_of({"-e", "x"}), "accepted");
    EXPECT_EQ(error_of({"-ex"}), "unknown or ambiguous option: '-x'");
}

TEST(CommandLine, GraphFormatFromTheExtension) {
    auto format_of = [](const char* name) {
        const CommandLine c = parse({"--from", "0", "--to", "1", "--steps", "1", "-p", name});
        return c.action == CommandLine::Action::run ? static_cast<int>(c.options.graphs[0].format)
                                                    : -1;
    };
    EXPECT_EQ(format_of("a.pdf"), static_cast<int>(GraphFormat::pdf));
    EXPECT_EQ(format_of("dir.x/A.PS"), static_cast<int>(GraphFormat::ps));
    EXPECT_EQ(format_of("a.eps"), static_cast<int>(GraphFormat::eps));
    EXPECT_EQ(format_of("a.SVG"), static_cast<int>(GraphFormat::svg));
    EXPECT_EQ(format_of("a.png"), static_cast<int>(GraphFormat::png));
    EXPECT_EQ(format_of("a.Bmp"), static_cast<int>(GraphFormat::bmp));
    EXPECT_EQ(format_of("a.tif"), static_cast<int>(GraphFormat::tiff));
    EXPECT_EQ(format_of("a.tiff"), static_cast<int>(GraphFormat::tiff));
    for (const char* bad : {"a.gif", "pdf", ".pdf", "dir.pdf/a", "a.pdf.", "a.jpeg", ""})
        EXPECT_EQ(format_of(bad), -1) << bad;
    // The plotting library writes every format --plot knows.
    for (GraphFormat format :
         {GraphFormat::pdf, GraphFormat::ps, GraphFormat::eps, GraphFormat::svg, GraphFormat::png,
          GraphFormat::bmp, GraphFormat::tiff})
        EXPECT_TRUE(graph_format_available(format)) << static_cast<int>(format);
}

TEST(CommandLine, GraphFormatsComeFromThePlottingLibrary) {
    namespace pd = plotix::detail;
    auto plot_error = [](const char* name) {
        return error_of({"--from", "0", "--to", "1", "--steps", "1", "-p", name});
    };
    // The extensions of the usage message are those the library lists for
    // the program's formats, in the program's order, and the help names them.
    std::string listed;
    for (const char* keyword : {"PDF", "PS", "EPS", "SVG", "PNG", "BMP", "TIFF"}) {
        for (const plotix::FormatInfo& info : plotix::format_list()) {
            if (info.keyword != keyword) continue;
            for (const std::string& extension : info.extensions) {
                listed += (listed.empty() ? "." : " .") + extension;
                EXPECT_NE(help_text().find("." + extension), std::string::npos) << extension;
            }
        }
    }
    EXPECT_EQ(listed, ".pdf .ps .eps .svg .png .bmp .tif .tiff");
    EXPECT_EQ(plot_error("a.gif"),
              "-p/--plot 'a.gif': the format comes from the name's extension: " + listed);
    EXPECT_EQ(graph_keyword(GraphFormat::tiff), "TIFF");

    // A change of the library's table reaches the command line: one more
    // extension of BMP, an SVG the library no longer writes.
    const pd::FormatRow bmp = *pd::find_format("BMP");
    const pd::FormatRow svg = *pd::find_format("SVG");
    pd::add_format({bmp.keyword, bmp.device, "bmp dib", bmp.output, bmp.make});
    pd::add_format({svg.keyword, svg.device, svg.extensions, pd::Output::nothing, svg.make});
    const CommandLine c = parse({"--from", "0", "--to", "1", "--steps", "1", "-p", "x.DIB"});
    const std::string gif = plot_error("a.gif");
    const std::string unavailable = plot_error("a.svg");
    const bool svg_available = graph_format_available(GraphFormat::svg);
    pd::reset_formats();
    ASSERT_EQ(c.action, CommandLine::Action::run) << c.error;
    EXPECT_EQ(c.options.graphs[0].format, GraphFormat::bmp);
    EXPECT_EQ(gif, "-p/--plot 'a.gif': the format comes from the name's extension: .pdf .ps .eps "
                   ".svg .png .bmp .dib .tif .tiff");
    EXPECT_EQ(unavailable,
              "-p/--plot 'a.svg': the format svg is not available in this version of the "
              "plotting library");
    EXPECT_FALSE(svg_available);
    EXPECT_EQ(plot_error("a.svg"), "accepted");
    EXPECT_EQ(plot_error("a.dib"),
              "-p/--plot 'a.dib': the format comes from the name's extension: " + listed);
}

TEST(Input, UnderflowingNumbersReadAsTheNearestDouble) {
    const double min_subnormal = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(parse_real("1e-400"), 0.0);
    ASSERT_TRUE(parse_real("-1d-400").has_value());
    EXPECT_TRUE(std::signbit(*parse_real("-1d-400")));
    EXPECT_EQ(parse_real("0.0000001e-99999999999999999999"), 0.0);
    // Half the smallest subnormal is 2.4703e-324: just below it rounds to
    // zero, just above to the smallest subnormal.
    EXPECT_EQ(parse_real("2.47e-324"), 0.0);
    EXPECT_EQ(parse_real("2.48e-324"), min_subnormal);
    EXPECT_EQ(parse_real("4e-320"), 4e-320);
    EXPECT_EQ(parse_real("2.2250738585072014e-308"), DBL_MIN);
    // Overflow is still refused.
    EXPECT_FALSE(parse_real("1.8e308").has_value());
    EXPECT_EQ(parse_real("1.7976931348623157e308"), DBL_MAX);

    std::istringstream in("1e-400\n");
    std::ostringstream out;
    AnswerReader answers(in, out);
    EXPECT_EQ(answers.read_real("frecuencia inicial?"), 0.0);
}

TEST(Input, CommentsInBothModesAHeaderOnlyInBatchRuns) {
    const std::string text = "\xEF\xBB\xBF# fotometria\r\n"
                             "\r\n"
                             "  %% units: days\n"
                             "tiempo, magnitud\r\n"
                             "1 10\n"
                             "2\n"
                             "# between a time and its value\n"
                             "20\n"
                             "\t#3 30\n"
                             "4 40\n";
    const SeriesLayout batch{std::numeric_limits<std::size_t>::max(), true};
    std::istringstream in(text);
    const Series s = read_series(in, "serie.dat", batch);
    EXPECT_EQ(s.t, (std::vector<double>{1, 2, 4}));
    EXPECT_EQ(s.x, (std::vector<double>{10, 20, 40}));
    EXPECT_EQ(s.header, "tiempo, magnitud");
    EXPECT_EQ(s.header_line, 4);

    // The dialogue skips the comments but takes no header.
    std::istringstream again(text);
    try {
        read_series(again, "datos.dat");
        FAIL() << "a header in the dialogue";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "datos.dat, line 4: malformed number: 'tiempo'");
    }
    std::istringstream no_header("# only comments\n1 2\n3 4\n");
    const Series d = read_series(no_header, "datos.dat");
    EXPECT_EQ(d.size(), 2u);
    EXPECT_EQ(d.header_line, 0);

    // Only the first line with values may be a header, and only when it
    // holds no number at all.
    auto error_in_batch = [&](const std::string& t) {
        std::istringstream is(t);
        try {
            read_series(is, "s", batch);
        } catch (const FatalError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(error_in_batch("JD mag\n1 2\nJD mag\n"), "s, line 3: malformed number: 'JD'");
    EXPECT_EQ(error_in_batch("t 1.5\n1 2\n"), "s, line 1: malformed number: 't'");
    EXPECT_EQ(error_in_batch("1 2\n"), "no error");
}

TEST(Input, BatchRunsReadEveryPairTheDialogueStopsAtItsLimit) {
    std::string text;
    for (std::size_t i = 0; i <= max_pairs; ++i) text += std::to_string(i) + " 1\n";
    std::istringstream dialogue(text), batch(text);
    EXPECT_EQ(read_series(dialogue, "d").size(), max_pairs);
    EXPECT_EQ(read_series(batch, "b", {std::numeric_limits<std::size_t>::max(), true}).size(),
              max_pairs + 1);
}

TEST(CsvTable, FrequencyShortestAndValuesWithSeventeenDigits) {
    SpectrumPoint p;
    p.f = 0.1;
    p.rho = 1.0 / 3.0;
    p.c1 = -2.5e-310; // subnormal
    p.c2 = std::numeric_limits<double>::quiet_NaN();
    p.c3 = -std::numeric_limits<double>::infinity();
    // Non-finite values spelt as the fixed-column table spells them.
    EXPECT_EQ(format_csv_line(p),
              "0.1,3.3333333333333331e-01,-2.5000000000000171e-310,NaN,-Infinity");
    p.c3 = std::numeric_limits<double>::infinity();
    p.rho = -std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(format_csv_line(p), "0.1,NaN,-2.5000000000000171e-310,NaN,Infinity");
    EXPECT_EQ(format_table_field(p.rho).substr(12), "NaN");
    p.rho = 1.0 / 3.0;
    // The tails carry the digits past the double.
    p.c2 = 0.1;
    p.tail.c2 = -5.551115123125783e-18; // 0.1 less the double's excess
    p.c3 = 2.0;
    p.tail.c3 = -6e-17;
    EXPECT_EQ(format_csv_line(p), "0.1,3.3333333333333331e-01,-2.5000000000000171e-310,"
                                  "1.0000000000000000e-01,1.9999999999999999e+00");
    EXPECT_TRUE(is_csv_name("a.csv"));
    EXPECT_TRUE(is_csv_name("dir/A.CSV"));
    EXPECT_FALSE(is_csv_name("csv"));
    EXPECT_FALSE(is_csv_name("a.csv.dat"));
    EXPECT_FALSE(is_csv_name(".cs"));
}

} // namespace
} // namespace fasogram
