// The PSD codec alone: inspect, then load.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/psd_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CPsdFormat psd;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.psd");
    int w, h, d;
    std::string text;
    psd.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    psd.LoadPicture(stream, picture, nullptr);
    return 0;
}
