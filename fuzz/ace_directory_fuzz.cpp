// The ACE directory from memory, then every member it lists unpacked in archive order through
// one decoder (as a solid archive is), each within a budget.
#include <algorithm>

#include "core/data_stream.h"
#include "formats/ace/ace_directory.h"
#include "formats/ace/ace_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorbel::DataStream stream;
    if (!stream.AttachMemory(data, size)) return 0;
    quorbel::ace::AceDirectory dir;
    int calls = 0;
    // No file of this name exists: a member that continues ends the listing as incomplete.
    quorbel::ace::ReadAceDirectory(stream, "/nonexistent/fuzz.ace", dir, [&](int64_t) { return ++calls < 100000; });
    int bits = quorbel::ace::kMinDictionaryBits;
    uint64_t total = 0;
    for (const auto& m : dir.members) {
        bits = std::max(bits, m.DictionaryBits());
        total += std::min<uint64_t>(m.unpacked_size, quorbel::fuzz::kOutputBudget);
    }
    quorbel::ace::AceDecoder decoder(bits, total);
    for (const auto& m : dir.members) {
        if (m.is_folder || m.encrypted || !m.complete || m.segments.size() != 1) continue;
        const auto& s = m.segments[0];
        if (s.data_offset < 0 || uint64_t(s.data_offset) + s.packed_size > size) std::abort();
        quorbel::engines::StreamSource source(stream, s.data_offset, s.packed_size);
        quorbel::engines::MemorySink sink(std::min<uint64_t>(m.unpacked_size, quorbel::fuzz::kOutputBudget));
        decoder.Unpack(m.method, source, m.unpacked_size, sink);
    }
    return 0;
}
