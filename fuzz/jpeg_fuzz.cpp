// The JPEG codec alone: the registry row's load and header read, and the decoder at every
// reduced scale with either chroma upsampling (the first byte picks the options, so the corpus
// reaches them all).
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    if (size < 1) return 0;
    static CJpegFormat jpeg;
    JpegOptions options;
    options.scale = 1 << (data[0] & 3);
    options.fancy_upsampling = (data[0] & 4) == 0;
    options.strict_component_ids = (data[0] & 8) != 0;
    jpeg.SetOptions(options);
    DataStream stream;
    stream.AttachMemory(data + 1, size - 1);
    stream.SetName("fuzz.jpg");
    CPicture picture;
    if (jpeg.LoadPicture(stream, picture, nullptr)) {
        // A loaded picture is whole: every row reachable.
        volatile uint8_t sink = 0;
        for (int y = 0; y < picture.Height(); ++y) sink = sink + picture.Row(y)[3 * (picture.Width() - 1)];
    }
    int w, h, d;
    std::string text;
    jpeg.GetInfo(stream, &w, &h, &d, &text);
    return 0;
}
