// The self-extractor's own ZIP reader: the directory found from the end of the file, then every
// member streamed out (with a wrong password for encrypted ones) into nothing.
#include "fuzz/fuzz_support.h"
#include "sfx/sfx_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = quorbel::fuzz::Scratch() + "/sfx.run";
    if (!quorbel::fuzz::WriteBytes(path, data, size)) return 0;
    quorbel::sfx::SfxArchive archive;
    if (!archive.Open(path)) return 0;
    for (const auto& member : archive.Members()) {
        (void)member.IsFolder();
        (void)member.UnixMode();
        archive.Extract(member, "wrong", [](const uint8_t*, size_t) { return true; });
    }
    return 0;
}
