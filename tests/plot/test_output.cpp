// Format keywords, default file names, the version-number rule and files
// that cannot be created.
#include <cerrno>

#include "core/files.h"
#include "life/output.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
namespace fs = std::filesystem;
using d::g;

TEST_F(PlotixTest, FormatKeywords) {
    struct Case {
        const char* keyword;
        int device;
        const char* stored;
    };
    for (const Case& c :
         {Case{"cons", 80, "CONS"},        Case{"Cons", 80, "CONS"},  Case{"CONSOLE", 80, "CONS"},
          Case{"MET5", 80, "MET5"},        Case{"met1", 80, "MET1"},  Case{"PS", 504, "PS"},
          Case{"ps", 504, "PS"},           Case{"eps", 503, "EPS"},   Case{"PSCL", 502, "PSCL"},
          Case{"postscript", 501, "POST"}, Case{"pdf", 511, "PDF"},   Case{"XWIN", 72, "XWIN"},
          Case{"XWI1", 72, "XWI1"},        Case{"xwi8", 79, "XWI8"},  Case{"XWND", 80, "XWND"},
          Case{"HPA1", 405, "HPA1"},       Case{"java", 701, "JAVA"}, Case{"bmp", 606, "BMP"},
          Case{"VT34", 103, "VT34"},       Case{"gksl", 201, "GKSL"}}) {
        plotix::metafl(c.keyword);
        EXPECT_EQ(g.out.device, c.device) << c.keyword;
        EXPECT_EQ(g.out.keyword, c.stored) << c.keyword;
    }
    EXPECT_EQ(console_text(), "");
    plotix::metafl("P");
    plotix::metafl("MET0");
    plotix::metafl("");
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in metafl!   (P)\n"
                              " <<<< Warning   2: Incorrect parameter in metafl!   (MET0)\n"
                              " <<<< Warning   2: Incorrect parameter in metafl!   ()\n");
    EXPECT_EQ(g.out.device, 201);
    EXPECT_EQ(g.out.keyword, "GKSL");

    EXPECT_EQ(d::qqgfxt(701), "java");
    EXPECT_EQ(d::qqgfxt(504), "ps");
    EXPECT_EQ(d::qqgfxt(502), "psc");
    EXPECT_EQ(d::qqgfxt(603), "   ");
    EXPECT_EQ(d::qqgfxt(80), "   ");
}

TEST_F(PlotixTest, EveryRowOfTheKeywordTable) {
    struct Row {
        const char* keyword;
        int device;
        const char* extension;
    };
    const Row rows[] = {
        {"CONS", 101, "   "},  {"XWIN", 72, "   "},  {"XWI1", 72, "   "},  {"XWI2", 73, "   "},
        {"XWI3", 74, "   "},   {"XWI4", 75, "   "},  {"XWI5", 76, "   "},  {"XWI6", 77, "   "},
        {"XWI7", 78, "   "},   {"XWI8", 79, "   "},  {"XWND", 80, "   "},  {"MET1", 80, "   "},
        {"MET9", 80, "   "},   {"TEKT", 151, "tek"}, {"VT34", 103, "   "}, {"LN03", 161, "ln3"},
        {"GKSL", 201, "met"},  {"CGM ", 211, "cgm"}, {"WMF ", 221, "wmf"}, {"KYOC", 301, "kyo"},
        {"HPGL", 401, "hpg"},  {"HPA4", 402, "hpg"}, {"HPA3", 403, "hpg"}, {"HPA2", 404, "hpg"},
        {"HPA1", 405, "hpg"},  {"POST", 501, "psc"}, {"PSCL", 502, "psc"}, {"EPS ", 503, "eps"},
        {"PS  ", 504, "ps"},   {"PDF ", 511, "pdf"}, {"TIFF", 601, "tif"}, {"IMAG", 602, "img"},
        {"VIRT", 603, "   "},  {"PNG ", 604, "png"}, {"PPM ", 605, "ppm"}, {"BMP ", 606, "bmp"},
        {"JAVA", 701, "java"}, {"SVG ", 801, "svg"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(d::qqgdnr(r.keyword), r.device) << r.keyword;
        EXPECT_EQ(d::qqgfxt(r.device == 101 ? 80 : r.device), r.extension) << r.keyword;
    }
    EXPECT_EQ(console_text(), "");

    // Only four characters are compared, in byte order for the MET range.
    d::jqqlev(0, 0, "metafl");
    EXPECT_EQ(d::qqgdnr("met1x"), 80);
    EXPECT_EQ(d::qqgdnr("MET:"), 0);
    EXPECT_EQ(d::qqgdnr("META"), 0);
    EXPECT_EQ(d::qqgdnr("MET"), 0);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in metafl!   (MET:)\n"
                              " <<<< Warning   2: Incorrect parameter in metafl!   (META)\n"
                              " <<<< Warning   2: Incorrect parameter in metafl!   (MET)\n");

    // A long unknown keyword reaches the library, and its warning, cut to
    // four characters, as given.
    plotix::metafl("png2x");
    plotix::metafl("PostScriptX"); // POST
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in metafl!   (png2)\n");
    EXPECT_EQ(g.out.device, 501);
    EXPECT_EQ(g.out.keyword, "POST");
}

TEST_F(PlotixTest, VersionNumbersForExistingFiles) {
    std::string name = "fasogram.bmp";
    d::gfilnn(name);
    EXPECT_EQ(name, "fasogram.bmp"); // free: unchanged
    touch("fasogram.bmp");
    std::vector<std::string> got;
    for (int i = 1; i <= 1000; ++i) {
        name = "fasogram.bmp";
        ASSERT_EQ(d::gfilnn(name), 0);
        got.push_back(name);
        touch(name);
    }
    EXPECT_EQ(got[0], "fasogr_1.bmp");
    EXPECT_EQ(got[8], "fasogr_9.bmp");
    EXPECT_EQ(got[9], "fasog_10.bmp");
    EXPECT_EQ(got[98], "fasog_99.bmp");
    EXPECT_EQ(got[99], "faso_100.bmp");
    EXPECT_EQ(got[998], "faso_999.bmp");
    EXPECT_EQ(got[999], "fas_1000.bmp");

    fs::remove("fasogr_3.bmp"); // the first free number is taken
    name = "fasogram.bmp";
    d::gfilnn(name);
    EXPECT_EQ(name, "fasogr_3.bmp");

    touch("plotix.ps");
    for (int i = 1; i <= 9; ++i) touch("plotix_" + std::to_string(i) + ".ps");
    name = "plotix.ps";
    d::gfilnn(name);
    EXPECT_EQ(name, "ploti_10.ps");

    fs::create_directory("sub.d");
    touch("sub.d/fasogram.ps");
    touch("sub.d/data");
    name = "sub.d/fasogram.ps";
    d::gfilnn(name);
    EXPECT_EQ(name, "sub.d/fasogr_1.ps");
    name = "sub.d/data";
    d::gfilnn(name);
    EXPECT_EQ(name, "sub.d/data_1");
    touch("sub.d/x.y.z");
    name = "sub.d/x.y.z";
    d::gfilnn(name);
    EXPECT_EQ(name, "sub.d/x.y_1.z");
}

TEST_F(PlotixTest, TooManyVersionsIsAFileError) {
    touch("a.ps");
    for (int i = 1; i <= 9999; ++i) touch("a_" + std::to_string(i) + ".ps");
    plotix::metafl("PS");
    plotix::setfil("a.ps");
    plotix::disini();
    EXPECT_EQ(console_text(), "More than 9999 file versions!\n"
                              " <<<< Warning  36: File error in disini!   (a.ps)\n");
    plotix::line(0, 0, 10, 10);
    plotix::disfin();
    std::string text = console_text();
    EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << text;
    EXPECT_NE(text.find("Metafile:  "), std::string::npos);
    int errnum = 0;
    std::string file;
    EXPECT_EQ(plotix::getfst(&errnum, &file), -1);
    EXPECT_EQ(errnum, EEXIST);
    EXPECT_EQ(file, "a.ps");
    EXPECT_EQ(read_file("a.ps"), "x");
}

TEST_F(PlotixTest, GivenNameIsUsedAndSettledAtDisini) {
    touch("fasogram.ps");
    touch("fasogr_1.ps");
    plotix::metafl("PS");
    plotix::setfil("fasogram.ps");
    plotix::disini();
    plotix::disfin();
    EXPECT_TRUE(fs::exists("fasogr_2.ps"));
    EXPECT_NE(console_text().find("Metafile: fasogr_2.ps "), std::string::npos);
    EXPECT_EQ(read_file("fasogram.ps"), "x"); // never overwritten
}

TEST_F(PlotixTest, FileThatCannotBeCreated) {
    // The plot goes on without output; the failure is reported once, at
    // disini, with the file's name.
    plotix::metafl("PS");
    plotix::setfil("missing/dir/out.ps");
    plotix::disini();
    EXPECT_EQ(console_text(), " <<<< Warning  36: File error in disini!   (missing/dir/out.ps)\n");
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    std::string text = console_text();
    EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << text;
    EXPECT_NE(text.find("Vectors : 2 "), std::string::npos);
    EXPECT_NE(text.find("Warnings: 1 "), std::string::npos);
    EXPECT_NE(text.find(" <<  Metafile:                                                   <<"),
              std::string::npos);
    int errnum = 0;
    std::string file;
    EXPECT_EQ(plotix::getfst(&errnum, &file), -1);
    EXPECT_EQ(errnum, ENOENT);
    EXPECT_EQ(file, "missing/dir/out.ps");

    plotix::setfil(""); // an empty name cannot be created either
    plotix::disini();
    EXPECT_EQ(console_text(), " <<<< Warning  36: File error in disini!   ()\n");
    plotix::disfin();
    EXPECT_EQ(console_text().find("<<<< Warning"), std::string::npos);
    EXPECT_EQ(plotix::getfst(), -1);
    EXPECT_TRUE(fs::is_empty(dir)); // nothing left behind
}

TEST_F(PlotixTest, FormatsWithoutContentsProduceNoFile) {
    for (const char* keyword : {"CGM", "WMF", "TEKT", "VT34", "LN03"}) {
        plotix::metafl(keyword);
        plotix::disini();
        EXPECT_EQ(console_text(), " <<<< Warning  40: File format and output device are "
                                  "incompatible in disini!\n")
            << keyword;
        plotix::line(0, 0, 100, 100);
        plotix::disfin();
        std::string text = console_text();
        EXPECT_NE(text.find("Warnings: 1 "), std::string::npos);
        EXPECT_NE(text.find(" <<  Metafile:                                                   <<"),
                  std::string::npos);
    }
    // The image kept in memory only has no file either.
    for (const char* keyword : {"VIRT"}) {
        plotix::metafl(keyword);
        plotix::disini();
        plotix::line(0, 0, 100, 100);
        plotix::disfin();
        EXPECT_EQ(console_text().find("<<<< Warning"), std::string::npos) << keyword;
    }
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(plotix::getfst(), 0);
}
