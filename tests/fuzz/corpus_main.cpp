// Runs a fuzz target over every file of its corpus, so that ordinary builds
// check the invariants on the inputs kept in the repository.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_check.h"

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream file(entry.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(file)), {});
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++inputs;
        }
    }
    std::printf("%d inputs, every invariant held\n", inputs);
    return inputs > 0 ? 0 : 1;
}
