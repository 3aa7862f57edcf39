// Unpacks every member of an ACE archive (volumes followed) with our engine into a folder, in
// archive order through one decoder as a solid archive needs, and checks each CRC-32; so that
// bench/run_ace_bench.sh can time it against unar on the same file.
// Usage: quorbel-ace-bench ARCHIVE OUTDIR [PASSES]   (PASSES > 1 prints the best pass's time)
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/data_stream.h"
#include "formats/ace/ace_directory.h"
#include "formats/ace/ace_unpack.h"
#include "formats/engines/crc16.h"

namespace {

using namespace quorbel;

class FileSink final : public engines::OutputSink {
public:
    explicit FileSink(std::FILE* f) : f_(f) {}
    bool Put(const uint8_t* data, size_t size) override {
        crc32_ = engines::Crc32(crc32_, data, size);
        return std::fwrite(data, 1, size, f_) == size;
    }
    uint32_t crc32_ = 0;

private:
    std::FILE* f_;
};

std::string Flat(const std::string& outdir, std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\') c = '_';
    return outdir + "/" + name;
}

int OnePass(DataStream& stream, const ace::AceDirectory& dir, const std::string& outdir) {
    int bits = ace::kMinDictionaryBits;
    uint64_t total = 0;
    for (const auto& m : dir.members) {
        bits = std::max(bits, m.DictionaryBits());
        total += m.unpacked_size;
    }
    ace::AceDecoder decoder(bits, total);
    ace::VolumeSet volumes(stream, dir.volume_paths);
    int failures = 0;
    for (const auto& m : dir.members) {
        if (m.is_folder || m.encrypted || !m.complete) continue;
        ace::ChainSource chain;
        for (const auto& s : m.segments) {
            DataStream* v = volumes.Get(s.volume);
            if (!v) return failures + 1;
            chain.Add(std::make_unique<engines::StreamSource>(*v, s.data_offset, s.packed_size));
        }
        std::FILE* f = std::fopen(Flat(outdir, m.name).c_str(), "wb");
        if (!f) return failures + 1;
        FileSink sink(f);
        engines::UnpackStatus r = decoder.Unpack(m.method, chain, m.unpacked_size, sink);
        std::fclose(f);
        if (r != engines::UnpackStatus::Ok || sink.crc32_ != m.crc32) {
            std::fprintf(stderr, "%s: failed\n", m.name.c_str());
            ++failures;
        }
    }
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE OUTDIR [PASSES]\n", argv[0]);
        return 2;
    }
    const std::string outdir = argv[2];
    const int passes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    ::mkdir(outdir.c_str(), 0755);
    DataStream stream;
    if (!stream.OpenFile(argv[1], true)) return 1;
    ace::AceDirectory dir;
    auto best = std::chrono::duration<double>::max();
    int failures = 0;
    for (int i = 0; i < passes; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (ace::ReadAceDirectory(stream, argv[1], dir) == engines::DirectoryStatus::NotThisFormat) return 1;
        failures = OnePass(stream, dir, outdir);
        best = std::min<std::chrono::duration<double>>(best, std::chrono::steady_clock::now() - start);
    }
    if (passes > 1) std::printf("best of %d passes: %.3f ms\n", passes, best.count() * 1000);
    return failures == 0 ? 0 : 1;
}
