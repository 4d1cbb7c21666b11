#include "error.hpp"
#include "table.hpp"
#include "test_support.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace fasogram {
namespace {

TEST(TableFormat, FifteenCharacterScientificFields) {
    EXPECT_EQ(format_table_field(0.01), "  1.0000000E-02");
    EXPECT_EQ(format_table_field(0.5), "  5.0000000E-01");
    EXPECT_EQ(format_table_field(1.5), "  1.5000000E+00");
    EXPECT_EQ(format_table_field(-0.25), " -2.5000000E-01");
    EXPECT_EQ(format_table_field(0.0), "  0.0000000E+00");
    EXPECT_EQ(format_table_field(-0.0), "  0.0000000E+00");
    EXPECT_EQ(format_table_field(123456789.0), "  1.2345679E+08"); // nearest eight digits
    EXPECT_EQ(format_table_field(9.99999999), "  1.0000000E+01");
    EXPECT_EQ(format_table_field(1e-120), "  1.0000000-120");
    EXPECT_EQ(format_table_field(-2.5e100), " -2.5000000+100");
    EXPECT_EQ(format_table_field(1e99), "  1.0000000E+99");
    EXPECT_EQ(format_table_field(4.9e-324), "  4.9406565-324");
}

TEST(TableFormat, NonFiniteValuesAreRightAligned) {
    EXPECT_EQ(format_table_field(std::numeric_limits<double>::quiet_NaN()), "            NaN");
    EXPECT_EQ(format_table_field(std::numeric_limits<double>::infinity()), "       Infinity");
    EXPECT_EQ(format_table_field(-std::numeric_limits<double>::infinity()), "      -Infinity");
}

TEST(TableFormat, ALineHoldsFiveFieldsInOrder) {
    const std::string line = format_table_line(SpectrumPoint{0.01, 0.5, 1.5, -0.25, 0.0});
    EXPECT_EQ(line, "  1.0000000E-02  5.0000000E-01  1.5000000E+00 -2.5000000E-01  0.0000000E+00");
    EXPECT_EQ(line.size(), 75u);
}

TEST(TableWriter, ReplacesAnExistingFileAndReportsCreationFailure) {
    testing::ScratchDir dir;
    dir.write("fasogram.dat", "old contents that must go away\nand more\n");
    {
        TableWriter table(dir.path() / "fasogram.dat", "fasogram.dat");
        table.write(SpectrumPoint{1.0, 0.5, 0.0, 0.0, 0.0});
        table.close();
    }
    EXPECT_EQ(dir.read("fasogram.dat"),
              "  1.0000000E+00  5.0000000E-01  0.0000000E+00  0.0000000E+00  0.0000000E+00\n");

    try {
        TableWriter table(dir.path() / "missing" / "fasogram.dat", "fasogram.dat");
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "no se puede crear el archivo fasogram.dat");
    }
}

} // namespace
} // namespace fasogram
