// How output files come into being: the permissions the umask leaves (also
// for the files another thread creates meanwhile), the temporary file, what
// becomes of an existing file and of a symbolic link under the name by the
// rule of filmod, names longer than the old limit, and names with control
// characters in messages.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

#include "common/support.hpp"
#include "core/messages.h"
#include "drivers/output_file.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
using test_common::run_command;
namespace d = plotix::detail;
namespace fs = std::filesystem;
using d::g;

// Every umask call of the process comes here (the test program's own
// definition goes ahead of the C library's), so that a test can tell that
// the library makes none: a umask changed for a moment changes the mode of
// the files other threads create in that moment.
static std::atomic<int> umask_calls{0};
extern "C" mode_t umask(mode_t mask) noexcept {
    ++umask_calls;
    return static_cast<mode_t>(syscall(SYS_umask, mask));
}

namespace {

// Sets the umask for the length of a test.
class Umask {
  public:
    explicit Umask(mode_t mask) : old_(umask(mask)) {}
    ~Umask() { umask(old_); }

  private:
    mode_t old_;
};

mode_t mode_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

struct Owner {
    uid_t uid;
    gid_t gid;
    bool operator==(const Owner&) const = default;
};

Owner owner_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
    return {st.st_uid, st.st_gid};
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

// One PostScript plot into file; the console text of disini and of disfin.
struct Texts {
    std::string start, end;
};

class OutputFiles : public PlotixTest {
  protected:
    Texts plot(const std::string& file, const char* format = "PS") {
        plotix::metafl(format);
        plotix::setfil(file);
        Texts t;
        plotix::disini();
        t.start = console_text();
        plotix::line(100, 100, 2000, 1000);
        plotix::disfin();
        t.end = console_text();
        return t;
    }
    static bool is_postscript(const fs::path& p) { return read_file(p).rfind("%!PS", 0) == 0; }
};

} // namespace

TEST_F(OutputFiles, NewFilesTakeTheUmaskAndOtherThreadsKeepTheirs) {
    Umask mask(027);
    fs::create_directory("other");
    std::atomic<bool> stop{false};
    std::atomic<int> made{0}, wrong{0};
    // Another thread of the process creates files the usual way all along.
    const int calls = umask_calls.load();
    std::thread other([&] {
        for (int i = 0; !stop.load() || i < 50; ++i) {
            const std::string name = "other/f" + std::to_string(i);
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd < 0) continue;
            struct stat st {};
            fstat(fd, &st);
            if ((st.st_mode & 0777) != 0640) ++wrong;
            ::close(fd);
            unlink(name.c_str());
            ++made;
        }
    });
    for (int i = 0; i < 60; ++i) {
        const char* format = i % 3 == 0 ? "PS" : (i % 3 == 1 ? "BMP" : "PDF");
        const std::string file = "plot" + std::to_string(i);
        plot(file, format);
        EXPECT_EQ(plotix::getfst(), 1) << format;
        EXPECT_EQ(mode_of(file), 0640u) << format;
        fs::remove(file);
    }
    stop = true;
    other.join();
    EXPECT_GE(made.load(), 50);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(umask_calls.load(), calls); // the library never changed the umask

    // Another umask, another mode: the mode comes from the umask.
    Umask open_mask(002);
    plot("open.ps");
    EXPECT_EQ(mode_of("open.ps"), 0664u);
}

TEST_F(OutputFiles, TemporaryFileHasAnUnguessableNameBesideItsTarget) {
    fs::create_directory("sub");
    std::set<std::string> temps;
    const char* const versions[] = {"out.ps", "out_1.ps", "out_2.ps"};
    for (const char* version : versions) {
        plotix::metafl("PS");
        plotix::setfil("sub/out.ps");
        plotix::disini();
        // While the plot is drawn its temporary file is there, named after
        // the file it becomes.
        const std::string head = "." + std::string(version) + ".";
        int hidden = 0;
        for (const std::string& n : names_in("sub")) {
            if (n.front() != '.') continue;
            ++hidden;
            EXPECT_EQ(n.rfind(head, 0), 0u) << n;
            EXPECT_EQ(n.size(), head.size() + 12u) << n;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status("sub/" + n)));
            temps.insert(n.substr(head.size()));
        }
        EXPECT_EQ(hidden, 1);
        plotix::disfin();
        EXPECT_EQ(plotix::getfst(), 1);
    }
    EXPECT_EQ(temps.size(), 3u);
    EXPECT_EQ(names_in("sub"), (std::set<std::string>{"out.ps", "out_1.ps", "out_2.ps"}));

    // The temporary name keeps at most 200 bytes of a long name.
    d::OutputFile f;
    const std::string long_name(250, 'q');
    ASSERT_TRUE(f.create(long_name, d::Existing::version));
    EXPECT_EQ(f.temporary().size(), 1u + 200u + 1u + 12u);
    f.write("x");
    EXPECT_TRUE(f.close());
    EXPECT_EQ(read_file(long_name), "x");
}

TEST_F(OutputFiles, ReplacedFileKeepsItsModeAndOwner) {
    Umask mask(022);
    std::FILE* old = std::fopen("keep.ps", "w");
    ASSERT_NE(old, nullptr);
    std::fputs("old", old);
    std::fclose(old);
    ASSERT_EQ(chmod("keep.ps", 0600), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown("keep.ps", 12345, 23456), 0);
    }

    // By default the file stays and the plot takes a version of its name.
    plot("keep.ps");
    EXPECT_EQ(read_file("keep.ps"), "old");
    EXPECT_TRUE(is_postscript("keep_1.ps"));
    EXPECT_EQ(mode_of("keep_1.ps"), 0644u);

    plotix::filmod("REPLACE");
    const Texts t = plot("keep.ps");
    EXPECT_EQ(t.start, "");
    EXPECT_NE(t.end.find("Metafile: keep.ps "), std::string::npos) << t.end;
    EXPECT_TRUE(is_postscript("keep.ps"));
    EXPECT_EQ(run_command("gs -dSAFER -dBATCH -dNOPAUSE -q -sDEVICE=nullpage keep.ps"), "");
    EXPECT_EQ(mode_of("keep.ps"), 0600u);
    if (root) {
        EXPECT_EQ(owner_of("keep.ps"), (Owner{12345, 23456}));
    }
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"keep.ps", "keep_1.ps"}));

    // A new file under the rule gets the umask's mode.
    plot("new.ps");
    EXPECT_EQ(mode_of("new.ps"), 0644u);

    // Directories are never replaced; the keyword is checked.
    fs::create_directory("adir");
    const Texts dir_plot = plot("adir");
    EXPECT_EQ(dir_plot.start, " <<<< Warning  36: File error in disini!   (adir)\n");
    int errnum = 0;
    EXPECT_EQ(plotix::getfst(&errnum), -1);
    EXPECT_EQ(errnum, EISDIR);
    EXPECT_TRUE(fs::is_empty("adir"));
    plotix::filmod("OVERWRITE");
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in filmod!   (OVER)\n");
    EXPECT_EQ(g.out.filemode, 1);
    plotix::filmod("version");
    EXPECT_EQ(g.out.filemode, 0);
}

TEST_F(OutputFiles, DanglingLinkDoesNotBlockASave) {
    ASSERT_EQ(symlink("made.ps", "out.ps"), 0);
    // By default the link takes the name: the plot goes to a version, and
    // nothing is written through the link.
    const Texts first = plot("out.ps");
    EXPECT_EQ(first.start, "");
    std::string file;
    EXPECT_EQ(plotix::getfst(nullptr, &file), 1);
    EXPECT_EQ(file, "out_1.ps");
    EXPECT_TRUE(is_postscript("out_1.ps"));
    EXPECT_FALSE(fs::exists("made.ps"));
    EXPECT_EQ(fs::read_symlink("out.ps"), "made.ps");

    // Replacing, the link is followed: the file it names is made, the link stays.
    plotix::filmod("REPLACE");
    plot("out.ps");
    EXPECT_EQ(plotix::getfst(nullptr, &file), 1);
    EXPECT_EQ(file, "out.ps");
    EXPECT_TRUE(fs::is_symlink("out.ps"));
    EXPECT_TRUE(is_postscript("made.ps"));
    // Followed again, now to an existing file, which keeps its mode.
    ASSERT_EQ(chmod("made.ps", 0604), 0);
    plot("out.ps", "SVG");
    EXPECT_EQ(run_command("xmllint --noout out.ps"), ""); // read through the link
    EXPECT_EQ(mode_of("made.ps"), 0604u);
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"made.ps", "out.ps", "out_1.ps"}));

    // A link to a link in another directory; a loop of links.
    fs::create_directory("far");
    ASSERT_EQ(symlink("end.ps", "far/mid.ps"), 0); // relative to its own directory
    ASSERT_EQ(symlink("far/mid.ps", "chain.ps"), 0);
    plot("chain.ps");
    EXPECT_TRUE(is_postscript("far/end.ps"));
    EXPECT_EQ(names_in("far"), (std::set<std::string>{"end.ps", "mid.ps"}));
    ASSERT_EQ(symlink("loop2", "loop1"), 0);
    ASSERT_EQ(symlink("loop1", "loop2"), 0);
    EXPECT_EQ(plot("loop1").start, " <<<< Warning  36: File error in disini!   (loop1)\n");
    int errnum = 0;
    EXPECT_EQ(plotix::getfst(&errnum), -1);
    EXPECT_EQ(errnum, ELOOP);
}

TEST_F(OutputFiles, LinkPlantedInASharedDirectoryIsNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the link and directory other owners";
    // The file a planted link would lead to.
    std::FILE* f = std::fopen("victim", "w");
    ASSERT_NE(f, nullptr);
    std::fputs("precious", f);
    std::fclose(f);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    struct Case {
        mode_t dir_mode;
        uid_t dir_owner, link_owner;
        bool followed;
    };
    const uid_t me = geteuid();
    const Case cases[] = {
        {01777, 2000, 3000, false}, // sticky, world-writable, a stranger's link
        {01777, 2000, 2000, true},  // the directory owner's link
        {01777, 2000, me, true},    // the process's own link
        {01775, 2000, 3000, true},  // not writable for all
        {00777, 2000, 3000, true},  // not sticky
    };
    plotix::filmod("REPLACE");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.dir_mode) + " " + std::to_string(c.link_owner));
        fs::create_directory("shared");
        ASSERT_EQ(symlink((dir / "victim").c_str(), "shared/out.ps"), 0);
        ASSERT_EQ(lchown("shared/out.ps", c.link_owner, c.link_owner), 0);
        ASSERT_EQ(chown("shared", c.dir_owner, c.dir_owner), 0);
        ASSERT_EQ(chmod("shared", c.dir_mode), 0);
        const Texts t = plot("shared/out.ps");
        int errnum = 0;
        if (c.followed) {
            EXPECT_EQ(t.start, "");
            EXPECT_EQ(plotix::getfst(&errnum), 1);
            EXPECT_TRUE(is_postscript("victim"));
        } else {
            EXPECT_EQ(t.start, " <<<< Warning  36: File error in disini!   (shared/out.ps)\n");
            EXPECT_EQ(plotix::getfst(&errnum), -1);
            EXPECT_EQ(errnum, EACCES);
            EXPECT_EQ(read_file("victim"), "precious");
            // By default such a link only takes the name.
            plotix::filmod("VERSION");
            plot("shared/out.ps");
            EXPECT_EQ(plotix::getfst(), 1);
            EXPECT_TRUE(is_postscript("shared/out_1.ps"));
            EXPECT_EQ(read_file("victim"), "precious");
            plotix::filmod("REPLACE");
        }
        EXPECT_TRUE(fs::is_symlink("shared/out.ps"));
        EXPECT_EQ(names_in(dir), (std::set<std::string>{"shared", "victim"}));
        fs::remove_all("shared");
    }
}

TEST_F(OutputFiles, ErrorFileIsANewFileOnly) {
    ASSERT_EQ(symlink("victim", "plotix.err"), 0);
    plotix::winini();
    plotix::metafl("PS");
    plotix::disini();
    EXPECT_EQ(g.msg.errname, "plotix_1.err");
    plotix::metafl("PDF"); // a warning for the error file
    plotix::disfin();
    EXPECT_EQ(read_file("plotix_1.err"),
              " <<<< Warning   3: Incorrect level in metafl!   (   1)\n");
    EXPECT_FALSE(fs::exists("victim"));
    EXPECT_EQ(fs::read_symlink("plotix.err"), "victim");
}

TEST_F(OutputFiles, LongNamesAreWrittenWhole) {
    // Around the old limit of 80 characters, and up to the system's 255.
    for (std::size_t n : {80u, 81u, 150u, 255u}) {
        const std::string name = std::string(n - 3, 'a') + ".ps";
        const Texts t = plot(name);
        EXPECT_EQ(t.start, "") << n;
        std::string file;
        EXPECT_EQ(plotix::getfst(nullptr, &file), 1) << n;
        EXPECT_EQ(file, name);
        EXPECT_TRUE(is_postscript(name)) << n;
        // The summary box shows it whole, over as many lines as it takes.
        std::string shown;
        bool in_name = false;
        for (const std::string& line : split_lines(t.end)) {
            in_name = line.rfind(" <<  Metafile: ", 0) == 0 ||
                      (in_name && line.rfind(" <<            ", 0) == 0);
            if (!in_name) continue;
            EXPECT_EQ(line.size(), 67u) << line;
            shown += line.substr(15, 48);
        }
        EXPECT_EQ(shown.substr(0, shown.find(' ')), name) << t.end;
        fs::remove(name);
    }
    // One byte more than the system takes: refused at disini, not cut.
    const std::string too_long = std::string(253, 'b') + ".ps";
    const Texts t = plot(too_long);
    EXPECT_EQ(t.start, " <<<< Warning  36: File error in disini!   (" + too_long + ")\n");
    int errnum = 0;
    EXPECT_EQ(plotix::getfst(&errnum), -1);
    EXPECT_EQ(errnum, ENAMETOOLONG);
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(OutputFiles, ControlCharactersInNamesAreEscaped) {
    const std::string odd = "red\x1b[31m\tname\n.ps";
    const Texts t = plot(odd);
    EXPECT_TRUE(is_postscript(odd));
    EXPECT_NE(t.end.find(" <<  Metafile: red\\x1B[31m\\x09name\\x0A.ps        "), std::string::npos)
        << t.end;
    EXPECT_EQ(t.end.find('\x1b'), std::string::npos);

    // In the warning of a file that cannot be created, and in a keyword.
    EXPECT_EQ(plot("no\rdir/x\x7f").start,
              " <<<< Warning  36: File error in disini!   (no\\x0Ddir/x\\x7F)\n");
    plotix::metafl("\x01\x02");
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in metafl!   (\\x01\\x02)\n");

    // A name with a zero byte is refused (the system would cut it there).
    EXPECT_EQ(plot(std::string("cut\0.ps", 7)).start,
              " <<<< Warning  36: File error in disini!   (cut\\x00.ps)\n");
    int errnum = 0;
    EXPECT_EQ(plotix::getfst(&errnum), -1);
    EXPECT_EQ(errnum, EINVAL);
    EXPECT_FALSE(fs::exists("cut"));

    // A long name of escapes and letters of two bytes wraps in the box
    // without splitting either.
    g.out.filename = std::string(47, 'x') + "\x1f" + std::string(43, 'y') + "\xc3\xa9" + "z";
    g.out.keyword = "PS";
    const std::vector<std::string> lines = split_lines(d::summary_box(1));
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[5], " <<  Metafile: " + std::string(47, 'x') + "   <<");
    EXPECT_EQ(lines[6], " <<            \\x1F" + std::string(43, 'y') + "   <<");
    EXPECT_EQ(lines[7], " <<            \xc3\xa9z" + std::string(45, ' ') + "  <<");
}
