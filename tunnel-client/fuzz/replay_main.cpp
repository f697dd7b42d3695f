// Runs every file of the given corpus directories (or files) through the fuzz
// entry points, so builds without libFuzzer still exercise them.
#include "fuzz_targets.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

static bool runFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ostrel::fuzz::fuzzOne(data.data(), data.size());
    return true;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s corpus-dir-or-file...\n", argv[0]);
        return 2;
    }
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto& entry : fs::recursive_directory_iterator(p))
                if (entry.is_regular_file()) {
                    if (!runFile(entry.path())) return 1;
                    ++count;
                }
        } else {
            if (!runFile(p)) return 1;
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "no corpus inputs found\n");
        return 1;
    }
    std::printf("%zu inputs ran cleanly\n", count);
    return 0;
}
