// The RAR directory from memory, then every member it lists unpacked in order (solid members
// continuing the state) within a budget.
#include "core/data_stream.h"
#include "formats/rar/rar_directory.h"
#include "formats/rar/rar_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorbel::DataStream stream;
    if (!stream.AttachMemory(data, size)) return 0;
    quorbel::rar::RarDirectory dir;
    int calls = 0;
    quorbel::rar::ReadRarDirectory(stream, dir, [&](int64_t) { return ++calls < 100000; });
    quorbel::rar::RarDecoder decoder;
    bool decoded = false;
    for (const auto& m : dir.members) {
        if (m.parts.empty() || m.parts.front().volume != 0) std::abort();
        if (m.is_folder || m.encrypted || !m.complete) continue;
        const auto& part = m.parts.front();
        if (part.data_offset > int64_t(size) || part.packed_size > size - uint64_t(part.data_offset)) std::abort();
        quorbel::engines::StreamSource source(stream, part.data_offset, part.packed_size);
        quorbel::engines::MemorySink sink(std::min<uint64_t>(m.unpacked_size, quorbel::fuzz::kOutputBudget));
        uint64_t unpacked = std::min<uint64_t>(m.unpacked_size, 4 * quorbel::fuzz::kOutputBudget);
        decoder.Unpack(m.version, m.method, decoded && m.solid, source, unpacked, sink);
        decoded = true;
    }
    return 0;
}
