// End-to-end runs of the built program in a scratch directory, with the
// answers on standard input.
#include "test_support.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace fasogram {
namespace {

using testing::ScratchDir;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result run_program(const ScratchDir& dir, const std::string& answers,
                   const std::string& environment = "") {
    dir.write("answers.txt", answers);
    const std::string command = "cd '" + dir.path().string() + "' && " + environment + " '" +
                                FASOGRAM_BINARY + "' <answers.txt >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = dir.read("out.txt");
    result.err = dir.read("err.txt");
    return result;
}

// A sinusoid of period 4 sampled at uneven times.
std::string sinusoid_series() {
    std::string text;
    double t = 0.0;
    for (int i = 0; i < 200; ++i) {
        t += 0.37 + 0.5 * std::fabs(std::sin(1.7 * i));
        char line[80];
        std::snprintf(line, sizeof line, "%.6f %.6f\r\n", t, 2.0 + std::cos(0.5 * M_PI * t));
        text += line;
    }
    return text;
}

TEST(Program, FullRunWritesTheTableAndExitsWithZero) {
    ScratchDir dir;
    dir.write("datos.dat", sinusoid_series());
    const Result run = run_program(dir, "c\n0.2\n0.3\n4\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(" son  200    datos en la serie temporal\n"), std::string::npos);
    const std::string suffix =
        " estoy calculando el espectro....\n vea que bonito el grafico.....\n";
    ASSERT_GE(run.out.size(), suffix.size());
    EXPECT_EQ(run.out.substr(run.out.size() - suffix.size()), suffix);

    // Frequencies 0.2, 0.225, 0.25, 0.275, 0.3; the signal sits at 0.25.
    const std::string table = dir.read("fasogram.dat");
    ASSERT_EQ(table.size(), 5u * 76u);
    EXPECT_EQ(table.substr(2 * 76, 15), "  2.5000000E-01");
    const double rho = std::stod(table.substr(2 * 76 + 15, 15));
    EXPECT_NEAR(rho, 1.0, 1e-6);
    EXPECT_NEAR(std::stod(table.substr(2 * 76 + 30, 15)), 2.0, 1e-5);
    EXPECT_NEAR(std::stod(table.substr(2 * 76 + 45, 15)), 1.0, 1e-5);
    EXPECT_LT(std::stod(table.substr(0 * 76 + 15, 15)), 0.9);
}

TEST(Program, ErrorStopsExitWithOne) {
    ScratchDir dir;
    Result run = run_program(dir, "h\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "fasogram: error: no se puede abrir el archivo datos.dat\n");

    dir.write("datos.dat", sinusoid_series());
    run = run_program(dir, "h\n0.1\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "fasogram: error: fin de la entrada al esperar la respuesta a 'frecuencia final?'\n");
    EXPECT_FALSE(dir.exists("fasogram.dat"));
}

TEST(Program, ExampleSeriesShowsItsTwoPeriods) {
    ScratchDir dir;
    std::filesystem::copy_file(FASOGRAM_EXAMPLE, dir.path() / "datos.dat");
    const Result run = run_program(dir, "h\n0.01\n0.5\n4900\n");
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream table(dir.read("fasogram.dat"));
    std::string line;
    double best_f = 0.0, best_rho = -1.0; // whole range
    double slow_f = 0.0, slow_rho = -1.0; // below 0.1 cycles per day
    while (std::getline(table, line)) {
        const double f = std::stod(line.substr(0, 15));
        const double rho = std::stod(line.substr(15, 15));
        if (rho > best_rho) best_rho = rho, best_f = f;
        if (f < 0.1 && rho > slow_rho) slow_rho = rho, slow_f = f;
    }
    // The generator puts signals at periods of 2.7 and 37 days.
    EXPECT_NEAR(best_f, 1.0 / 2.7, 2e-4);
    EXPECT_NEAR(slow_f, 1.0 / 37.0, 2e-4);
    EXPECT_GT(best_rho, 0.5);
    EXPECT_GT(slow_rho, 0.1);
}

} // namespace
} // namespace fasogram
