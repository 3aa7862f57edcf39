// The TIFF codec alone: inspect and load, then the LZW strip decoder on the raw bytes (either
// bit packing, as the leading bytes choose) into an output whose size the first byte sets.
#include <cstdint>
#include <vector>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/tiff_codec.h"
#include "picture/codecs/tiff_lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CTiffFormat tiff;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.tif");
    int w, h, d;
    std::string text;
    tiff.GetInfo(stream, &w, &h, &d, &text);
    CPicture picture;
    tiff.LoadPicture(stream, picture, nullptr);
    if (size > 2) {
        std::vector<uint8_t> out(size_t(data[0]) * 37 + 1);
        size_t written = 0;
        LzwDecode(data + 1, size - 1, out.data(), out.size(), written);
    }
    return 0;
}
