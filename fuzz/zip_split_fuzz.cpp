// The split-set ZIP reader: the input is cut into NAME.z01 … NAME.zip on disk and opened as one
// archive. The first byte chooses the number of parts, then three bytes per cut give its offset.
#include <algorithm>

#include "core/zip/zip_archive.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    const std::string& folder = fuzz::Scratch();
    static ZipArchive handler;
    if (size < 1) return 0;
    const size_t parts = 1 + data[0] % 4;
    const size_t header = 1 + 3 * (parts - 1);
    if (size < header) return 0;
    const uint8_t* body = data + header;
    const size_t body_size = size - header;
    std::vector<size_t> cuts;
    for (size_t i = 0; i + 1 < parts; ++i)
        cuts.push_back(std::min(body_size, (size_t(data[1 + 3 * i]) << 16) |
                                               (size_t(data[2 + 3 * i]) << 8) | data[3 + 3 * i]));
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(body_size);

    fuzz::EmptyFolder(folder);
    size_t start = 0;
    for (size_t i = 0; i < parts; ++i) {
        char name[32];
        if (i + 1 < parts)
            std::snprintf(name, sizeof name, "/set.z%02zu", i + 1);
        else
            std::snprintf(name, sizeof name, "/set.zip");
        fuzz::WriteBytes(folder + name, body + start, cuts[i] - start);
        start = cuts[i];
    }
    handler.Close();
    if (handler.Open(folder + "/set.zip") == 1) fuzz::ExerciseOpenArchive(handler);
    handler.Close();
    return 0;
}
