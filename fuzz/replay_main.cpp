// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target over files and directories (seed corpora and inputs
// that once crashed), so that they are regression tests in every build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> files {argv[i]};
        if (fs::is_directory(argv[i]))
            files.assign(fs::directory_iterator(argv[i]), fs::directory_iterator());
        for (const fs::path& f : files) {
            if (!fs::is_regular_file(f))
                continue;
            std::ifstream in(f, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
    }
    std::printf("replayed %d inputs\n", inputs);
    return inputs > 0 ? 0 : 1;
}
