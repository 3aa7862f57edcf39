// The LHA directory from memory, then every member it lists unpacked within a budget.
#include "core/data_stream.h"
#include "formats/lha/lha_directory.h"
#include "formats/lha/lha_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorbel::DataStream stream;
    if (!stream.AttachMemory(data, size)) return 0;
    quorbel::lha::LhaDirectory dir;
    quorbel::lha::ReadLhaDirectory(stream, dir);
    int64_t previous = -1;
    for (const auto& m : dir.members) {
        // The chain only moves forward.
        if (m.header_offset <= previous) std::abort();
        previous = m.header_offset;
        (void)m.Path('\\');
        if (m.is_folder || m.data_offset > int64_t(size)) continue;
        quorbel::engines::StreamSource source(stream, m.data_offset, m.packed_size);
        quorbel::engines::MemorySink sink(std::min<uint64_t>(m.unpacked_size, quorbel::fuzz::kOutputBudget));
        quorbel::lha::UnpackLha(m.method, source, m.unpacked_size, sink);
    }
    return 0;
}
