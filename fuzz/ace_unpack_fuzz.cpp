// The ACE engine alone: byte 0 the method (0 stored, 1 LZ77, 2 blocked), byte 1 the dictionary
// parameter, bytes 2-5 the unpacked size, the rest packed data.
#include "formats/ace/ace_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    int method = data[0] % 3;
    uint16_t params = data[1] & 15;
    uint64_t unpacked = uint64_t(data[2]) | (uint64_t(data[3]) << 8) | (uint64_t(data[4]) << 16) |
                        (uint64_t(data[5]) << 24);
    // Up to 512 KiB of output: enough for matches across a 64 KiB window's wrap.
    unpacked &= 0x7FFFF;
    quorbel::fuzz::RunEngineBothWays(
        [&](quorbel::engines::ByteSource& in, uint64_t n, quorbel::engines::OutputSink& out) {
            return quorbel::ace::UnpackAce(method, params, in, n, out);
        },
        data + 6, size - 6, unpacked);
    return 0;
}
