// The ZOO engines alone: byte 0 the method, bytes 1-4 the unpacked size, the rest packed data.
#include "formats/zoo/zoo_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    int method = data[0] % 3;
    uint64_t unpacked = uint64_t(data[1]) | (uint64_t(data[2]) << 8) | (uint64_t(data[3]) << 16) |
                        (uint64_t(data[4]) << 24);
    // Up to 512 KiB: past the 256 KiB window's wrap, without spending every run on output.
    unpacked &= 0x7FFFF;
    quorbel::fuzz::RunEngineBothWays(
        [&](quorbel::engines::ByteSource& in, uint64_t n, quorbel::engines::OutputSink& out) {
            return quorbel::zoo::UnpackZoo(method, in, n, out);
        },
        data + 5, size - 5, unpacked);
    return 0;
}
