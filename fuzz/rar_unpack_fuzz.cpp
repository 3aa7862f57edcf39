// The RAR engines alone: byte 0 picks the method (bit 0: 1.5 or 2.0) and whether a second
// member continues the first as in a solid archive (bit 1), bytes 1-3 the unpacked size, the
// rest packed data.
#include "formats/rar/rar_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int version = (data[0] & 1) ? 20 : 15;
    const bool solid = (data[0] & 2) != 0;
    uint64_t unpacked = uint64_t(data[1]) | (uint64_t(data[2]) << 8) | (uint64_t(data[3]) << 16);
    // Up to 4 MiB: past the 2 MiB window's wrap.
    unpacked &= 0x3FFFFF;
    quorbel::fuzz::RunEngineBothWays(
        [&](quorbel::engines::ByteSource& in, uint64_t n, quorbel::engines::OutputSink& out) {
            // A fresh decoder per run, so both runs start alike; with `solid` the same bytes
            // are decoded a second time from the state the first left.
            quorbel::rar::RarDecoder decoder;
            auto r = decoder.Unpack(version, 0x33, false, in, n, out);
            if (solid && r == quorbel::engines::UnpackStatus::Ok) {
                quorbel::engines::MemorySink again(quorbel::fuzz::kOutputBudget);
                quorbel::engines::SpanSource none(nullptr, 0);
                decoder.Unpack(version, 0x33, true, none, 64, again);
            }
            return r;
        },
        data + 4, size - 4, unpacked);
    return 0;
}
