// The GIF decoder alone: a load and the header-only read.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/gif_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CGifFormat gif;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.gif");
    CPicture picture;
    gif.LoadPicture(stream, picture, nullptr);
    int w, h, d;
    std::string text;
    gif.GetInfo(stream, &w, &h, &d, &text);
    return 0;
}
