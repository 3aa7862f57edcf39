#include "picture/codecs/bmp_codec.h"

namespace quorbel {

CBmpBmpFormat::CBmpBmpFormat()
    : CBmpFormat("BMP", "Windows bitmap (BMP)", "BMP - Windows Bitmap (*.bmp)|*.bmp|") {}
CBmpRleFormat::CBmpRleFormat()
    : CBmpFormat("RLE", "Windows compressed bitmap (RLE)", "RLE - Windows (*.rle)|*.rle;*.bmp|") {}
CBmpOs2Format::CBmpOs2Format()
    : CBmpFormat("OS2", "OS2 Bitmap (OS2,BMP)", "OS2 - OS2 Bitmap (*.os2)|*.os2|") {}
CBmpDibFormat::CBmpDibFormat()
    : CBmpFormat("DIB", "Windows Device-Independent Bitmap (DIB)", "DIB - Device-independent bitmap (*.dib)|*.dib|") {}

bool ReadBmpHeaders(DataStream&, BmpHeaders&) { return false; }
bool CBmpFormat::Load() { return false; }
bool CBmpFormat::ReadInfo() { return false; }
bool WriteBmp24(DataStream&, const CPicture&, ProgressSink*) { return false; }

}  // namespace quorbel
