#include "error.hpp"
#include "series.hpp"
#include "test_support.hpp"

#include <filesystem>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sstream>

namespace fasogram {
namespace {

Series read_text(const std::string& text, const SeriesLayout& layout = dialogue_layout) {
    std::istringstream in(text);
    return read_series(in, "datos.dat", layout);
}

std::string error_of(const std::string& text, const SeriesLayout& layout = dialogue_layout) {
    try {
        read_text(text, layout);
    } catch (const FatalError& error) {
        return error.what();
    }
    return "no error";
}

const SeriesLayout with_errors{max_pairs, false, true};

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
    EXPECT_EQ(error_of("1 2\n3 4\n\nabc 5\n"), "datos.dat, line 4: malformed number: 'abc'");
    EXPECT_EQ(error_of("1 2\n3\n4x\n"), "datos.dat, line 3: malformed number: '4x'");
    EXPECT_EQ(error_of("1 2\n3 4;\n"), "datos.dat, line 2: malformed number: '4;'");
    // Control characters are shown as codes, whole: a NUL does not end the message.
    EXPECT_EQ(error_of(std::string("1 2\n\0\x04\xFF"
                                   "1\x1F 5\n",
                                   12)),
              "datos.dat, line 2: malformed number: '\\x00\\x04\xFF"
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

TEST(SeriesReader, AnEmptyFieldWhereANumberIsReadNamesTheLine) {
    const std::string empty = "empty field in column ";
    const std::string why = " (two separators in a row or one at the start)";
    EXPECT_EQ(error_of("2458000.1,12.1\n2458000.2,,0.02\n"),
              "datos.dat, line 2: " + empty + "2" + why);
    EXPECT_EQ(error_of("1 2\n,3,4\n"), "datos.dat, line 2: " + empty + "1" + why);
    EXPECT_EQ(error_of("1 2\n3 , ,4\n"), "datos.dat, line 2: " + empty + "2" + why);
    // A time whose value is an empty last field: the value is not taken from
    // the next line.
    EXPECT_EQ(error_of("1 2\n19580517,\n19580524,317.5\n"),
              "datos.dat, line 2: " + empty + "2" + why);
    EXPECT_EQ(error_of("1,2,0.1\n3,4,,\n5,,6,1\n", with_errors),
              "datos.dat, line 2: " + empty + "3" + why);
    // Empty fields after the pair, a trailing comma, a line of commas alone,
    // and blanks around single commas are no error.
    const Series s = read_text("1,2,,x\n3,4,\n,,\n , \n5 , 6\n7\n8\n");
    EXPECT_EQ(s.t, (std::vector<double>{1, 3, 5, 7}));
    EXPECT_EQ(s.x, (std::vector<double>{2, 4, 6, 8}));
    EXPECT_EQ(s.third_column_line, 0);
}

TEST(SeriesReader, ErrorsAreTheThirdNumberOfEachLine) {
    const Series s = read_text(
        "# t mag err\n1.0 10 0.5\n2.0,20,1e-3 extra words\n\t3.0\t30\t2D-1\n", with_errors);
    EXPECT_EQ(s.t, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(s.x, (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(s.sigma, (std::vector<double>{0.5, 1e-3, 0.2}));
    // Without the option the column is not read, and the first line that
    // has it is kept for the note.
    const Series plain = read_text("1 10\n2 20 x\n3\n30 7\n4 40 0.1\n5 50 0.2\n");
    EXPECT_TRUE(plain.sigma.empty());
    EXPECT_EQ(plain.x, (std::vector<double>{10, 20, 30, 40, 50}));
    EXPECT_EQ(plain.third_column_line, 5);

    EXPECT_EQ(
        error_of("1 10 0.5\n2 20\n", with_errors),
        "datos.dat, line 2: three numbers (time, value and error) are expected and there are 2");
    EXPECT_EQ(error_of("1 10 0.5\n2 20 abc\n", with_errors),
              "datos.dat, line 2: malformed number: 'abc'");
    // An error must be above 0: the smallest double is, 0 and below are not.
    EXPECT_EQ(read_text("1 2 4.9e-324\n", with_errors).sigma.at(0), 4.9e-324);
    EXPECT_EQ(error_of("1 2 1\n3 4 0.0\n", with_errors),
              "datos.dat, line 2: the error must be a number greater than 0: '0.0'");
    EXPECT_EQ(error_of("1 2 -0.1\n", with_errors),
              "datos.dat, line 1: the error must be a number greater than 0: '-0.1'");
    EXPECT_EQ(error_of("1 2 1e-400\n", with_errors),
              "datos.dat, line 1: the error must be a number greater than 0: '1e-400'");
}

TEST(SeriesReader, TellsWhetherDataFollowTheLimit) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " 1\n";
    // Exactly the limit, then only comments and blank lines: nothing more.
    const Series exact = read_text(text + "# end\n\n , \n");
    EXPECT_EQ(exact.size(), max_pairs);
    EXPECT_FALSE(exact.more);
    // One line more, even one that is not a number (it is not read).
    const Series over = read_text(text + "\n# end\nnot read\n");
    EXPECT_EQ(over.size(), max_pairs);
    EXPECT_TRUE(over.more);
    EXPECT_FALSE(read_text("1 2\n3 4\n").more);
}

TEST(SeriesReader, MissingFileIsReportedByName) {
    testing::ScratchDir dir;
    try {
        read_series_file(dir.path() / "datos.dat", "datos.dat");
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "cannot open the file datos.dat: No such file or directory");
    }
    // A directory, and a file the process may not read (unless root, who
    // reads everything).
    try {
        read_series_file(dir.path(), "dir");
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "cannot open the file dir: Is a directory");
    }
    if (::geteuid() != 0) {
        dir.write("locked.dat", "1 2\n3 4\n");
        std::filesystem::permissions(dir.path() / "locked.dat", std::filesystem::perms::none);
        try {
            read_series_file(dir.path() / "locked.dat", "locked.dat");
            FAIL() << "no error";
        } catch (const FatalError& error) {
            EXPECT_STREQ(error.what(), "cannot open the file locked.dat: Permission denied");
        }
    }
}

} // namespace
} // namespace fasogram
