// The clipboard-file codec: inspect, then load (the packed bitmap through FromPackedDib).
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/clp_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CClpFormat clp;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.clp");
    int w, h, d;
    std::string text;
    clp.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    clp.LoadPicture(stream, picture, nullptr);
    return 0;
}
