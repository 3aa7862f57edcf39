// The WMF codec, placeable or plain by the data itself: inspect, then load.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/metafile_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CWmfFormat wmf;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.wmf");
    int w, h, d;
    std::string text;
    wmf.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    wmf.LoadPicture(stream, picture, nullptr);
    return 0;
}
