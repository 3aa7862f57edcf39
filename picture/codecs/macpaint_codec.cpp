#include "picture/codecs/macpaint_codec.h"

#include <vector>

#include "picture/codecs/codec_reader.h"

namespace quorbel {

CMacPaintFormat::CMacPaintFormat() : CGraphicsFormat("MAC", "MacPaint (MAC)", "MAC - MacPaint (*.mac)|*.mac|") {}

namespace {

constexpr int kZeroedFrom = 308;  // the header's bytes from here to its end are all 0

// Unpacks one row: PackBits until 72 bytes are there; bytes of a run past them are dropped.
bool UnpackRow(CodecReader& in, uint8_t* row) {
    int filled = 0;
    while (filled < CMacPaintFormat::kRowBytes) {
        const int control = in.Get();
        if (control < 0) return false;
        const int n = int(int8_t(control));
        const int room = CMacPaintFormat::kRowBytes - filled;
        if (n >= 0) {
            const int count = n + 1, kept = std::min(count, room);
            if (!in.ReadExact(row + filled, size_t(kept))) return false;
            if (count > kept && !in.Skip(uint64_t(count - kept))) return false;
            filled += kept;
        } else if (n != -128) {
            const int value = in.Get();
            if (value < 0) return false;
            const int kept = std::min(1 - n, room);
            std::memset(row + filled, value, size_t(kept));
            filled += kept;
        }
    }
    return true;
}

}  // namespace

bool CMacPaintFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CMacPaintFormat::Load() {
    const int64_t size = stream_->Size();
    if (size < kHeaderSize || size > kLargestFile) return false;
    CodecReader in(*stream_);
    uint8_t header[kHeaderSize];
    if (!in.ReadExact(header, kHeaderSize)) return false;
    for (int i = kZeroedFrom; i < kHeaderSize; ++i)
        if (header[i] != 0) return false;
    width_ = kWidth;
    height_ = kHeight;
    depth_ = 1;
    info_text_ = "MAC - MacPaint File Format. Palette : Monochrome. Compression : Run Length Encoding";

    uint8_t row[kRowBytes];
    if (!picture_) {
        // Without a signature, a file is taken for MacPaint only when all its rows are there.
        for (int y = 0; y < kHeight; ++y)
            if (!UnpackRow(in, row)) return false;
        return true;
    }
    if (!picture_->Create(kWidth, kHeight)) return false;
    picture_->SetPaletteSize(2);
    picture_->SetPaletteEntry(0, Bgr{255, 255, 255});
    picture_->SetDepth(1);
    ProgressLevel level(*sink_);
    sink_->SetRange(0, kHeight, true);
    for (int y = 0; y < kHeight; ++y) {
        if (y % 10 == 0 && sink_->SetPos(y, true) == 0) return false;
        if (!UnpackRow(in, row)) return false;
        uint8_t* d = picture_->Row(y);
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t v = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
            d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = v;
        }
    }
    return true;
}

}  // namespace quorbel
