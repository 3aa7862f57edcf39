// The portable anymap decoder: each of its three instances inspects and loads the bytes, under
// a small pixel budget.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/pnm_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CPbmFormat pbm;
    static CPgmFormat pgm;
    static CPpmFormat ppm;
    for (CGraphicsFormat* codec : {static_cast<CGraphicsFormat*>(&pbm), static_cast<CGraphicsFormat*>(&pgm),
                                   static_cast<CGraphicsFormat*>(&ppm)}) {
        DataStream stream;
        stream.AttachMemory(data, size);
        stream.SetName("fuzz.pnm");
        int w, h, d;
        std::string text;
        codec->GetInfo(stream, &w, &h, &d, &text);
        CPicture picture;
        codec->LoadPicture(stream, picture, nullptr);
    }
    return 0;
}
