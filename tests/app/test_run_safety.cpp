// What a run leaves behind when it fails, is interrupted or meets links: the
// program in a scratch directory, and the program's file writer itself.
#include "error.hpp"
#include "output_file.hpp"
#include "test_support.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fasogram {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs `command` (the program is $P) in `dir` with no display.
Outcome sh(const ScratchDir& dir, const std::string& command) {
    const std::string full =
        "cd '" + dir.path().string() + "' && P='" + FASOGRAM_BINARY +
        "' && unset DISPLAY LANGUAGE LC_ALL LC_MESSAGES && export LANG=C && (" + command +
        ") 2>.stderr";
    const int raw = std::system(full.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = dir.read(".stderr");
    return r;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename() != ".stderr") names.insert(e.path().filename().string());
    return names;
}

unsigned mode_of(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void copy_example(const ScratchDir& dir) {
    fs::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
}

constexpr const char* grid = "--from 0 --to 0.5 --steps 2000";

TEST(RunSafety, AFailedRunReplacesNoEarlierOutput) {
    ScratchDir dir;
    copy_example(dir);
    dir.write("t.dat", "earlier table\n");
    dir.write("g.pdf", "earlier graph\n");
    // The third graph cannot be made: the table and the first graph stay.
    Outcome r = sh(dir, std::string("$P -q ") + grid + " -o t.dat -p g.pdf -p nodir/x.pdf");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fasogram: error: cannot create the file nodir/x.pdf: No such file or "
                     "directory\n");
    EXPECT_EQ(dir.read("t.dat"), "earlier table\n");
    EXPECT_EQ(dir.read("g.pdf"), "earlier graph\n");
    // A peak table that cannot be written fails the run before the table
    // is put in place.
    r = sh(dir, std::string("$P -q ") + grid + " -o t.dat --peaks 3 >/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("t.dat"), "earlier table\n");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"datos.dat", "t.dat", "g.pdf"}));
    // The same run with room for everything replaces both.
    r = sh(dir, std::string("$P -q ") + grid + " -o t.dat -p g.pdf --peaks 3 >/dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("t.dat").size(), 2000u * 76u);
    EXPECT_EQ(dir.read("g.pdf").substr(0, 5), "%PDF-");
}

TEST(RunSafety, ModesFollowTheUmaskAndAReplacedFileKeepsItsOwn) {
    ScratchDir dir;
    copy_example(dir);
    Outcome r = sh(dir, std::string("umask 027 && $P -q ") + grid + " -o new.dat -p new.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mode_of(dir.path() / "new.dat"), 0640u);
    EXPECT_EQ(mode_of(dir.path() / "new.svg"), 0640u);
    dir.write("private.dat", "old\n");
    dir.write("private.svg", "old\n");
    fs::permissions(dir.path() / "private.dat", fs::perms(0600));
    fs::permissions(dir.path() / "private.svg", fs::perms(0604));
    r = sh(dir, std::string("umask 022 && $P -q ") + grid + " -o private.dat -p private.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mode_of(dir.path() / "private.dat"), 0600u);
    EXPECT_EQ(mode_of(dir.path() / "private.svg"), 0604u);
    EXPECT_NE(dir.read("private.dat"), "old\n");
}

// The writer never touches the process's umask: files that another thread
// creates meanwhile get the umask's mode, every one of them.
TEST(RunSafety, TheWriterLeavesOtherThreadsFileModesAlone) {
    ScratchDir dir;
    const mode_t before = ::umask(027);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, made{0};
    std::thread other([&] {
        for (int i = 0; !stop; ++i) {
            const fs::path p = dir.path() / ("other" + std::to_string(i % 50));
            ::unlink(p.c_str());
            const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd < 0) continue;
            ++made;
            struct stat st {};
            if (::fstat(fd, &st) == 0 && (st.st_mode & 0777) != 0640) ++wrong;
            ::close(fd);
        }
    });
    for (int i = 0; i < 400; ++i) {
        ReplacingFile f(dir.path() / "t.dat", "t.dat");
        f.write("x\n");
        f.commit();
    }
    stop = true;
    other.join();
    ::umask(before);
    EXPECT_GT(made.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(mode_of(dir.path() / "t.dat"), 0640u);
}

TEST(RunSafety, LinksPlantedInASharedStickyDirectoryAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
    ScratchDir dir;
    copy_example(dir);
    const fs::path shared = dir.path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    dir.write("victim", "precious\n");
    // Another user's link to a file of ours, in a sticky world-writable
    // directory owned by root: refused, the file it names untouched.
    fs::create_symlink(dir.path() / "victim", shared / "out.dat");
    ASSERT_EQ(::lchown((shared / "out.dat").c_str(), 4242, 4242), 0);
    Outcome r = sh(dir, std::string("$P -q ") + grid + " -o shared/out.dat");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("shared/out.dat: it is another user's symbolic link"), std::string::npos)
        << r.err;
    EXPECT_EQ(dir.read("victim"), "precious\n");
    r = sh(dir, std::string("$P -q ") + grid + " -p shared/out.dat.png -o shared/out.dat");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(names_in(shared), (std::set<std::string>{"out.dat"})) << "nothing left behind";
    // The same link owned by the directory's owner (root) is followed, as
    // the kernel would follow it.
    ASSERT_EQ(::lchown((shared / "out.dat").c_str(), 0, 0), 0);
    r = sh(dir, std::string("$P -q ") + grid + " -o shared/out.dat");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("victim").size(), 2000u * 76u);
    EXPECT_TRUE(fs::is_symlink(shared / "out.dat"));
}

TEST(RunSafety, ADanglingLinkNeverBlocksASave) {
    ScratchDir dir;
    copy_example(dir);
    fs::create_directory(dir.path() / "out");
    fs::create_symlink("out/table.dat", dir.path() / "t.dat");
    fs::create_symlink("out/graph.svg", dir.path() / "g.svg");
    const Outcome r = sh(dir, std::string("$P -q ") + grid + " -o t.dat -p g.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.path() / "t.dat"));
    EXPECT_EQ(dir.read("out/table.dat").size(), 2000u * 76u);
    EXPECT_EQ(dir.read("out/graph.svg").substr(0, 5), "<?xml");
    // A loop of links is an error, not a hang.
    fs::create_symlink("loop2", dir.path() / "loop1");
    fs::create_symlink("loop1", dir.path() / "loop2");
    const Outcome loop = sh(dir, std::string("$P -q ") + grid + " -o loop1");
    EXPECT_EQ(loop.status, 1);
    EXPECT_NE(loop.err.find("loop1: Too many levels of symbolic links"), std::string::npos)
        << loop.err;
}

// A signal in the middle of a run: the earlier files stay, nothing of the
// run is left, one line says why, and the status is 128 + the signal.
TEST(RunSafety, SignalsLeaveNoDebrisAndEarlierFilesIntact) {
    ScratchDir dir;
    copy_example(dir);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        dir.write("t.csv", "earlier\n");
        // Every digit of a large grid: long enough to be caught in the
        // middle, the staged table already on the disk.
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
            const int err = ::open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            ::execl(FASOGRAM_BINARY, FASOGRAM_BINARY, "-q", "--from", "0", "--to", "0.5", "--steps",
                    "3000000", "-o", "t.csv", "-p", "g.png", "datos.dat",
                    static_cast<char*>(nullptr));
            ::_exit(98);
        }
        // Wait for the staged table to appear.
        bool staged = false;
        for (int i = 0; i < 400 && !staged; ++i) {
            for (const std::string& name : names_in(dir.path()))
                if (name.rfind(".t.csv.", 0) == 0) staged = true;
            if (!staged) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        EXPECT_TRUE(staged);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
        const std::string err = dir.read(".stderr");
        EXPECT_NE(err.find("fasogram: interrupted by SIG"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err; // an empty line first
        EXPECT_EQ(dir.read("t.csv"), "earlier\n");
        EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"datos.dat", "t.csv"}));
    }
}

// Memory running out anywhere in a run that takes the transforms (FFTW's
// planner and transforms included) is the program's memory error: one line,
// status 1, never an abort.  The address-space limit grows until the run
// goes through, sweeping the places where its allocations fail.
TEST(RunSafety, MemoryRunningOutIsAnErrorNeverAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not apply under the address sanitizer";
#else
    ScratchDir dir;
    copy_example(dir);
    int failed = 0, passed = 0;
    for (int kb = 80000; kb <= 400000; kb += 10000) {
        const Outcome r = sh(dir, "ulimit -c 0; ulimit -v " + std::to_string(kb) +
                                      " && $P -q --from 0 --to 50 --steps 3000000 -o /dev/null");
        if (r.status == 0) {
            ++passed;
            break; // looser limits pass as well
        }
        ++failed;
        EXPECT_EQ(r.status, 1) << kb << " kB: " << r.err;
        EXPECT_EQ(r.err, "fasogram: error: not enough memory for the spectrum\n") << kb;
    }
    EXPECT_GT(failed, 0) << "no limit was tight enough";
    EXPECT_GT(passed, 0) << "no limit was loose enough";
#endif
}

TEST(RunSafety, MessagesQuoteNamesOnOneBoundedLine) {
    ScratchDir dir;
    dir.write("huge.dat", "1 " + std::string(5'000'000, '9') + "x\n2 3\n");
    Outcome r = sh(dir, std::string("$P -q ") + grid + " huge.dat");
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.err.size(), 400u);
    EXPECT_NE(r.err.find("'" + std::string(200, '9') + "...'"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    // A newline and an escape in a file name are written as codes.
    copy_example(dir);
    r = sh(dir, std::string("$P -q ") + grid + " -o \"$(printf 'no/a\\nb\\033c.dat')\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fasogram: error: cannot create the file no/a\\x0Ab\\x1Bc.dat: No such "
                     "file or directory\n");
}

} // namespace
} // namespace fasogram
