// The picture dispatcher: both passes over every codec of the registry, load and inspect mode,
// a picture reused from one input to the next (as the views reuse theirs), then the thumbnail
// made from whatever loaded. The first byte chooses the stream's name, so the extension pass
// reaches every codec too.
#include <cstdint>
#include <string>

#include "app/ops/thumbnails.h"
#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/format_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    // Pictures up to 1 Mi pixels: larger ones only cost the fuzzer time and memory (a few
    // hundred bytes of RLE make a picture of millions of pixels, legitimately).
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static const char* const kNames[] = {"fuzz.bmp", "fuzz.rle", "fuzz.os2", "fuzz.dib", "fuzz.glc",
                                         "fuzz.gls", "fuzz.gif", "fuzz.png", "fuzz.jpeg", "fuzz"};
    if (size < 1) return 0;
    const std::string name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
    ++data;
    --size;
    static CPicture reused;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName(name);
    int w = 0, h = 0, d = 0;
    std::string text;
    const bool inspected = LoadFromStream(stream, nullptr, nullptr, false, &w, &h, &d, &text);
    const bool loaded = LoadFromStream(stream, &reused, nullptr, true);
    if (loaded) {
        // What the thumbnail of a member does with it.
        CPicture copy;
        if (copy.CopyFrom(reused)) {
            ArchiveHandler::ThumbnailImage image;
            RenderThumbnail(copy, image, nullptr);
        }
    }
    (void)inspected;
    return 0;
}
