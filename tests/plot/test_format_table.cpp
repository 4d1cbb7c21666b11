// The one table of output formats: the public list read from it, what a plot
// in each listed format makes, and a format added through the table alone.
#include <algorithm>
#include <set>

#include "drivers/formats.h"
#include "drivers/stream.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
namespace fs = std::filesystem;

namespace {

const plotix::FormatInfo* listed(const std::vector<plotix::FormatInfo>& list,
                                 std::string_view keyword) {
    for (const plotix::FormatInfo& f : list) {
        if (f.keyword == keyword) return &f;
    }
    return nullptr;
}

std::set<std::string> files_in(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

// A format of the test: a text file of "begin", one "x y" line per pen
// position drawn to and "end".
class Points final : public d::StreamDriver {
  public:
    Points() { info_.kind = d::DeviceInfo::Kind::stream; }
    const d::DeviceInfo& info() const override { return info_; }
    float scale() const override { return 1.0f; }
    void pen(float x, float y, d::PenOp op) override {
        if (op == d::PenOp::draw || op == d::PenOp::move) {
            out_.write((op == d::PenOp::move ? "m " : "d ") + std::to_string(int(x)) + " " +
                       std::to_string(int(y)) + "\n");
        }
    }

  private:
    void start() override { out_.write("begin\n"); }
    void end() override { out_.write("end\n"); }
    d::DeviceInfo info_;
};

std::unique_ptr<d::Driver> make_points(int) {
    return std::make_unique<Points>();
}

} // namespace

TEST_F(PlotixTest, FormatListIsTheKeywordTable) {
    const std::vector<plotix::FormatInfo> list = plotix::format_list();
    ASSERT_EQ(list.size(), d::format_table().size());
    ASSERT_EQ(list.size(), 45u);
    // First and last rows, and the format with two extensions.
    EXPECT_EQ(list.front().keyword, "GKSL");
    EXPECT_EQ(list.front().file, "plotix.met");
    EXPECT_TRUE(list.front().file_format);
    EXPECT_EQ(list.back().keyword, "SVG");
    EXPECT_EQ(list.back().extensions, std::vector<std::string>{"svg"});
    const plotix::FormatInfo* tiff = listed(list, "TIFF");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(tiff->extensions, (std::vector<std::string>{"tif", "tiff"}));
    EXPECT_EQ(tiff->file, "plotix.tif");
    // Screens name no file; formats without contents here name one but
    // write none; the image in memory has neither.
    for (const char* key : {"CONS", "XWIN", "XWND", "MET1", "MET9"}) {
        const plotix::FormatInfo* f = listed(list, key);
        ASSERT_NE(f, nullptr) << key;
        EXPECT_TRUE(f->screen && !f->file_format && f->file.empty()) << key;
    }
    const plotix::FormatInfo* cgm = listed(list, "CGM");
    ASSERT_NE(cgm, nullptr);
    EXPECT_EQ(cgm->file, "plotix.cgm");
    EXPECT_FALSE(cgm->file_format || cgm->screen);
    const plotix::FormatInfo* virt = listed(list, "VIRT");
    ASSERT_NE(virt, nullptr);
    EXPECT_TRUE(virt->file.empty() && !virt->file_format && !virt->screen);
    // Each keyword once, each taken by metafl as listed, without a warning.
    std::set<std::string> keywords;
    for (const plotix::FormatInfo& f : list) {
        EXPECT_TRUE(keywords.insert(f.keyword).second) << f.keyword;
        plotix::metafl(f.keyword);
        EXPECT_EQ(d::g.out.keyword, f.keyword);
    }
    EXPECT_EQ(console_text(), "");
}

TEST_F(PlotixTest, EveryListedFormatMakesWhatTheListSays) {
    for (const plotix::FormatInfo& f : plotix::format_list()) {
        SCOPED_TRACE(f.keyword);
        plotix::metafl(f.keyword);
        plotix::disini();
        plotix::line(100, 100, 2000, 1500);
        plotix::disfin();
        const std::string text = console_text();
        std::string file;
        const int status = plotix::getfst(nullptr, &file);
        if (f.file_format) {
            EXPECT_EQ(status, 1) << text;
            EXPECT_EQ(file, f.file);
            EXPECT_EQ(files_in(dir), std::set<std::string>{f.file});
            EXPECT_GT(fs::file_size(f.file), 0u);
            fs::remove(f.file);
        } else {
            EXPECT_EQ(status, 0) << text;
            EXPECT_TRUE(fs::is_empty(dir));
            // No display in the tests: a screen says so; a format whose
            // contents are not written here says that; the image in memory
            // says nothing.
            if (f.screen) {
                EXPECT_NE(text.find("<<<< Warning 101"), std::string::npos) << text;
            } else if (d::find_format(f.keyword)->output == d::Output::memory) {
                EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << text;
            } else {
                EXPECT_NE(text.find("<<<< Warning  40"), std::string::npos) << text;
            }
        }
    }
}

TEST_F(PlotixTest, FormatAddedThroughTheTable) {
    d::add_format({"DOTS", 901, "pts txt", d::Output::file, make_points});
    const std::vector<plotix::FormatInfo> list = plotix::format_list();
    ASSERT_EQ(list.back().keyword, "DOTS");
    EXPECT_EQ(list.back().extensions, (std::vector<std::string>{"pts", "txt"}));
    EXPECT_EQ(list.back().file, "plotix.pts");
    EXPECT_TRUE(list.back().file_format);

    plotix::metafl("dots");
    plotix::disini();
    plotix::line(10, 20, 30, 40);
    plotix::disfin();
    const std::string text = console_text();
    EXPECT_NE(text.find("Fileformat: DOTS"), std::string::npos) << text;
    EXPECT_NE(text.find("Metafile: plotix.pts "), std::string::npos) << text;
    EXPECT_EQ(plotix::getfst(), 1);
    EXPECT_EQ(read_file("plotix.pts"), "begin\nm 10 20\nd 30 40\nend\n");

    // A row of an existing keyword replaces it in place.
    d::add_format({"SVG", 801, "svg", d::Output::nothing, make_points});
    const std::vector<plotix::FormatInfo> changed = plotix::format_list();
    EXPECT_EQ(changed.size(), list.size());
    ASSERT_NE(listed(changed, "SVG"), nullptr);
    EXPECT_FALSE(listed(changed, "SVG")->file_format);

    // Back to the library's rows: the added keyword is unknown again.
    d::reset_formats();
    EXPECT_EQ(plotix::format_list().size(), 45u);
    EXPECT_TRUE(listed(plotix::format_list(), "SVG")->file_format);
    plotix::metafl("DOTS");
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in metafl!   (DOTS)\n");
}

TEST_F(PlotixTest, DeviceNumberWithoutARowDrawsNothing) {
    const std::unique_ptr<d::Driver> none = d::make_driver(999);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->info().kind, d::DeviceInfo::Kind::none);
    // The first row of a shared device number is the one found.
    ASSERT_NE(d::format_of_device(72), nullptr);
    EXPECT_EQ(d::format_of_device(72)->keyword, "XWIN");
    EXPECT_EQ(d::format_of_device(999), nullptr);
    EXPECT_EQ(d::default_extension(*d::find_format("tiff")), "tif");
}
