// The format table over arbitrary bytes: every opener in its order, under several extensions,
// (the ARJ, LHA and ZOO seeds are copies of the engine seeds of make_engine_seeds.py; jar-signature.j
// carries the JAR signature at offset 14, so the JAR opener looks for its archiver),
// and the extension-and-end-record check of IsArchiveFile.
#include "core/archive_handler.h"
#include "formats/format_table.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    const std::string& folder = fuzz::Scratch();
    static const char* const kNames[] = {"input", "input.zip", "input.tar", "input.gz",
                                         "input.uue", "input.tgz", "input.exe", "input.xxe"};
    // The last byte picks the name, so the same contents meet every extension rule.
    const std::string path = folder + "/" + kNames[size ? data[size - 1] % 8 : 0];
    fuzz::EmptyFolder(folder);
    if (!fuzz::WriteBytes(path, data, size)) return 0;
    IsArchiveFile(path);
    IsKnownFile(path);
    int status = 0;
    std::string message;
    std::unique_ptr<ArchiveHandler> handler = OpenArchiveFile(path, status, nullptr, &message);
    if (handler) fuzz::ExerciseOpenArchive(*handler);
    return 0;
}
