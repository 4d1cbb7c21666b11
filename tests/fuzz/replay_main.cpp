// Runs a fuzz target on saved inputs without the fuzzer, so that the seed
// corpus and the inputs of past findings are replayed by the normal test
// suite (any compiler, no fuzzing library).  Arguments are files or
// directories (every regular file in them, in name order); a path that does
// not exist is an error, so a mistyped corpus cannot pass as empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path p = argv[i];
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            std::vector<fs::path> in_dir;
            for (const fs::directory_entry& e : fs::directory_iterator(p)) {
                if (e.is_regular_file()) in_dir.push_back(e.path());
            }
            std::sort(in_dir.begin(), in_dir.end());
            inputs.insert(inputs.end(), in_dir.begin(), in_dir.end());
        } else if (fs::is_regular_file(p, ec)) {
            inputs.push_back(p);
        } else {
            std::fprintf(stderr, "replay: no such file or directory: %s\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", p.c_str());
            return 2;
        }
        std::fprintf(stderr, "replay: %s\n", p.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu inputs, no finding\n", inputs.size());
    return 0;
}
