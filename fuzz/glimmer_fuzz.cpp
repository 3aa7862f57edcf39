// The GLC and GLS codecs, load and inspect, and the writers' round trip of what loads.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/glimmer_codecs.h"

namespace {

void Exercise(quorbel::CGraphicsFormat& codec, const uint8_t* data, size_t size) {
    using namespace quorbel;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz");
    int w, h, d;
    std::string text;
    codec.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    if (!codec.LoadPicture(stream, picture, nullptr)) return;
    for (const std::vector<uint8_t>& bytes : {EncodeGlc(picture), EncodeGls(picture)}) {
        if (bytes.empty()) continue;
        DataStream back;
        back.AttachMemory(bytes.data(), bytes.size());
        CPicture again;
        codec.LoadPicture(back, again, nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CGlcFormat glc;
    static CGlsFormat gls;
    Exercise(glc, data, size);
    Exercise(gls, data, size);
    return 0;
}
