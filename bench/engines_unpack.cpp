// Unpacks every member of an ARJ, LHA or RAR archive with our engines into a folder, as `arj x`,
// `lhasa x` and `unar` do, so bench/run_engines_bench.sh and bench/run_rar_bench.sh can time it
// against them and 7z on the same file.
// Usage: quorbel-engines-bench ARCHIVE OUTDIR
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/data_stream.h"
#include "formats/arj/arj_directory.h"
#include "formats/arj/arj_unpack.h"
#include "formats/engines/crc16.h"
#include "formats/lha/lha_directory.h"
#include "formats/lha/lha_unpack.h"
#include "formats/rar/rar_directory.h"
#include "formats/rar/rar_unpack.h"

namespace {

using namespace quorbel;

// Writes the output to a file and keeps the CRCs the archive's header is checked against.
class FileSink final : public engines::OutputSink {
public:
    FileSink(std::FILE* f, bool crc16) : f_(f), crc16_wanted_(crc16) {}
    bool Put(const uint8_t* data, size_t size) override {
        if (crc16_wanted_) {
            crc16_ = engines::Crc16(crc16_, data, size);
        } else {
            crc32_ = engines::Crc32(crc32_, data, size);
        }
        return std::fwrite(data, 1, size, f_) == size;
    }
    uint32_t crc32_ = 0;
    uint16_t crc16_ = 0;

private:
    std::FILE* f_;
    bool crc16_wanted_;
};

std::string Flat(const std::string& outdir, std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\' || uint8_t(c) == 0xFF) c = '_';
    return outdir + "/" + name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE OUTDIR\n", argv[0]);
        return 2;
    }
    std::string outdir = argv[2];
    ::mkdir(outdir.c_str(), 0755);
    DataStream stream;
    if (!stream.OpenFile(argv[1], true)) return 1;
    int failures = 0;
    arj::ArjDirectory arj_dir;
    if (arj::ReadArjDirectory(stream, arj_dir) == engines::DirectoryStatus::Ok) {
        for (const auto& m : arj_dir.members) {
            if (!m.is_file) continue;
            std::FILE* f = std::fopen(Flat(outdir, m.name).c_str(), "wb");
            if (!f) return 1;
            FileSink sink(f, false);
            engines::StreamSource src(stream, m.data_offset, m.packed_size);
            auto s = arj::UnpackArj(m.method, src, m.unpacked_size, sink);
            std::fclose(f);
            if (s != engines::UnpackStatus::Ok || sink.crc32_ != m.crc32) ++failures;
        }
        return failures ? 1 : 0;
    }
    rar::RarDirectory rar_dir;
    auto open_volume = [](const std::string& p) -> std::unique_ptr<DataStream> {
        auto s = std::make_unique<DataStream>();
        if (!s->OpenFile(p, true)) return nullptr;
        return s;
    };
    if (rar::ReadRarDirectory(stream, rar_dir, {}, argv[1], open_volume) == engines::DirectoryStatus::Ok) {
        // Members in order, one decoder: a solid member continues where the last one ended.
        rar::RarDecoder decoder;
        std::vector<std::unique_ptr<DataStream>> volumes(rar_dir.volumes.size());
        bool decoded = false;
        for (const auto& m : rar_dir.members) {
            if (m.is_folder || m.is_symlink) continue;
            if (m.encrypted || !m.complete || !rar::RarVersionSupported(m.version)) {
                ++failures;
                continue;
            }
            std::string data;
            for (const auto& part : m.parts) {
                DataStream* s = &stream;
                if (part.volume > 0) {
                    if (!volumes[size_t(part.volume)]) volumes[size_t(part.volume)] = open_volume(rar_dir.volumes[size_t(part.volume)]);
                    if (!volumes[size_t(part.volume)]) return 1;
                    s = volumes[size_t(part.volume)].get();
                }
                std::string bytes(size_t(part.packed_size), '\0');
                if (s->Seek(part.data_offset, DataStream::Origin::Start) != part.data_offset ||
                    s->Read(bytes.data(), bytes.size()) != bytes.size())
                    return 1;
                data += bytes;
            }
            std::FILE* f = std::fopen(Flat(outdir, m.name).c_str(), "wb");
            if (!f) return 1;
            FileSink sink(f, false);
            engines::SpanSource src(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            const bool compressed = m.method != rar::kMethodStored;
            auto s = decoder.Unpack(m.version, m.method, compressed && decoded && m.solid, src, m.unpacked_size, sink);
            if (compressed) decoded = true;
            std::fclose(f);
            if (s != engines::UnpackStatus::Ok || sink.crc32_ != m.crc32) ++failures;
        }
        return failures ? 1 : 0;
    }
    lha::LhaDirectory lha_dir;
    if (lha::ReadLhaDirectory(stream, lha_dir) != engines::DirectoryStatus::Ok) return 1;
    for (const auto& m : lha_dir.members) {
        if (m.is_folder) continue;
        std::FILE* f = std::fopen(Flat(outdir, m.Path('/')).c_str(), "wb");
        if (!f) return 1;
        FileSink sink(f, true);
        engines::StreamSource src(stream, m.data_offset, m.packed_size);
        auto s = lha::UnpackLha(m.method, src, m.unpacked_size, sink);
        std::fclose(f);
        if (s != engines::UnpackStatus::Ok || (m.has_crc && sink.crc16_ != m.crc16)) ++failures;
    }
    return failures ? 1 : 0;
}
