// Runs a fuzz target's corpus and regression files as an ordinary test, without libFuzzer: each
// file whole, then cut short at many lengths, since a reader must survive every truncation of
// a valid file, not only the file itself.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// Every length of a small file; evenly spread lengths (and the last bytes one by one) of a
// large one, so the run stays short.
std::vector<size_t> CutLengths(size_t size) {
    std::vector<size_t> cuts;
    if (size <= 1024) {
        for (size_t n = 0; n < size; ++n) cuts.push_back(n);
        return cuts;
    }
    for (size_t i = 0; i < 512; ++i) cuts.push_back(size * i / 512);
    for (size_t n = size - 64; n < size; ++n) cuts.push_back(n);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

void RunOne(const std::vector<uint8_t>& bytes) {
    // A copy of exactly the input's length, so the sanitizer sees any read past its end.
    std::vector<uint8_t> exact(bytes);
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p = argv[i];
        if (std::filesystem::is_directory(p)) {
            for (const auto& item : std::filesystem::recursive_directory_iterator(p))
                if (item.is_regular_file()) files.push_back(item.path());
        } else if (std::filesystem::is_regular_file(p)) {
            files.push_back(p);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "replay: nothing to run\n");
        return 2;
    }
    size_t runs = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
        RunOne(bytes);
        ++runs;
        for (size_t n : CutLengths(bytes.size())) {
            RunOne(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)));
            ++runs;
        }
    }
    std::printf("replay: %zu files, %zu runs\n", files.size(), runs);
    return 0;
}
