#include "batch.hpp"
#include "error.hpp"
#include "table.hpp"
#include "table_csv.hpp"
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

TEST(TableFormat, ScaledValuesPastEitherEndOfTheDoubles) {
    // (hi + lo) * 2^exponent: digits no double could hold.
    EXPECT_EQ(format_table_field(ScaledValue{1.5, 0.0, -1074}), "  7.4109847-324");
    EXPECT_EQ(format_table_field(ScaledValue{-1.5, 0.0, -1074}), " -7.4109847-324");
    EXPECT_EQ(format_table_field(ScaledValue{1.0, 0.0, 1100}), "  1.3582985+331");
    EXPECT_EQ(format_table_field(ScaledValue{1.0, 0.0, -1070}), "  7.9050503-323");
    // Rounding up carries into the next decade, and the low part counts:
    // 1.99999999999 / 2 rounds up, 1.9999998 / 2 = 0.9999999 does not.
    EXPECT_EQ(format_table_field(ScaledValue{1.99999999999, 0.0, -1}), "  1.0000000E+00");
    EXPECT_EQ(format_table_field(ScaledValue{1.9999998, 0.0, -1}), "  9.9999990E-01");
    EXPECT_EQ(format_table_field(ScaledValue{1.0, 0x1p-60, -1074}),
              format_table_field(ScaledValue{1.0, 0.0, -1074}));
    EXPECT_EQ(format_table_field(ScaledValue{0.0, 0.0, -1000}), "  0.0000000E+00");
    // Unscaled values are the plain fields; non-finite ones keep their names.
    EXPECT_EQ(format_table_field(ScaledValue{0.01, 0.0, 0}), "  1.0000000E-02");
    EXPECT_EQ(format_table_field(ScaledValue{std::numeric_limits<double>::quiet_NaN(), 0.0, -9}),
              "            NaN");
    SpectrumPoint p{0.5, 0.25, 0.0, 0.0, 0.0, {}};
    p.tail.head = {1.5, -1.0, 1.0};
    p.tail.exponent = -1074;
    EXPECT_EQ(format_table_line(p),
              "  5.0000000E-01  2.5000000E-01  7.4109847-324 -4.9406565-324  4.9406565-324");
    EXPECT_EQ(format_csv_line(p), "0.5,2.5000000000000000e-01,7.4109846876186982e-324,"
                                  "-4.9406564584124654e-324,4.9406564584124654e-324");
}

TEST(TableFormat, PeakAmplitudeAndC1PastTheEndsOfTheDoubles) {
    Peak p;
    p.frequency = 0.25;
    p.period = 4.0;
    p.rho = 0.5;
    p.phase = 0.125;
    p.head = {1.5, -1.0};
    p.exponent = -1074;
    const std::string table = format_peak_table({p});
    EXPECT_NE(table.find(" 7.4109847e-324 "), std::string::npos) << table;
    EXPECT_NE(table.find(" -4.940656458e-324\n"), std::string::npos) << table;
    p.head = {1.0, 3.0};
    p.exponent = 1100;
    const std::string large = format_peak_table({p});
    EXPECT_NE(large.find(" 1.3582985e+331 "), std::string::npos) << large;
    EXPECT_NE(large.find(" 4.074895587e+331\n"), std::string::npos) << large;
}

TEST(TableFormat, NonFiniteValuesAreRightAligned) {
    EXPECT_EQ(format_table_field(std::numeric_limits<double>::quiet_NaN()), "            NaN");
    EXPECT_EQ(format_table_field(std::numeric_limits<double>::infinity()), "       Infinity");
    EXPECT_EQ(format_table_field(-std::numeric_limits<double>::infinity()), "      -Infinity");
}

TEST(TableFormat, ALineHoldsFiveFieldsInOrder) {
    const std::string line = format_table_line(SpectrumPoint{0.01, 0.5, 1.5, -0.25, 0.0, {}});
    EXPECT_EQ(line, "  1.0000000E-02  5.0000000E-01  1.5000000E+00 -2.5000000E-01  0.0000000E+00");
    EXPECT_EQ(line.size(), 75u);
}

TEST(TableWriter, ReplacesAnExistingFileAndReportsCreationFailure) {
    testing::ScratchDir dir;
    dir.write("fasogram.dat", "old contents that must go away\nand more\n");
    {
        TableWriter table(dir.path() / "fasogram.dat", "fasogram.dat");
        table.write(SpectrumPoint{1.0, 0.5, 0.0, 0.0, 0.0, {}});
        table.close();
    }
    EXPECT_EQ(dir.read("fasogram.dat"),
              "  1.0000000E+00  5.0000000E-01  0.0000000E+00  0.0000000E+00  0.0000000E+00\n");

    try {
        TableWriter table(dir.path() / "missing" / "fasogram.dat", "fasogram.dat");
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(),
                     "cannot create the file fasogram.dat: No such file or directory");
    }
}

TEST(TableWriter, AnEarlierTableStaysUntilTheNewOneIsComplete) {
    testing::ScratchDir dir;
    dir.write("fasogram.dat", "the earlier table\n");
    auto names = [&dir] {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            out.push_back(e.path().filename().string());
        }
        return out;
    };
    {
        TableWriter table(dir.path() / "fasogram.dat");
        table.write(SpectrumPoint{1.0, 0.5, 0.0, 0.0, 0.0, {}});
        // Until it is closed, the earlier table is what the name holds.
        EXPECT_EQ(dir.read("fasogram.dat"), "the earlier table\n");
        // A run stopped here (the writer goes without close) leaves no trace.
    }
    EXPECT_EQ(dir.read("fasogram.dat"), "the earlier table\n");
    EXPECT_EQ(names(), std::vector<std::string>{"fasogram.dat"});

    // Any path: a table in another directory, named by its path.
    std::filesystem::create_directory(dir.path() / "out");
    const std::filesystem::path other = dir.path() / "out" / "spectrum.txt";
    TableWriter table(other);
    table.write(SpectrumPoint{2.0, 0.25, 1.0, -1.0, 0.5, {}});
    table.close();
    EXPECT_EQ(dir.read("out/spectrum.txt"),
              "  2.0000000E+00  2.5000000E-01  1.0000000E+00 -1.0000000E+00  5.0000000E-01\n");
    EXPECT_EQ(std::filesystem::status(other).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read); // as a file made the usual way (umask 022)
}

TEST(TableWriter, ADeviceIsWrittenInPlaceAndAFullOneIsAnError) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    try {
        TableWriter table("/dev/full");
        for (int i = 0; i < 200; ++i) table.write(SpectrumPoint{1.0, 0.5, 0.0, 0.0, 0.0, {}});
        table.close();
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "cannot write the file /dev/full: No space left on device");
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full")); // not replaced
}

} // namespace
} // namespace fasogram
