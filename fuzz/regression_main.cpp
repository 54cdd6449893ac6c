// Replays saved inputs through the fuzz entry point without libFuzzer, so any build (gcc, with
// or without sanitizers) can check that crash inputs stay fixed and that the corpus parses clean.
// Arguments: files or directories (walked recursively, in name order). A path that does not
// exist is reported and skipped; no input at all is an error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (fs::is_regular_file(path, error)) {
            inputs.push_back(path);
        } else if (fs::is_directory(path, error)) {
            for (const auto &entry : fs::recursive_directory_iterator(path, error))
                if (entry.is_regular_file(error))
                    inputs.push_back(entry.path());
        } else {
            std::fprintf(stderr, "skipping %s: no such file or directory\n", argv[i]);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto &path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "%zu inputs ran clean\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
