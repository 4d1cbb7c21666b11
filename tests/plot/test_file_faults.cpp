// Output files that cannot be written completely: a full disk (a small file
// system mounted for the test), a directory that cannot take files (a path
// under a regular file, a read-only file system, a directory without write
// permission). Every format reports warning 36 (at disini for a file that
// cannot be created, at disfin for one that fails later), names no file in
// its summary, leaves nothing under the name (nor a temporary file) and
// tells the caller through getfst.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace fs = std::filesystem;

namespace {

// A tmpfs on a directory for the length of a test.
class Mount {
  public:
    Mount(const fs::path& at, unsigned long flags, const char* options) : at_(at) {
        fs::create_directories(at);
        ok_ = mount("tmpfs", at.c_str(), "tmpfs", flags, options) == 0;
        if (!ok_) why_ = std::strerror(errno);
    }
    ~Mount() {
        if (ok_) umount2(at_.c_str(), MNT_DETACH);
    }
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }

  private:
    fs::path at_;
    bool ok_ = false;
    std::string why_;
};

// Fills a file system until about `left` bytes remain.
void fill(const fs::path& file, std::size_t left) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string block(512, 'f');
    std::size_t written = 0;
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) written += block.size();
    std::fclose(f);
    // Give back what should stay free (whole pages of the file system).
    ASSERT_EQ(truncate(file.c_str(), static_cast<off_t>(written > left ? written - left : 0)), 0);
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

// A plot of some size: 300 lines in colours, a filled polygon, text.
void busy_plot() {
    for (int i = 0; i < 300; ++i) {
        plotix::setclr(i % 256);
        plotix::line(10 * (i % 290), 100 + 3 * i, 2900 - 7 * i, 2000 - 5 * (i % 300));
    }
    plotix::shdpat(16);
    const int x[4] = {100, 900, 900, 100}, y[4] = {100, 100, 900, 900};
    plotix::areaf(x, y, 4);
    plotix::messag("A plot that does not fit", 300, 1500);
}

const char* const kFileFormats[] = {"PS",   "EPS",  "POST", "PSCL", "PDF", "GKSL", "HPGL",
                                    "KYOC", "JAVA", "BMP",  "TIFF", "PNG", "PPM",  "IMAG"};

class FileFaults : public PlotixTest {
  protected:
    // Plots busy_plot in format into file; the console text of disfin
    // (started_ keeps that of disini).
    std::string plot(const char* format, const std::string& file) {
        plotix::metafl(format);
        plotix::setfil(file);
        plotix::disini();
        started_ = console_text();
        busy_plot();
        console_text();
        plotix::disfin();
        return console_text();
    }
    // What a failed file must look like from outside; name: the file the
    // plot was to write (a free version of file). A file that cannot be
    // created is reported at disini, a failure later at disfin.
    enum class When { disini, disfin };
    void expect_failed(const char* format, const std::string& file, int errnum,
                       const std::string& name = {}, When when = When::disini) {
        SCOPED_TRACE(format);
        const std::string text = plot(format, file);
        const std::string shown = name.empty() ? file : name;
        if (when == When::disini) {
            EXPECT_EQ(started_, " <<<< Warning  36: File error in disini!   (" + shown + ")\n");
            EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << text;
        } else {
            EXPECT_EQ(started_, "");
            EXPECT_EQ(text.rfind(" <<<< Warning  36: File error in disfin!\n\n", 0), 0u) << text;
        }
        EXPECT_NE(text.find("Warnings: 1 "), std::string::npos) << text;
        EXPECT_NE(text.find(" <<  Metafile:                                                   <<"),
                  std::string::npos)
            << text;
        int got = 0;
        std::string named;
        EXPECT_EQ(plotix::getfst(&got, &named), -1);
        EXPECT_EQ(got, errnum) << std::strerror(got);
        EXPECT_EQ(named, shown);
    }
    std::string started_;
};

} // namespace

TEST_F(FileFaults, FullDiskLeavesNoPartialFileInAnyFormat) {
    const fs::path disk = dir / "disk";
    Mount m(disk, 0, "size=64k");
    if (!m.ok()) GTEST_SKIP() << "no small file system for the test (mount: " << m.why() << ")";
    touch(disk / "earlier.ps"); // an earlier file of the name stays as it is
    fill(disk / "filler", 4096);
    for (const char* format : kFileFormats) {
        expect_failed(format, (disk / "earlier.ps").string(), ENOSPC,
                      (disk / "earlie_1.ps").string(), When::disfin);
        EXPECT_EQ(names_in(disk), (std::set<std::string>{"earlier.ps", "filler"})) << format;
        EXPECT_EQ(read_file(disk / "earlier.ps"), "x");
    }
}

TEST_F(FileFaults, TheSamePlotsFitWhereThereIsRoom) {
    // The reference for the test above: each plot, on its own, is written.
    for (const char* format : kFileFormats) {
        const std::string file = std::string("fits.") + format;
        const std::string text = plot(format, file);
        EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << format << text;
        EXPECT_NE(text.find("Metafile: " + file + " "), std::string::npos) << format;
        int errnum = -1;
        std::string name;
        EXPECT_EQ(plotix::getfst(&errnum, &name), 1) << format;
        EXPECT_EQ(errnum, 0);
        EXPECT_EQ(name, file);
        EXPECT_GT(fs::file_size(file), 4096u) << format; // more than the full disk had left
    }
}

TEST_F(FileFaults, DirectoryThatCannotTakeTheFile) {
    // A path under a regular file.
    touch("afile");
    for (const char* format : kFileFormats) expect_failed(format, "afile/out", ENOTDIR);
    EXPECT_EQ(read_file("afile"), "x");

    // A read-only file system.
    Mount ro(dir / "ro", MS_RDONLY, "size=16k");
    if (ro.ok()) {
        for (const char* format : kFileFormats) {
            expect_failed(format, (dir / "ro" / "out").string(), EROFS);
        }
        EXPECT_TRUE(fs::is_empty(dir / "ro"));
    }

    // A directory without write permission, for a user whom permissions
    // bind (root is not: the test takes another user's identity then).
    fs::create_directory("locked");
    ASSERT_EQ(chmod("locked", 0555), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0); // the way to it stays open
    const bool root = geteuid() == 0;
    if (root && seteuid(65534) != 0) GTEST_SKIP() << "cannot give up root for the test";
    for (const char* format : {"PS", "PDF", "BMP"}) expect_failed(format, "locked/out", EACCES);
    if (root) {
        ASSERT_EQ(seteuid(0), 0);
    }
    EXPECT_TRUE(fs::is_empty("locked"));
    chmod("locked", 0755);
    if (!ro.ok()) GTEST_SKIP() << "read-only file system not tried (mount: " << ro.why() << ")";
}
