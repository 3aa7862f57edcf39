#include "picture/codecs/clp_codec.h"

#include <cstdlib>
#include <vector>

#include "core/byte_reader.h"

namespace quorbel {

CClpFormat::CClpFormat() : CGraphicsFormat("CLP", "Windows Clipboard (CLP)", "CLP - Windows Clipboard (*.clp)|*.clp|") {}

namespace {

constexpr uint8_t kIdentifier[4] = {0x50, 0xC3, 0x01, 0x00};  // file identifier 0xC350, one format
constexpr uint16_t kFormatDib = 8;
constexpr uint32_t kFirstDataOffset = 14;  // the data can begin no earlier than after its entry
constexpr uint32_t kInfoHeaderSize = 40;

}  // namespace

bool CClpFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CClpFormat::Load() {
    stream_->Rewind();
    uint8_t head[14];
    if (!ReadExact(head, sizeof head)) return false;
    for (int i = 0; i < 4; ++i)
        if (head[i] != kIdentifier[i]) return false;
    if (Le16(head + 4) != kFormatDib) return false;
    const uint32_t length = Le32(head + 6), offset = Le32(head + 10);
    if (length == 0 || offset < kFirstDataOffset) return false;
    // The data must lie inside the file: its length is never trusted for an allocation.
    const int64_t size = stream_->Size();
    if (size < 0 || int64_t(offset) > size || int64_t(length) > size - int64_t(offset)) return false;
    if (length < kInfoHeaderSize) return false;
    if (stream_->Seek(offset, DataStream::Origin::Start) != int64_t(offset)) return false;

    uint8_t info[kInfoHeaderSize];
    if (!ReadExact(info, sizeof info)) return false;
    const int64_t width = int32_t(Le32(info + 4));
    const int64_t height = std::llabs(int64_t(int32_t(Le32(info + 8))));
    if (Le32(info) < kInfoHeaderSize || !PictureSizeAllowed(width, height)) return false;
    width_ = int(width), height_ = int(height), depth_ = Le16(info + 14);
    info_text_ = "Windows Clipboard (CLP)";
    if (!picture_) return true;

    std::vector<uint8_t> dib(length);
    std::copy(info, info + kInfoHeaderSize, dib.begin());
    if (!ReadExact(dib.data() + kInfoHeaderSize, length - kInfoHeaderSize)) return false;
    if (!picture_->FromPackedDib(dib.data(), dib.size())) return false;
    return true;
}

}  // namespace quorbel
