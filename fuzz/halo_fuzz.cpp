// The Dr. Halo decoder: the bytes in memory, then as a file beside a companion palette file made
// of the same bytes (so the palette reader sees them too), under a small pixel budget.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/halo_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CHaloFormat codec;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.cut");
    int w, h, d;
    std::string text;
    codec.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    codec.LoadPicture(stream, picture, nullptr);

    const std::string picture_path = fuzz::Scratch() + "/fuzz.cut";
    if (!fuzz::WriteBytes(picture_path, data, size) || !fuzz::WriteBytes(fuzz::Scratch() + "/fuzz.PAL", data, size))
        return 0;
    DataStream file;
    if (file.OpenFile(picture_path, true)) {
        CPicture from_file;
        codec.LoadPicture(file, from_file, nullptr);
    }
    return 0;
}
