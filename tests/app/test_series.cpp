#include "error.hpp"
#include "series.hpp"
#include "test_support.hpp"

#include <filesystem>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sstream>

namespace fasogram {
namespace {

Series read_text(const std::string& text) {
    std::istringstream in(text);
    return read_series(in, "datos.dat");
}

std::string error_of(const std::string& text) {
    try {
        read_text(text);
    } catch (const FatalError& error) {
        return error.what();
    }
    return "no error";
}

TEST(SeriesReader, PairsInTheLayoutsFoundInTheWild) {
    const Series s = read_text("\xEF\xBB\xBF"
                               "1.0 10\r\n"
                               "\r\n"
                               "2.0,20 trailing words ignored\r\n"
                               "\t3.0\t30\t\r\n"
                               "4.0\n"
                               "  40  50\n" // the value on the next line; 50 is ignored
                               "5.5D+00 6.0d1\n"
                               "-1.E-1 , -2\n");
    EXPECT_EQ(s.t, (std::vector<double>{1.0, 2.0, 3.0, 4.0, 5.5, -0.1}));
    EXPECT_EQ(s.x, (std::vector<double>{10, 20, 30, 40, 60, -2}));
}

TEST(SeriesReader, ALoneTimeOnTheLastLineIsDropped) {
    const Series s = read_text("1 2\n3 4\n5\n");
    EXPECT_EQ(s.size(), 2u);
    EXPECT_EQ(read_text("").size(), 0u);
    EXPECT_EQ(read_text("\n\n7\n").size(), 0u);
}

TEST(SeriesReader, MalformedNumbersNameTheLine) {
    EXPECT_EQ(error_of("1 2\n3 4\n\nabc 5\n"), "datos.dat, linea 4: numero mal formado: 'abc'");
    EXPECT_EQ(error_of("1 2\n3\n4x\n"), "datos.dat, linea 3: numero mal formado: '4x'");
    EXPECT_EQ(error_of("1 2\n3 4;\n"), "datos.dat, linea 2: numero mal formado: '4;'");
    // Control characters are shown as codes, whole: a NUL does not end the message.
    EXPECT_EQ(error_of(std::string("1 2\n\0\x04\xFF"
                                   "1\x1F 5\n",
                                   12)),
              "datos.dat, linea 2: numero mal formado: '\\x00\\x04\xFF"
              "1\\x1F'");
    // A number too small for a double is zero, not malformed.
    const Series tiny = read_text("1e-400 -2.5D-999\n");
    ASSERT_EQ(tiny.size(), 1u);
    EXPECT_EQ(tiny.t[0], 0.0);
    EXPECT_EQ(tiny.x[0], 0.0);
}

TEST(SeriesReader, StopsAfterTwentyThousandPairsWithoutReadingFurther) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " " + std::to_string(2 * i) + "\n";
    text += "not a number at all\n20000 1\n";
    const Series s = read_text(text);
    ASSERT_EQ(s.size(), max_pairs);
    EXPECT_EQ(s.t.back(), 19999.0);
    EXPECT_EQ(s.x.back(), 39998.0);
}

TEST(SeriesReader, MissingFileIsReportedByName) {
    testing::ScratchDir dir;
    try {
        read_series_file(dir.path() / "datos.dat", "datos.dat");
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(),
                     "no se puede abrir el archivo datos.dat: No such file or directory");
    }
    // A directory, and a file the process may not read (unless root, who
    // reads everything).
    try {
        read_series_file(dir.path(), "dir");
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "no se puede abrir el archivo dir: Is a directory");
    }
    if (::geteuid() != 0) {
        dir.write("locked.dat", "1 2\n3 4\n");
        std::filesystem::permissions(dir.path() / "locked.dat", std::filesystem::perms::none);
        try {
            read_series_file(dir.path() / "locked.dat", "locked.dat");
            FAIL() << "no error";
        } catch (const FatalError& error) {
            EXPECT_STREQ(error.what(),
                         "no se puede abrir el archivo locked.dat: Permission denied");
        }
    }
}

} // namespace
} // namespace fasogram
