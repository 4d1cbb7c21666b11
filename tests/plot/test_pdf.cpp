// The PDF file: object layout, cross-reference offsets, content operators
// after inflating, stream splitting and uncompressed streams, file errors,
// and checks by qpdf and ghostscript.
#include <zlib.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <set>

#include "common/ppm.hpp"
#include "common/support.hpp"
#include "core/state.h"
#include "drivers/image_writers.h"
#include "drivers/pdf.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
using namespace test_common;
namespace d = plotix::detail;
namespace fs = std::filesystem;
using d::g;

namespace {

struct Stream {
    std::string dict; // from "<<" up to "stream\n"
    std::string data; // the bytes of /Length, inflated when filtered
};

// A parsed PDF: every offset is checked on the way, failures are reported
// through gtest.
struct Parsed {
    std::string text;
    std::vector<long long> offsets; // by object number, from the xref table
    int size = 0, info = 0;

    std::string object(int n) const {
        const long long at = offsets.at(n);
        const std::size_t end = text.find("endobj\n", at);
        return text.substr(at, end - at);
    }

    // The stream of object n, with its length taken from the dictionary
    // (direct or through a length object).
    Stream stream(int n) const {
        Stream s;
        const std::string obj = object(n);
        const std::size_t st = obj.find("stream\n");
        if (st == std::string::npos) {
            ADD_FAILURE() << "object " << n << " has no stream";
            return s;
        }
        s.dict = obj.substr(0, st);
        std::size_t len_at = s.dict.find("/Length ");
        long long length = std::atoll(s.dict.c_str() + len_at + 8);
        const std::size_t after = s.dict.find_first_not_of("0123456789", len_at + 8);
        if (s.dict.compare(after, 4, " 0 R") == 0) {
            std::string lobj = object(static_cast<int>(length));
            length = std::atoll(lobj.c_str() + lobj.find('\n') + 1);
        }
        s.data = obj.substr(st + 7, static_cast<std::size_t>(length));
        EXPECT_EQ(obj.substr(st + 7 + static_cast<std::size_t>(length)), "endstream\n")
            << "object " << n;
        if (s.dict.find("/Filter /FlateDecode") != std::string::npos) s.data = inflate(s.data);
        return s;
    }

    static std::string inflate(const std::string& in) {
        z_stream z{};
        EXPECT_EQ(inflateInit(&z), Z_OK);
        std::string out;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        int rc = Z_OK;
        char buf[65536];
        while (rc == Z_OK) {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            rc = ::inflate(&z, Z_NO_FLUSH);
            out.append(buf, sizeof buf - z.avail_out);
        }
        EXPECT_EQ(rc, Z_STREAM_END);
        EXPECT_EQ(z.avail_in, 0u) << "bytes after the deflate stream";
        inflateEnd(&z);
        return out;
    }
};

Parsed parse(const std::string& file) {
    Parsed p;
    p.text = read_file(file);
    const std::string& t = p.text;
    EXPECT_EQ(t.rfind("%PDF-1.3\n", 0), 0u);
    EXPECT_TRUE(t.ends_with("%%EOF\n"));
    const std::size_t sx = t.rfind("startxref\n");
    if (sx == std::string::npos) {
        ADD_FAILURE() << "no startxref";
        return p;
    }
    const long long xref = std::atoll(t.c_str() + sx + 10);
    EXPECT_EQ(t.compare(xref, 5, "xref\n"), 0) << "startxref points elsewhere";
    auto lines = split_lines(t.substr(xref));
    EXPECT_EQ(lines[1].substr(0, 2), "0 ");
    p.size = std::atoi(lines[1].c_str() + 2);
    EXPECT_EQ(lines[2], "0000000000 65535 f ");
    p.offsets.assign(p.size, 0);
    for (int i = 1; i < p.size; ++i) {
        const std::string& row = lines[2 + i];
        EXPECT_EQ(row.size(), 19u); // 20 bytes with the line feed
        EXPECT_EQ(row.substr(10), " 00000 n ");
        p.offsets[i] = std::atoll(row.c_str());
        const std::string head = std::to_string(i) + " 0 obj\n";
        EXPECT_EQ(t.compare(p.offsets[i], head.size(), head), 0)
            << "xref entry " << i << " does not point at its object";
    }
    EXPECT_EQ(lines[2 + p.size], "trailer");
    const std::string trailer = lines[3 + p.size];
    EXPECT_EQ(trailer.rfind("<< /Size " + std::to_string(p.size) + " /Root 1 0 R /Info ", 0), 0u)
        << trailer;
    p.info = std::atoi(trailer.c_str() + trailer.find("/Info ") + 6);
    return p;
}

bool qpdf_ok(const std::string& file, std::string& report) {
    report = run_command("qpdf --check " + file);
    return report.find("No syntax or stream encoding errors found") != std::string::npos &&
           report.find("WARNING") == std::string::npos &&
           report.find("exit status") == std::string::npos;
}

// Renders the page with ghostscript at 72 dpi (one pixel per point).
Image render(const std::string& file) {
    Image img;
    std::string log;
    EXPECT_TRUE(render_with_ghostscript(file, 72, "page.ppm", log)) << log;
    EXPECT_TRUE(img.read("page.ppm")) << "no PPM from ghostscript";
    return img;
}

bool ink(const Image& img, int x, int y) {
    const Pixel p = img.at(x, y);
    return p.r + p.g + p.b < 600;
}

std::string plot_pdf(void (*draw)()) {
    plotix::metafl("PDF");
    plotix::setfil("out.pdf");
    plotix::disini();
    draw();
    plotix::disfin();
    return "out.pdf";
}

// Line width, caps and joins, then the foreground colour that every plot
// starts with.
constexpr const char* kSetup = "0.709 w\n2 J\n2 j\n0 0 0 RG\n0 0 0 rg\n";

} // namespace

TEST_F(PlotixTest, PdfEmptyPlotLayout) {
    plot_pdf([] {});
    Parsed p = parse("out.pdf");
    // 3 content, 4 page, then 2 page tree, 1 catalog, 5 information.
    ASSERT_EQ(p.size, 6);
    EXPECT_EQ(p.info, 5);
    EXPECT_EQ(p.offsets[3], 9);
    EXPECT_LT(p.offsets[3], p.offsets[4]);
    EXPECT_LT(p.offsets[4], p.offsets[2]);
    EXPECT_LT(p.offsets[2], p.offsets[1]);
    EXPECT_LT(p.offsets[1], p.offsets[5]);
    Stream s = p.stream(3);
    EXPECT_EQ(s.dict, "3 0 obj\n<< /Length " +
                          std::to_string(read_file("out.pdf").find("endstream") -
                                         read_file("out.pdf").find("stream\n") - 7) +
                          "\n/Filter /FlateDecode\n>>\n");
    EXPECT_EQ(s.data, kSetup);
    EXPECT_EQ(p.object(4), "4 0 obj\n<<\n/Type /Page\n/MediaBox [0 0 553 782]\n/Parent 2 0 R\n"
                           "/Resources << /ProcSet [/PDF]\n>>\n/Contents 3 0 R\n>>\n");
    EXPECT_EQ(p.object(2), "2 0 obj\n<< /Type /Pages /Kids [\n4 0 R\n] /Count 1\n>>\n");
    EXPECT_EQ(p.object(1), "1 0 obj\n<< /Type /Catalog /Pages 2 0 R\n>>\n");
    EXPECT_EQ(p.object(5),
              "5 0 obj\n<< /CreationDate (D:20240305140709)\n/Producer (PLOTIX 7.6)\n>>\n");
    EXPECT_TRUE(p.text.ends_with("trailer\n<< /Size 6 /Root 1 0 R /Info 5 0 R\n>>\nstartxref\n" +
                                 std::to_string(p.text.rfind("xref\n0 6")) + "\n%%EOF\n"));
    std::string report;
    EXPECT_TRUE(qpdf_ok("out.pdf", report)) << report;
    EXPECT_NE(console_text().find(" <<  Metafile: out.pdf "), std::string::npos);
}

TEST_F(PlotixTest, PdfPathsAndColours) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    plot_pdf([] {
        plotix::line(100, 200, 300, 400); // x and y exchanged, 0.263345 points per unit
        d::qqmove(1000, 0);               // two segments without a move between them
        d::qqdraw(1000, 100);
        d::qqdraw(1100, 100);
        d::qqstrk();
        g.dev.driver->colour(3, {128, 0, 255}); // strokes the open path first
        g.dev.driver->colour(3, {128, 0, 255}); // same fill colour: only RG again
        d::xjdraw(500, 500, d::PenOp::move);
        d::xjdraw(500, 600, d::PenOp::draw);
        d::xjdraw(600, 600, d::PenOp::draw);
        d::xjdraw(0, 0, d::PenOp::fill);
        d::xjdraw(700, 700, d::PenOp::draw);                       // a new path from the last point
        g.dev.driver->box(100, 200, 300, 400, 0, {255, 255, 255}); // the line's square
    });
    std::setlocale(LC_ALL, saved.c_str());
    Parsed p = parse("out.pdf");
    ASSERT_EQ(p.size, 6);
    EXPECT_EQ(p.stream(3).data, std::string(kSetup) +
                                    "52.67 26.33 m\n105.34 79.00 l\n"
                                    "S\n"
                                    "0.00 263.34 m\n26.33 263.34 l\n26.33 289.68 l\n"
                                    "S\n"
                                    "0.502 0 1 RG\n0.502 0 1 rg\n0.502 0 1 RG\n"
                                    "131.67 131.67 m\n158.01 131.67 l\n158.01 158.01 l\n"
                                    "h\nf*\n"
                                    "158.01 158.01 m\n184.34 184.34 l\n"
                                    "S\n"
                                    "1 1 1 rg\n52.67 26.33 52.67 52.67 re\nf\n");
    std::string report;
    EXPECT_TRUE(qpdf_ok("out.pdf", report)) << report;
}

TEST_F(PlotixTest, PdfPageFillIsOneRectangleOverTheMediaBox) {
    plot_pdf([] { plotix::pagfll(4); });
    Parsed p = parse("out.pdf");
    const std::string& data = p.stream(3).data;
    // The landscape page turned onto the portrait MediaBox: 2099 x 2969 plot
    // units at 0.263342 points each.
    EXPECT_NE(data.find("0.00 0.00 552.76 781.86 re\nf\n"), std::string::npos) << data;
    std::string report;
    EXPECT_TRUE(qpdf_ok("out.pdf", report)) << report;
}

TEST_F(PlotixTest, PdfRendersInkWhereTheLinesAre) {
    plot_pdf([] {
        plotix::line(0, 1000, 2969, 1000); // a column at x = 263.3 points
        d::qqstrk();
        g.dev.driver->colour(1, {255, 0, 0});
        // A red square, 300..600 plot units: 79..158 points.
        d::xjdraw(300, 300, d::PenOp::move);
        d::xjdraw(300, 600, d::PenOp::draw);
        d::xjdraw(600, 600, d::PenOp::draw);
        d::xjdraw(600, 300, d::PenOp::draw);
        d::xjdraw(0, 0, d::PenOp::fill);
    });
    Image pic = render("out.pdf");
    ASSERT_EQ(pic.width, 553);
    ASSERT_EQ(pic.height, 782);
    for (int y : {10, 200, 400, 770}) {
        EXPECT_TRUE(ink(pic, 262, y) || ink(pic, 263, y) || ink(pic, 264, y)) << y;
        EXPECT_FALSE(ink(pic, 250, y)) << y;
        EXPECT_FALSE(ink(pic, 276, y)) << y;
    }
    // PDF y grows upwards: points 79..158 are rows 782 - 158 .. 782 - 79.
    const int cx = 118, cy = 782 - 118;
    EXPECT_EQ(pic.at(cx, cy).r, 255);
    EXPECT_EQ(pic.at(cx, cy).g, 0);
    EXPECT_EQ(pic.at(cx, cy).b, 0);
    EXPECT_FALSE(ink(pic, 60, cy));
    EXPECT_FALSE(ink(pic, cx, 782 - 170));
}

TEST_F(PlotixTest, PdfLongContentIsSplitIntoStreams) {
    plot_pdf([] {
        for (int i = 0; i < 12000; ++i) plotix::line(i % 2900, 100, i % 2900 + 50, 2000);
    });
    Parsed p = parse("out.pdf");
    // Two content streams, then the page, the information object.
    ASSERT_EQ(p.size, 7);
    EXPECT_NE(p.object(5).find("/Contents [\n3 0 R\n4 0 R\n]\n"), std::string::npos);
    const std::string a = p.stream(3).data, b = p.stream(4).data;
    EXPECT_LE(a.size(), 300000u);
    EXPECT_GT(a.size(), 299950u);
    const std::string all = a + b;
    std::size_t strokes = 0, at = 0;
    while ((at = all.find("\nS\n", at)) != std::string::npos) ++strokes, ++at;
    EXPECT_EQ(strokes, 12000u);
    EXPECT_TRUE(all.ends_with(" l\nS\n"));
    std::string report;
    EXPECT_TRUE(qpdf_ok("out.pdf", report)) << report;
}

TEST_F(PlotixTest, PdfStreamsWithoutCompression) {
    // Compression off: a length object follows each stream.
    plotix::metafl("PDF"); // the first call sets the persistent defaults
    g.dev.pdfopt = 0;
    plot_pdf([] { plotix::line(100, 200, 300, 400); });
    Parsed p = parse("out.pdf");
    ASSERT_EQ(p.size, 7);
    EXPECT_EQ(p.info, 6);
    Stream s = p.stream(3);
    EXPECT_EQ(s.dict, "3 0 obj\n<< /Length 4 0 R >>\n");
    EXPECT_EQ(s.data, std::string(kSetup) + "52.67 26.33 m\n105.34 79.00 l\nS\n");
    EXPECT_EQ(p.object(4), "4 0 obj\n" + std::to_string(s.data.size()) + "\n");
    EXPECT_NE(p.object(5).find("/Contents 3 0 R\n"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qpdf_ok("out.pdf", report)) << report;

    // No memory for the stream buffer: the stream is written as it is.
    g.dev.pdfopt = 1;
    d::set_alloc_failure([](std::string_view what, std::size_t) { return what == "pdf stream"; });
    plot_pdf([] { plotix::line(100, 200, 300, 400); });
    Parsed q = parse("out_1.pdf");
    EXPECT_EQ(q.stream(3).dict, "3 0 obj\n<< /Length 4 0 R >>\n");
    EXPECT_TRUE(qpdf_ok("out_1.pdf", report)) << report;

    // No memory for the deflate output: raw bytes with a direct length.
    d::set_alloc_failure([](std::string_view what, std::size_t) { return what == "pdf output"; });
    plot_pdf([] { plotix::line(100, 200, 300, 400); });
    d::set_alloc_failure({});
    Parsed r = parse("out_2.pdf");
    ASSERT_EQ(r.size, 6);
    Stream rs = r.stream(3);
    EXPECT_EQ(rs.dict, "3 0 obj\n<< /Length " + std::to_string(rs.data.size()) + " >>\n");
    EXPECT_EQ(rs.data, std::string(kSetup) + "52.67 26.33 m\n105.34 79.00 l\nS\n");
    EXPECT_TRUE(qpdf_ok("out_2.pdf", report)) << report;
}

TEST_F(PlotixTest, PdfBackgroundAndFileErrors) {
    // A normal background mode fills the page black first, and the
    // foreground is then white.
    plotix::metafl("PDF"); // the first call sets the persistent defaults
    g.dev.bgopt = 0;
    plot_pdf([] {});
    EXPECT_EQ(parse("out.pdf").stream(3).data,
              "0.709 w\n2 J\n2 j\n0 0 0 rg\n0.00 0.00 553.00 782.00 re\nf\n1 1 1 RG\n1 1 1 rg\n");
    g.dev.bgopt = 4;
    console_text();

    // An existing file is kept; the plot goes to the next free name.
    touch("plotix.pdf");
    plotix::metafl("PDF");
    plotix::setfil("plotix.pdf");
    plotix::disini();
    plotix::disfin();
    EXPECT_EQ(read_file("plotix.pdf"), "x");
    EXPECT_EQ(parse("plotix_1.pdf").size, 6);
    console_text();

    // A file that cannot be created: disini reports warning 36 with its
    // name, the plot goes on without output, and disfin says no more.
    plotix::setfil("missing/dir/out.pdf");
    plotix::disini();
    EXPECT_EQ(console_text(), " <<<< Warning  36: File error in disini!   (missing/dir/out.pdf)\n");
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    std::string text = console_text();
    EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << text;
    EXPECT_NE(text.find("Warnings: 1 "), std::string::npos);
    EXPECT_EQ(text.find("missing/dir"), std::string::npos) << text;
    EXPECT_EQ(g.life.level, 0);
    EXPECT_EQ(plotix::getfst(), -1);

    // No memory for the object tables: warning 53, no file.
    d::set_alloc_failure([](std::string_view what, std::size_t) { return what == "pdf tables"; });
    plotix::setfil("tables.pdf");
    plotix::disini();
    d::set_alloc_failure({});
    EXPECT_EQ(console_text(), " <<<< Warning  53: Not enough memory in disini!\n");
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    text = console_text();
    EXPECT_EQ(text.find("Warning  36"), std::string::npos) << text; // reported once
    EXPECT_EQ(plotix::getfst(), -1);
    EXPECT_FALSE(fs::exists("tables.pdf"));

    // A plot abandoned without disfin leaves no file, finished or not.
    plotix::setfil("abandoned.pdf");
    plotix::disini();
    plotix::line(0, 0, 100, 100);
    d::reset_state();
    std::set<fs::path> left;
    for (const auto& e : fs::directory_iterator(dir)) left.insert(e.path().filename());
    EXPECT_EQ(left, (std::set<fs::path>{"out.pdf", "plotix.pdf", "plotix_1.pdf"}));
}
