// The LHA engines alone: byte 0 picks the method, bytes 1-4 the unpacked size, the rest packed
// data.
#include "formats/lha/lha_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kMethods[] = {"-lh0-", "-lh1-", "-lh4-", "-lh5-",
                                           "-lh6-", "-lh7-", "-lhd-", "-lz4-"};
    if (size < 5) return 0;
    const char* method = kMethods[data[0] % 8];
    uint64_t unpacked = uint64_t(data[1]) | (uint64_t(data[2]) << 8) | (uint64_t(data[3]) << 16) |
                        (uint64_t(data[4]) << 24);
    // Up to 512 KiB: past the 256 KiB window's wrap, without spending every run on output.
    unpacked &= 0x7FFFF;
    quorbel::fuzz::RunEngineBothWays(
        [&](quorbel::engines::ByteSource& in, uint64_t n, quorbel::engines::OutputSink& out) {
            return quorbel::lha::UnpackLha(method, in, n, out);
        },
        data + 5, size - 5, unpacked);
    return 0;
}
