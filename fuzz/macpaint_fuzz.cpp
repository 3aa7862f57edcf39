// The MacPaint decoder alone: inspect, then load what it accepts, under a small pixel budget.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/macpaint_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CMacPaintFormat codec;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.mac");
    int w, h, d;
    std::string text;
    codec.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    codec.LoadPicture(stream, picture, nullptr);
    return 0;
}
