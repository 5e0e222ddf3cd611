// Runs a fuzz target over files and folders of inputs once each, in a build
// without libFuzzer: the seed corpus and every input that once found a fault
// stay a test of the normal build.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

std::vector<std::filesystem::path> inputs(const std::filesystem::path &path)
{
    if (!std::filesystem::is_directory(path))
        return { path };
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::filesystem::path &file : inputs(argv[i])) {
            std::ifstream stream(file, std::ios::binary);
            if (!stream) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            const std::vector<char> bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), bytes.size());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            ++count;
        }
    }
    std::fprintf(stderr, "%zu inputs ran\n", count);
    // A corpus that has gone missing must not pass for a clean run.
    return count > 0 ? 0 : 1;
}
