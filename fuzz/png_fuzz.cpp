// The PNG decoder alone: a load (which also exercises the inflater and every filter), the
// header-only read, and the inflater on the raw bytes.
#include <cstdint>
#include <vector>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/png_codec.h"
#include "picture/codecs/png_inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CPngFormat png;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.png");
    CPicture picture;
    png.LoadPicture(stream, picture, nullptr);
    int w, h, d;
    std::string text;
    png.GetInfo(stream, &w, &h, &d, &text);
    // The inflater straight on the input, with an output size taken from its first bytes.
    if (size > 2) {
        const size_t out_size = (size_t(data[0]) << 8 | data[1]) * 4;
        std::vector<uint8_t> out(out_size + kInflateSlack);
        size_t produced = 0, consumed = 0;
        InflateRaw(data + 2, size - 2, out.data(), out_size, produced, consumed);
    }
    return 0;
}
