// The TAR reader from memory: directory, texts, and the Test path with and without a password.
#include "fuzz/fuzz_support.h"
#include "formats/tar_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorbel::fuzz::Scratch();
    // One handler for the run: its constructor makes scratch folders, which a run of millions
    // of inputs should not repeat.
    static quorbel::TarArchive handler;
    quorbel::fuzz::OpenAndExercise(handler, data, size, "fuzz.tar");
    return 0;
}
