// The CAB handler's reading path: the listing from the header and file table, then every
// member unpacked into memory through the cabinet layer (linked in here rather than loaded).
#include <string>

#include "formats/cab/cab_archive.h"
#include "formats/cab/cab_library.h"
#include "formats/cab/fdi/fdi.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool bound = [] {
        quorbel::cab::UseLinkedCabinetLayer({&FDICreate, &FDICopy, &FDIIsCabinet, &FDIDestroy});
        return true;
    }();
    (void)bound;
    static const std::string path = std::string(quorbel::fuzz::Scratch()).append("/fuzz.cab");
    if (!quorbel::fuzz::WriteBytes(path, data, size)) return 0;
    // One handler for the run: its constructor makes scratch folders.
    static quorbel::CabArchive handler;
    if (handler.Open(path) == 1) {
        for (size_t i = 0; i < handler.EntryCount(); ++i) {
            int status = 0;
            quorbel::MemoryBlock block = handler.UnpackEntry(handler.Entry(i), status);
            if (block && handler.Entry(i).is_file && int64_t(block.size) != handler.Entry(i).unpacked)
                __builtin_trap();
        }
    }
    handler.Close();
    return 0;
}
