#include "common/support.hpp"

namespace test_common {

int run_command(const std::string& cmd, std::string& output) {
    output.clear();
    std::FILE* f = popen((cmd + " 2>&1").c_str(), "r");
    if (f == nullptr) {
        output = "cannot run " + cmd;
        return -1;
    }
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) output.append(buf, n);
    return pclose(f);
}

std::string run_command(const std::string& cmd) {
    std::string out;
    const int rc = run_command(cmd, out);
    if (rc != 0) out += "\n(exit status " + std::to_string(rc) + ")";
    return out;
}

std::string read_stream(std::FILE* f) {
    std::fflush(f);
    std::string out;
    std::rewind(f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fseek(f, 0, SEEK_END);
    return out;
}

std::tm fixed_time() {
    std::tm tm{};
    tm.tm_mday = 5;
    tm.tm_mon = 2;
    tm.tm_year = 124;
    tm.tm_hour = 14;
    tm.tm_min = 7;
    tm.tm_sec = 9;
    return tm;
}

} // namespace test_common
