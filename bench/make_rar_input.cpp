// Writes the RAR 2.0 archives bench/run_rar_bench.sh times: about 100 MB of word-like text in
// one member (non-solid), and a solid archive of text members with a multimedia member among
// them. Usage: quorbel-rar-bench-input OUTDIR
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "formats/rar20_test_writer.h"

namespace {

std::string Words(size_t size, unsigned seed) {
    std::mt19937 rnd(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 5000; ++i) {
        std::string w;
        for (int n = 2 + int(rnd() % 9); n > 0; --n) w += char('a' + rnd() % 26);
        words.push_back(w);
    }
    std::string out;
    out.reserve(size + 64);
    while (out.size() < size) {
        for (int n = 4 + int(rnd() % 10); n > 0; --n) out += words[rnd() % words.size()] + ' ';
        out += std::to_string(rnd() % 100000) + "\n";
        if (rnd() % 100 == 0)
            for (int n = int(rnd() % 512); n > 0; --n) out += char(rnd() & 0xFF);
    }
    out.resize(size);
    return out;
}

std::string Wave(size_t size, int channels) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        double t = double(i / size_t(channels));
        s[i] = char(uint8_t(int(100 * std::sin(t / (9.0 + double(i % size_t(channels)))) + 128)));
    }
    return s;
}

bool Save(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    using quorbel::test::Rar20Member;
    quorbel::test::Rar20Options plain;
    if (!Save(dir + "/big20.rar", quorbel::test::WriteRar20({{"big.txt", Words(100 << 20, 1)}}, plain))) return 1;
    quorbel::test::Rar20Options solid;
    solid.solid = true;
    std::vector<Rar20Member> members;
    for (int i = 0; i < 8; ++i) members.push_back({"part" + std::to_string(i) + ".txt", Words(6 << 20, 10 + unsigned(i))});
    members.push_back({"wave.raw", Wave(8 << 20, 2), 2});
    if (!Save(dir + "/solid20.rar", quorbel::test::WriteRar20(members, solid))) return 1;
    return 0;
}
