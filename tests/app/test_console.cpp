#include "console_in.hpp"
#include "console_out.hpp"
#include "error.hpp"
#include "numbers.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <sstream>

namespace fasogram {
namespace {

TEST(ConsoleOutput, RealItemsFollowTheGeneralNineDigitFormWithAPoint) {
    EXPECT_EQ(format_real_item(2.0 / 365.25), "  0.00547570157");
    EXPECT_EQ(format_real_item(2.0 / 100.0), "  0.02");
    EXPECT_EQ(format_real_item(0.0), "  0.");
    EXPECT_EQ(format_real_item(-0.0), "  0.");
    EXPECT_EQ(format_real_item(100.0), "  100.");
    EXPECT_EQ(format_real_item(-2.5), " -2.5");
    EXPECT_EQ(format_real_item(1e-5), "  1.E-05");
    EXPECT_EQ(format_real_item(1.5e-7), "  1.5E-07");
    EXPECT_EQ(format_real_item(-1e20), " -1.E+20");
    EXPECT_EQ(format_real_item(123456789012.0), "  1.23456789E+11");
}

TEST(ConsoleOutput, LinesStartWithOneBlankAndItemsFollowEachOther) {
    EXPECT_EQ(format_line({"son ", 1500, "    datos en la serie temporal"}),
              " son  1500    datos en la serie temporal");
    EXPECT_EQ(format_line({"ancho de cada linea espectral =", 0.02}),
              " ancho de cada linea espectral =  0.02");
    EXPECT_EQ(format_line({-7}), "  -7"); // the leading blank, then the item
    EXPECT_EQ(format_line({""}), " ");
    EXPECT_EQ(format_line({}), "");
}

TEST(ConsoleOutput, AnItemThatWouldReachColumnEightyStartsANewLine) {
    // " " + 71 letters + " 1234567" would end in column 80.
    const std::string text(71, 'a');
    EXPECT_EQ(format_line({text, 1234567}), " " + text + "\n  1234567");
    EXPECT_EQ(format_line({text, 123456}), " " + text + " 123456");
}

TEST(Numbers, RealsInDecimalAndExponentNotation) {
    EXPECT_EQ(parse_real("1.5"), 1.5);
    EXPECT_EQ(parse_real("+.5"), 0.5);
    EXPECT_EQ(parse_real("-5."), -5.0);
    EXPECT_EQ(parse_real("7"), 7.0);
    EXPECT_EQ(parse_real("1.5D+03"), 1500.0);
    EXPECT_EQ(parse_real("2d-1"), 0.2);
    EXPECT_EQ(parse_real("1e2"), 100.0);
    // A leading '+' and the D exponent, alone and together, with the
    // exponent's own sign kept.
    EXPECT_EQ(parse_real("+2.5e+1"), 25.0);
    EXPECT_EQ(parse_real("+1d+3"), 1000.0);
    EXPECT_EQ(parse_real("-1.5E-2"), -0.015);
    EXPECT_EQ(parse_real("+25D-1"), 2.5);
    EXPECT_EQ(parse_real("+1e-400"), 0.0);
    // Numbers too small for a double read as zero: they are not malformed.
    // Around the smallest subnormal 4.94e-324 and far beyond it.
    EXPECT_EQ(parse_real("4.9406564584124654e-324"), 4.9406564584124654e-324);
    EXPECT_EQ(parse_real("2.4703282292062328e-324"), 4.9406564584124654e-324);
    for (const char* tiny : {"2.4703282292062327e-324", "1e-400", "0.0001D-321", "1e-99999999999",
                             "0.00000000001e-314"}) {
        const std::optional<double> v = parse_real(tiny);
        ASSERT_TRUE(v.has_value()) << tiny;
        EXPECT_EQ(*v, 0.0) << tiny;
        EXPECT_FALSE(std::signbit(*v)) << tiny;
    }
    EXPECT_TRUE(std::signbit(parse_real("-1e-400").value()));
    EXPECT_EQ(parse_real("1.7976931348623157e308"), 1.7976931348623157e308);
    for (const char* bad : {"",
                            "abc",
                            ".",
                            "-",
                            "1.5x",
                            "1e",
                            "1e+",
                            "1.2.3",
                            "1,5",
                            "0x10",
                            "inf",
                            "nan",
                            "1e999",
                            "+-1",
                            "1.7976931348623159e308",
                            "-1e309",
                            "1000000000000000000000e300",
                            "0.1e310",
                            "1e99999999999",
                            "+",
                            "++1",
                            "1e5 ",
                            " 1",
                            "1e+5-",
                            "1d",
                            "+1d+"}) {
        EXPECT_FALSE(parse_real(bad).has_value()) << bad;
    }
}

TEST(Numbers, IntegersRejectPointsAndExponents) {
    EXPECT_EQ(parse_int("2000"), 2000);
    EXPECT_EQ(parse_int("+3"), 3);
    EXPECT_EQ(parse_int("-4"), -4);
    for (const char* bad : {"", "+", "4.", "4.0", "1e3", "1D3", "12a", "+-1", "99999999999"}) {
        EXPECT_FALSE(parse_int(bad).has_value()) << bad;
    }
}

TEST(ConsoleInput, ValuesEndAtBlankOrCommaAndEmptyLinesAreSkipped) {
    std::istringstream in("\n   \n  Hanning window\n0.5,0.7\n\r\n 12 rest\n-1\r\n");
    std::ostringstream out;
    AnswerReader reader(in, out);
    EXPECT_EQ(reader.read_char("q1"), 'H');
    EXPECT_EQ(reader.read_real("q2"), 0.5); // 0.7 is discarded with the rest of the line
    EXPECT_EQ(reader.read_int("q3"), 12);
    EXPECT_EQ(reader.read_int("q4"), -1);
    EXPECT_THROW(reader.read_char("q5"), FatalError);
}

TEST(ConsoleInput, ADecimalCommaIsRefusedAndAskedAgain) {
    std::istringstream in("0,5\n-12,75e3 x\n 0.5\n0, 5\n1,x\n2.5,7\n+3,0\n7\n,5\n");
    std::ostringstream out;
    AnswerReader reader(in, out);
    EXPECT_EQ(reader.read_real("frecuencia inicial?"), 0.5);
    EXPECT_EQ(out.str(), " los decimales se escriben con punto, no con coma: '0,5'\n"
                         " frecuencia inicial?\n"
                         " los decimales se escriben con punto, no con coma: '-12,75e3'\n"
                         " frecuencia inicial?\n");
    out.str("");
    // A comma and a blank, a comma before a letter, a number with a point:
    // lists as before, the first value taken.
    EXPECT_EQ(reader.read_real("frecuencia final?"), 0.0);
    EXPECT_EQ(reader.read_real("frecuencia final?"), 1.0);
    EXPECT_EQ(reader.read_real("frecuencia final?"), 2.5);
    EXPECT_EQ(out.str(), "");
    // The other answers are not real numbers: read up to the comma.
    EXPECT_EQ(reader.read_int("Numero de puntos que tendra el espectro?"), 3);
    EXPECT_EQ(reader.read_char("ventana?"), '7');
    EXPECT_THROW(reader.read_real("frecuencia final?"), FatalError); // ",5": empty
}

TEST(ConsoleInput, ErrorsNameTheQuestionAndTheAnswer) {
    auto message = [](const std::string& input, bool integer) {
        std::istringstream in(input);
        std::ostringstream out;
        AnswerReader reader(in, out);
        try {
            if (integer) {
                reader.read_int("Numero de puntos que tendra el espectro?");
            } else {
                reader.read_real("frecuencia inicial?");
            }
        } catch (const FatalError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("1.5x\n", false), "respuesta no valida a 'frecuencia inicial?': '1.5x'");
    EXPECT_EQ(message("2000.\n", true),
              "respuesta no valida a 'Numero de puntos que tendra el espectro?': '2000.'");
    EXPECT_EQ(message("1e3\n", true),
              "respuesta no valida a 'Numero de puntos que tendra el espectro?': '1e3'");
    EXPECT_EQ(message("\n\n", false),
              "fin de la entrada al esperar la respuesta a 'frecuencia inicial?'");
    // Control characters of the answer are shown as codes: a NUL does not
    // cut the message short.
    EXPECT_EQ(message(std::string("1\0\x1B[2J\x7F\xC3\xB1\n", 10), false),
              "respuesta no valida a 'frecuencia inicial?': '1\\x00\\x1B[2J\\x7F\xC3\xB1'");
}

} // namespace
} // namespace fasogram
