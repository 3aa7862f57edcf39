// The BMP codec alone: every registry row it serves, the header reader, the packed-DIB reader
// on the same bytes (without and with the file header), and the writer's round trip.
#include <cstdint>

#include "core/data_stream.h"
#include "fuzz/fuzz_support.h"
#include "picture/codecs/bmp_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    SetPixelBudget(uint64_t(1) * 1024 * 1024);
    static CBmpBmpFormat bmp;
    static CBmpDibFormat dib;
    DataStream stream;
    stream.AttachMemory(data, size);
    stream.SetName("fuzz.bmp");
    CPicture picture;
    if (bmp.LoadPicture(stream, picture, nullptr)) {
        // Whatever loads is written and read back.
        DataStream out;
        if (out.CreateMemory(1024) && WriteBmp24(out, picture, nullptr)) {
            DataStream back;
            back.AttachMemory(out.MemoryData(), size_t(out.Tell()));
            CPicture again;
            bmp.LoadPicture(back, again, nullptr);
        }
    }
    int w, h, d;
    std::string text;
    dib.GetInfo(stream, &w, &h, &d, &text);
    stream.Rewind();
    BmpHeaders headers;
    ReadBmpHeaders(stream, headers);
    CPicture packed;
    packed.FromPackedDib(data, size);
    if (size > 14) packed.FromPackedDib(data + 14, size - 14);
    return 0;
}
