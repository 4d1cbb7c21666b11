#include "dialogue.hpp"
#include "test_support.hpp"

#include "common/ppm.hpp"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <locale>
#include <sstream>

namespace fasogram {
namespace {

using testing::ScratchDir;

using testing::PlotConsole;
using testing::WorkingDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    std::string plot; // what the plotting library wrote on the console
};

// Runs the program in `dir`, which is also the current directory.
Outcome run_in(const ScratchDir& dir, const std::string& answers) {
    std::istringstream in(answers);
    std::ostringstream out;
    std::ostringstream err;
    WorkingDir here(dir.path());
    PlotConsole console;
    Outcome run;
    run.status = run_fasogram(in, out, err, dir.path());
    run.out = out.str();
    run.err = err.str();
    run.plot = console.text();
    return run;
}

const std::string save_question = " Guardo como BMP (1), TIFF (2), PS (3), PDF (4)?\n"
                                  " exit (0)?\n";

const std::string banner = " O--------------------------------------------------O\n"
                           " |                     FASOGRAM                     |\n"
                           " |                  version 22/04/03                |\n"
                           " |               contacto: fasogram@example.org     |\n"
                           " O--------------------------------------------------O\n"
                           " \n"
                           " ESPECTRO DE LA SERIE TEMPORAL datos.dat (equiespaciada o no)\n"
                           " AJUSTANDO AL MODELO Y = C1 + C2*COS(2PI*f*t) + C3*SIN(2PI*f*t)\n"
                           " Refs: Astronomical Journal (1981) vol.86(4), pp 619.\n"
                           "       Astronomical Journal (1996) vol.111(1), pp 541.\n"
                           "       Astronomical Journal (1997) vol.113(2), pp 863.\n"
                           "\n"
                           " El espectro estara en fasogram.dat y el orden sera:\n"
                           " frecuencia, Coef.Corr.Espec., C1, C2, C3\n"
                           "\n"
                           " Nota: unidad de frecuencia = ciclos por unidad de tiempo\n"
                           "\n";

// Ten points spanning 100 time units.
const std::string small_series = "0 1.0\n7 2.5\n15 0.5\n22 1.5\n41 3.0\n"
                                 "50 2.0\n63 0.1\n77 1.9\n88 2.2\n100 0.7\n";

std::size_t count_lines(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(Dialogue, CompleteSessionWithEveryReAsk) {
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    const Outcome run = run_in(dir, "x\n\nCuadrada\n5\n1\n1\n1\n1\n2\n0\n-3\n4\n0\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, banner +
                           " son  10    datos en la serie temporal\n"
                           "\n"
                           " ventana Hanning (h) o cuadrada (c)?\n"
                           " ventana Hanning (h) o cuadrada (c)?\n"
                           " ancho de cada linea espectral =  0.01\n"
                           "\n"
                           " Definicion de los limites del espectro:\n"
                           " frecuencia inicial?\n"
                           " frecuencia final?\n"
                           " zapallo! frec final debe ser > frec inicial\n"
                           " frecuencia inicial?\n"
                           " frecuencia final?\n"
                           " zapallo! frec final debe ser > frec inicial\n"
                           " frecuencia inicial?\n"
                           " frecuencia final?\n"
                           " Numero de puntos que tendra el espectro?\n"
                           " el numero de puntos debe ser mayor que 0\n"
                           " Numero de puntos que tendra el espectro?\n"
                           " el numero de puntos debe ser mayor que 0\n"
                           " Numero de puntos que tendra el espectro?\n"
                           " estoy calculando el espectro....\n"
                           " vea que bonito el grafico.....\n" +
                           save_question);
    const std::string table = dir.read("fasogram.dat");
    ASSERT_EQ(count_lines(table), 5u);
    EXPECT_EQ(table.substr(0, 15), "  1.0000000E+00");
    EXPECT_EQ(table.substr(76, 15), "  1.2500000E+00");
    EXPECT_EQ(table.substr(4 * 76, 15), "  2.0000000E+00");
    EXPECT_FALSE(dir.exists("fasogram0.dat"));
}

TEST(Dialogue, BannerBoxLinesAreFiftyTwoCharactersWide) {
    ScratchDir dir;
    const Outcome run = run_in(dir, "");
    std::istringstream lines(run.out);
    std::string line;
    for (int i = 0; i < 5 && std::getline(lines, line); ++i) {
        EXPECT_EQ(line.size(), 53u) << line;
        EXPECT_EQ(line[1], i == 0 || i == 4 ? 'O' : '|');
        EXPECT_EQ(line.back(), i == 0 || i == 4 ? 'O' : '|');
    }
    EXPECT_EQ(run.out.rfind(banner, 0), 0u);
}

TEST(Dialogue, HanningOverOneHundredUnitsPrintsTheLineWidth) {
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    // "Hanning" counts as its first letter; f_ini = 0 is skipped, so the
    // table starts at df = 0.1.
    const Outcome run = run_in(dir, "Hanning\n0\n0.5\n5\n0\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\n ancho de cada linea espectral =  0.02\n\n"), std::string::npos);
    const std::string table = dir.read("fasogram.dat");
    EXPECT_EQ(count_lines(table), 5u);
    EXPECT_EQ(table.substr(0, 15), "  1.0000000E-01");
}

TEST(Dialogue, TwentyThousandPairsAtMostAndNothingReadBeyond) {
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 20005; ++i) {
        text += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
        if (i == 19999) text += "this line is never read\n";
    }
    dir.write("datos.dat", text);
    const Outcome run = run_in(dir, "c\n0.1\n0.2\n1\n0\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n son  20000    datos en la serie temporal\n"
                           " datos.dat tiene mas datos: se leen solo los primeros 20000 pares\n\n"),
              std::string::npos);
    // D = 19999 with the square window.
    EXPECT_NE(run.out.find("ancho de cada linea espectral =  5.00025001E-05\n"), std::string::npos);
}

TEST(Dialogue, ExactlyTwentyThousandPairsSayNothingMore) {
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
    dir.write("datos.dat", text + "# the end\n\n");
    const Outcome run = run_in(dir, "c\n0.1\n0.2\n1\n0\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n son  20000    datos en la serie temporal\n\n"), std::string::npos);
    EXPECT_EQ(run.out.find("tiene mas datos"), std::string::npos);
}

TEST(Dialogue, ADecimalCommaIsAskedAgainAndNothingElseChanges) {
    ScratchDir plain_dir, comma_dir;
    plain_dir.write("datos.dat", small_series);
    comma_dir.write("datos.dat", small_series);
    const Outcome plain = run_in(plain_dir, "c\n0.1\n0.2\n4\n0\n");
    const Outcome comma = run_in(comma_dir, "c\n0,1\n0.1\n0,2\n0.2\n4\n0\n");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(comma.status, 0);
    EXPECT_EQ(comma.err, "");
    // The two refusals, each a note and the question again, and the same
    // session otherwise.
    std::string expected = plain.out;
    const std::string ini = " frecuencia inicial?\n", fin = " frecuencia final?\n";
    const std::string note = " los decimales se escriben con punto, no con coma: ";
    expected.insert(expected.find(fin) + fin.size(), note + "'0,2'\n" + fin);
    expected.insert(expected.find(ini) + ini.size(), note + "'0,1'\n" + ini);
    EXPECT_EQ(comma.out, expected);
    EXPECT_EQ(comma_dir.read("fasogram.dat"), plain_dir.read("fasogram.dat"));
}

TEST(Dialogue, ZeroDeterminantIsWrittenAsNonFiniteFields) {
    ScratchDir dir;
    dir.write("datos.dat", "0 1\n1 3\n2 2\n3 5\n4 4\n");
    const Outcome run = run_in(dir, "c\n0.5\n1\n1\n0\n");
    EXPECT_EQ(run.status, 0);
    const std::string table = dir.read("fasogram.dat");
    ASSERT_EQ(count_lines(table), 2u);
    EXPECT_EQ(table.substr(76, 30), "  1.0000000E+00            NaN");
}

// Every error stop: one report on the error stream, status 1, and the
// dialogue ends where the fault was met.
struct ErrorCase {
    const char* name;
    const char* series; // nullptr: no datos.dat
    const char* answers;
    const char* report;
    const char* last_output_line;
};

TEST(Dialogue, ErrorStopsReportOnceAndWriteNothingMore) {
    const ErrorCase cases[] = {
        {"missing file", nullptr, "h\n",
         "fasogram: error: no se puede abrir el archivo datos.dat: No such file or directory\n",
         ""},
        {"malformed number", "1 2\n3 4\n\n5 abc\n", "h\n",
         "fasogram: error: datos.dat, linea 4: numero mal formado: 'abc'\n", ""},
        {"empty series", "", "h\n",
         "fasogram: error: datos.dat: se necesitan al menos 2 pares (tiempo, valor) y hay 0\n", ""},
        {"one pair", "1 2\n3\n", "h\n",
         "fasogram: error: datos.dat: se necesitan al menos 2 pares (tiempo, valor) y hay 1\n", ""},
        {"zero span", "5 1\n5 2\n5 3\n", "h\n",
         "fasogram: error: datos.dat: todos los tiempos son iguales; la serie no abarca ningun "
         "intervalo\n",
         ""},
        // Out of order: the span runs from the earliest to the latest time.
        // Under the Hanning window both carry no weight, and the one value
        // left does not vary.
        {"no weighted variance", "5 1\n6 2\n5 3\n", "h\n",
         "fasogram: error: datos.dat: la serie no varia con esta ventana (varianza ponderada "
         "nula); no tiene espectro\n",
         " ventana Hanning (h) o cuadrada (c)?"},
        {"constant series", "1 7\n2 7\n3.5 7\n", "c\n",
         "fasogram: error: datos.dat: la serie no varia con esta ventana (varianza ponderada "
         "nula); no tiene espectro\n",
         " ventana Hanning (h) o cuadrada (c)?"},
        {"end of input at window", small_series.c_str(), "x\n",
         "fasogram: error: fin de la entrada al esperar la respuesta a 'ventana Hanning (h) o "
         "cuadrada (c)?'\n",
         " ventana Hanning (h) o cuadrada (c)?"},
        {"malformed frequency", small_series.c_str(), "h\n1, 5x\n1.5x\n",
         "fasogram: error: respuesta no valida a 'frecuencia final?': '1.5x'\n",
         " frecuencia final?"},
        {"end of input at final frequency", small_series.c_str(), "h\n0\n",
         "fasogram: error: fin de la entrada al esperar la respuesta a 'frecuencia final?'\n",
         " frecuencia final?"},
        {"point in the number of points", small_series.c_str(), "h\n0\n1\n100.\n",
         "fasogram: error: respuesta no valida a 'Numero de puntos que tendra el espectro?': "
         "'100.'\n",
         " Numero de puntos que tendra el espectro?"},
        {"end of input after a refused count", small_series.c_str(), "h\n0\n1\n0\n",
         "fasogram: error: fin de la entrada al esperar la respuesta a 'Numero de puntos que "
         "tendra el espectro?'\n",
         " Numero de puntos que tendra el espectro?"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        if (c.series) dir.write("datos.dat", c.series);
        const Outcome run = run_in(dir, c.answers);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.report);
        const std::string tail = std::string("\n") + c.last_output_line + "\n";
        ASSERT_GE(run.out.size(), tail.size());
        EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
        EXPECT_FALSE(dir.exists("fasogram.dat"));
    }
}

TEST(Dialogue, TableThatCannotBeCreatedStopsTheRun) {
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    std::filesystem::create_directory(dir.path() / "fasogram.dat");
    const Outcome run = run_in(dir, "h\n0.1\n0.2\n3\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "fasogram: error: no se puede crear el archivo fasogram.dat: Is a directory\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "fasogram.dat"));
}

TEST(Dialogue, SameOutputUnderACommaLocale) {
    ScratchDir plain;
    plain.write("datos.dat", small_series);
    const Outcome reference = run_in(plain, "h\n0.013\n0.4\n7\n0\n");

    ScratchDir german;
    german.write("datos.dat", small_series);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    std::locale::global(std::locale("de_DE.UTF-8"));
    const Outcome localised = run_in(german, "h\n0.013\n0.4\n7\n0\n");
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, saved.c_str());

    EXPECT_EQ(reference.status, 0);
    EXPECT_EQ(localised.status, 0);
    EXPECT_EQ(localised.out, reference.out);
    EXPECT_EQ(localised.plot, reference.plot);
    EXPECT_NE(reference.out.find("=  0.02\n"), std::string::npos);
    EXPECT_EQ(german.read("fasogram.dat"), plain.read("fasogram.dat"));
    EXPECT_EQ(count_lines(plain.read("fasogram.dat")), 8u);
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

const std::string graph_files[] = {"fasogram.bmp", "fasogram.tif", "fasogram.ps", "fasogram.pdf"};

TEST(SaveDialogue, AnswersOutsideTheRangeAskAgainAndZeroSavesNothing) {
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    const Outcome run = run_in(dir, "h\n0.1\n0.2\n3\n7\n-1\n\n0\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string tail =
        " vea que bonito el grafico.....\n" + save_question + save_question + save_question;
    ASSERT_GE(run.out.size(), tail.size());
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
    // The screen cycle: no display here, then its summary box.
    EXPECT_EQ(
        run.plot.rfind(" <<<< Warning 101: No display available in disini!\n\n"
                       " <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<\n"
                       " <<                END OF PLOTIX / VERSION  8.0                  <<\n"
                       " <<  Date    : 05.03.2024  Time    : 14:07:09  Pageformat: DA4L  <<\n",
                       0),
        0u);
    EXPECT_EQ(count(run.plot, "END OF PLOTIX"), 1u);
    EXPECT_NE(run.plot.find("Fileformat: CONS"), std::string::npos);
    for (const std::string& name : graph_files) EXPECT_FALSE(dir.exists(name)) << name;
}

TEST(SaveDialogue, EndOfInputOrAnAnswerThatIsNoIntegerStopsTheRun) {
    const char* const question = "Guardo como BMP (1), TIFF (2), PS (3), PDF (4)?";
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    Outcome run = run_in(dir, "h\n0.1\n0.2\n3\n9\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              std::string("fasogram: error: fin de la entrada al esperar la respuesta a '") +
                  question + "'\n");
    EXPECT_TRUE(dir.exists("fasogram.dat")); // written before the question
    run = run_in(dir, "h\n0.1\n0.2\n3\n3.0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              std::string("fasogram: error: respuesta no valida a '") + question + "': '3.0'\n");
    for (const std::string& name : graph_files) EXPECT_FALSE(dir.exists(name)) << name;
}

TEST(SaveDialogue, PostScriptFileThatGhostscriptRenders) {
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    const Outcome run = run_in(dir, "h\n0.1\n0.2\n3\n3\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string tail = " vea que bonito el grafico.....\n" + save_question;
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
    EXPECT_EQ(count(run.plot, "END OF PLOTIX"), 2u);
    EXPECT_NE(run.plot.find(" <<  Metafile: fasogram.ps   "), std::string::npos);
    ASSERT_TRUE(dir.exists("fasogram.ps"));
    EXPECT_EQ(dir.read("fasogram.ps").rfind("%!PS-Adobe", 0), 0u);
    std::string log;
    EXPECT_TRUE(test_common::render_with_ghostscript(dir.path() / "fasogram.ps", 36,
                                                     dir.path() / "page.png", log))
        << log;
    EXPECT_TRUE(dir.exists("page.png"));
    EXPECT_FALSE(dir.exists("fasogram.pdf"));
}

TEST(SaveDialogue, PdfFileThatQpdfAccepts) {
    ScratchDir dir;
    dir.write("datos.dat", small_series);
    const Outcome run = run_in(dir, "h\n0.1\n0.2\n3\n4\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.plot.find("Fileformat:  PDF"), std::string::npos);
    ASSERT_TRUE(dir.exists("fasogram.pdf"));
    const std::string qpdf =
        "cd '" + dir.path().string() + "' && qpdf --check fasogram.pdf >qpdf.log 2>&1";
    EXPECT_EQ(std::system(qpdf.c_str()), 0) << dir.read("qpdf.log");
    EXPECT_FALSE(dir.exists("fasogram.ps"));
}

} // namespace
} // namespace fasogram
