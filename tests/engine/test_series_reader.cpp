// The series reader of the public header: its structured failures, its two
// sources (stream and text in memory) and its limit.
#include <fasogram/series.hpp>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace fasogram {
namespace {

SeriesReadError failure(const std::string& text, const SeriesLayout& layout = {}) {
    try {
        read_series(std::string_view(text), layout);
    } catch (const SeriesReadError& error) {
        return error;
    }
    ADD_FAILURE() << "no error for " << text;
    return SeriesReadError(SeriesReadError::Kind::empty_field, 0, 0, {}, 0);
}

TEST(SeriesReadError, NamesTheKindLineColumnAndText) {
    using Kind = SeriesReadError::Kind;
    const SeriesReadError bad = failure("1 2\n\n# c\n3\tx9 7\n");
    EXPECT_EQ(bad.kind(), Kind::malformed_number);
    EXPECT_EQ(bad.line(), 4);
    EXPECT_EQ(bad.column(), 2u);
    EXPECT_EQ(bad.text(), "x9");
    EXPECT_EQ(bad.fields(), 3u);
    EXPECT_STREQ(bad.what(), "line 4: malformed number: 'x9'");

    const SeriesReadError empty = failure("1 2\n3,\t,4\n");
    EXPECT_EQ(empty.kind(), Kind::empty_field);
    EXPECT_EQ(empty.line(), 2);
    EXPECT_EQ(empty.column(), 2u);
    EXPECT_STREQ(empty.what(),
                 "line 2: empty field in column 2 (two separators in a row or one at the start)");

    SeriesLayout errors;
    errors.errors = true;
    const SeriesReadError few = failure("1 2 3\n4 5\n", errors);
    EXPECT_EQ(few.kind(), Kind::too_few_columns);
    EXPECT_EQ(few.fields(), 2u);
    EXPECT_STREQ(few.what(),
                 "line 2: three numbers (time, value and error) are expected and there are 2");
    const SeriesReadError zero = failure("1 2 3\n4 5 -0\n", errors);
    EXPECT_EQ(zero.kind(), Kind::bad_error);
    EXPECT_EQ(zero.column(), 3u);
    EXPECT_EQ(zero.text(), "-0");
    // The smallest subnormal is above 0; nan is no number at all.
    EXPECT_EQ(read_series(std::string_view("1 2 4.9e-324\n"), errors).sigma.at(0), 4.9e-324);
    EXPECT_EQ(failure("1 2 nan\n", errors).kind(), Kind::malformed_number);

    // Control characters are quoted in what(); text() keeps them as read.
    const SeriesReadError control = failure("1 \x1b[0m\n");
    EXPECT_EQ(control.text(), "\x1b[0m");
    EXPECT_STREQ(control.what(), "line 1: malformed number: '\\x1B[0m'");
    const SeriesReadError longer = failure("1 " + std::string(250, 'z') + "\n");
    EXPECT_EQ(longer.text().size(), 250u);
    EXPECT_EQ(std::string(longer.what()),
              "line 1: malformed number: '" + std::string(200, 'z') + "...'");
}

TEST(SeriesReader, StreamAndTextReadTheSame) {
    const std::string texts[] = {
        "\xEF\xBB\xBFtime mag\r\n1 2 0.5\r\n3,4\r\n5\n6\n7",
        "% c\n\n 1.5D+00 , 2\n , \n3 4 5 6\n8",
        "",
        "\n\n",
        "1 2",
    };
    SeriesLayout layout;
    layout.header = true;
    for (const std::string& text : texts) {
        std::istringstream in(text);
        const Series a = read_series(in, layout);
        const Series b = read_series(std::string_view(text), layout);
        EXPECT_EQ(a.t, b.t) << text;
        EXPECT_EQ(a.x, b.x) << text;
        EXPECT_EQ(a.header, b.header) << text;
        EXPECT_EQ(a.header_line, b.header_line) << text;
        EXPECT_EQ(a.third_column_line, b.third_column_line) << text;
    }
    const Series first = read_series(std::string_view(texts[0]), layout);
    EXPECT_EQ(first.header, "time mag");
    EXPECT_EQ(first.header_line, 1);
    EXPECT_EQ(first.t, (std::vector<double>{1, 3, 5}));
    EXPECT_EQ(first.x, (std::vector<double>{2, 4, 6}));
    EXPECT_EQ(first.third_column_line, 2);
    EXPECT_TRUE(first.sigma.empty());
}

TEST(SeriesReader, StopsAtTheLimitAndTellsWhetherDataFollows) {
    const std::string five = "1 1\n2 2\n3 3\n4 4\n5 5\n";
    SeriesLayout layout;
    layout.limit = 5;
    const Series exact = read_series(std::string_view(five + "# end\n\n"), layout);
    EXPECT_EQ(exact.size(), 5u);
    EXPECT_FALSE(exact.more);
    layout.limit = 4;
    const Series cut = read_series(std::string_view(five), layout);
    EXPECT_EQ(cut.size(), 4u);
    EXPECT_TRUE(cut.more);
    EXPECT_EQ(cut.t.back(), 4.0);
    // What follows the limit is not read: a bad line there is no error.
    EXPECT_EQ(read_series(std::string_view(five + "x y\n"), layout).size(), 4u);
    layout.limit = 0;
    EXPECT_EQ(read_series(std::string_view(five), layout).size(), 0u);
}

TEST(ParseReal, TakesFortranExponentsAndRefusesWordsAndOverflow) {
    EXPECT_EQ(parse_real("1.5D+03"), 1500.0);
    EXPECT_EQ(parse_real("-.5d-1"), -0.05);
    EXPECT_EQ(parse_real("+7."), 7.0);
    EXPECT_EQ(parse_real("1e-400"), 0.0);
    EXPECT_EQ(parse_real("1.7976931348623157e308"), 1.7976931348623157e308);
    for (const char* no : {"1.7976931348623159e308", "nan", "inf", "-Infinity", "1e", ".", "",
                           "0x10", "1,5", " 1", "1 "})
        EXPECT_FALSE(parse_real(no).has_value()) << no;
}

} // namespace
} // namespace fasogram
