#include "formats/arj/arj_unpack.h"

#include "formats/arj/arj_directory.h"
#include "formats/engines/crc16.h"
#include "formats/engines/lzh_decoder.h"

namespace quorbel::arj {

using engines::BitReader;
using engines::UnpackStatus;

namespace {

constexpr size_t kWindowSize = size_t(1) << 16;
constexpr int kMinMatch = 3;

// Method 4's numbers: a unary prefix of up to `stop - start` one bits picks a width from
// `start` bits up; the value is the sum of the ranges skipped plus that many bits.
inline uint32_t ReadUnaryPrefixed(BitReader& br, int start, int stop) {
    uint32_t value = 0, range = 1u << start;
    int width = start;
    for (; width < stop; ++width) {
        if (!br.ReadBit()) break;
        value += range;
        range <<= 1;
    }
    return value + br.Read(width);
}

UnpackStatus DecodeFast(engines::ByteSource& input, uint64_t unpacked_size,
                        engines::OutputSink& output) {
    BitReader br(input);
    engines::LzWindow window(kWindowSize, 0, output, unpacked_size);
    uint32_t checked = 0;
    while (window.Left()) {
        uint32_t length = ReadUnaryPrefixed(br, 0, 7);
        if (length == 0) {
            window.PutByte(uint8_t(br.Read(8)));
        } else {
            uint32_t distance = ReadUnaryPrefixed(br, 9, 13);
            window.CopyMatch(distance, length - 1 + kMinMatch);
        }
        // Damaged input reads as zeros, which decode as literals: stop soon after the end.
        if (++checked == 4096) {
            checked = 0;
            if (br.Overrun()) return UnpackStatus::Corrupt;
        }
    }
    if (window.Cancelled() || !window.Finish()) return UnpackStatus::Cancelled;
    return br.Overrun() ? UnpackStatus::Corrupt : UnpackStatus::Ok;
}

}  // namespace

bool ArjMethodSupported(int method) { return method >= 0 && method <= 4; }

UnpackStatus UnpackArj(int method, engines::ByteSource& input, uint64_t unpacked_size,
                       engines::OutputSink& output) {
    switch (method) {
    case 0: return engines::CopyStored(input, unpacked_size, output);
    case 1:
    case 2:
    case 3: return engines::DecodeLzh(engines::kArjLzh, input, unpacked_size, output);
    case 4: return DecodeFast(input, unpacked_size, output);
    default: return UnpackStatus::Unsupported;
    }
}

engines::MemberUnpack UnpackArjMember(DataStream& stream, int64_t header_offset,
                                      engines::OutputSink& output, ArjMember* header) {
    engines::MemberUnpack r;
    ArjMember m;
    if (!ReadArjMemberAt(stream, header_offset, m)) return r;
    r.header_ok = true;
    if (header) *header = m;
    if (m.encrypted || !m.is_file || !ArjMethodSupported(m.method)) {
        r.status = UnpackStatus::Unsupported;
        return r;
    }
    engines::CheckingSink check(&output);
    engines::StreamSource source(stream, m.data_offset, m.packed_size);
    r.status = UnpackArj(m.method, source, m.unpacked_size, check);
    r.size = check.Count();
    r.crc = check.Crc32();
    r.crc_ok = r.status == UnpackStatus::Ok && r.crc == m.crc32 && r.size == m.unpacked_size;
    return r;
}

}  // namespace quorbel::arj
