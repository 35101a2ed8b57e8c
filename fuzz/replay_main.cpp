// Replays a fuzz target's corpus without libFuzzer: every file of every
// directory given on the command line goes through the target once. Built
// with the project's compiler and run by CTest.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY...\n", argv[0]);
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    std::size_t replayed = 0;
    for (int index = 1; index < argc; ++index) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(argv[index])) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        for (const fs::path& file : files) {
            std::ifstream input(file, std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "replayed %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
