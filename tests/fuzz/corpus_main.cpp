// Runs a fuzz target over every file of its corpus, so that ordinary builds
// check the invariants on the inputs kept in the repository.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_check.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;  // usage: fuzz-NAME CORPUS-DIRECTORY
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++inputs;
    }
    std::printf("%d inputs, every invariant held\n", inputs);
    return inputs > 0 ? 0 : 1;
}
