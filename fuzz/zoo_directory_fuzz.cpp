// The ZOO directory from memory, then every member it lists unpacked within a budget.
#include "core/data_stream.h"
#include "formats/zoo/zoo_directory.h"
#include "formats/zoo/zoo_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorbel::DataStream stream;
    if (!stream.AttachMemory(data, size)) return 0;
    quorbel::zoo::ZooDirectory dir;
    quorbel::zoo::ReadZooDirectory(stream, dir);
    int64_t previous = -1;
    for (const auto& m : dir.members) {
        if (m.header_offset <= previous) std::abort();  // forward only: no loop
        previous = m.header_offset;
        (void)m.Path('\\');
        quorbel::engines::StreamSource source(stream, m.data_offset, m.packed_size);
        quorbel::engines::MemorySink sink(std::min<uint64_t>(m.unpacked_size, quorbel::fuzz::kOutputBudget));
        quorbel::zoo::UnpackZoo(m.method, source, m.unpacked_size, sink);
    }
    return 0;
}
