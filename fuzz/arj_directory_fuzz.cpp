// The ARJ directory from memory, then every member it lists unpacked within a budget, and its
// header read again.
#include "core/data_stream.h"
#include "formats/arj/arj_directory.h"
#include "formats/arj/arj_unpack.h"
#include "fuzz/engine_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorbel::DataStream stream;
    if (!stream.AttachMemory(data, size)) return 0;
    quorbel::arj::ArjDirectory dir;
    int calls = 0;
    quorbel::arj::ReadArjDirectory(stream, dir, [&](int64_t) { return ++calls < 100000; });
    for (const auto& m : dir.members) {
        quorbel::arj::ArjMember again;
        if (!quorbel::arj::ReadArjMemberAt(stream, m.header_offset, again)) std::abort();
        if (!m.is_file || m.encrypted || m.data_offset > int64_t(size)) continue;
        quorbel::engines::StreamSource source(stream, m.data_offset, m.packed_size);
        quorbel::engines::MemorySink sink(std::min<uint64_t>(m.unpacked_size, quorbel::fuzz::kOutputBudget));
        quorbel::arj::UnpackArj(m.method, source, m.unpacked_size, sink);
    }
    return 0;
}
