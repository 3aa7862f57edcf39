#include "formats/engines/lzh_decoder.h"

#include <cstring>

#include "formats/engines/huffman.h"

namespace quorbel::engines {

namespace {

constexpr int kMaxMatch = 256;
constexpr int kLiteralCodes = 256 + kMaxMatch - 2;  // literals and lengths 3..256
constexpr int kCodeLengthCodes = 19;                // code lengths 0..16 and three run codes
constexpr int kMaxLength = 16;
constexpr int kMaxDistanceCodes = 17 + 1;
// Wider than any distance of these methods, so the window is flushed rarely.
constexpr size_t kWindowSize = size_t(1) << 18;

// Lengths of the code-length code (and of the distance code): 3 bits, 7 continued in unary;
// with `special` >= 0, a 2-bit run of zero lengths follows the first `special` ones.
bool ReadSmallLengths(BitReader& br, int count, int count_bits, int special, HuffmanTable& table) {
    int n = int(br.Read(count_bits));
    if (n == 0) {
        int symbol = int(br.Read(count_bits));
        if (symbol >= count) return false;
        table.BuildSingle(uint16_t(symbol));
        return true;
    }
    if (n > count) return false;
    uint8_t lengths[kMaxDistanceCodes + kCodeLengthCodes] = {};
    int i = 0;
    while (i < n) {
        int length = int(br.Read(3));
        if (length == 7) {
            while (br.ReadBit()) {
                if (++length > kMaxLength) return false;
            }
        }
        lengths[i++] = uint8_t(length);
        if (i == special) {
            int zeros = int(br.Read(2));
            i += zeros;
            if (i > count) return false;
        }
    }
    if (br.Overrun()) return false;
    auto result = table.Build(lengths, size_t(count), kMaxLength, 8, /*allow_incomplete=*/true);
    return result == HuffmanTable::BuildResult::Ok;
}

bool ReadLiteralLengths(BitReader& br, const HuffmanTable& length_code, HuffmanTable& table) {
    int n = int(br.Read(9));
    if (n == 0) {
        int symbol = int(br.Read(9));
        if (symbol >= kLiteralCodes) return false;
        table.BuildSingle(uint16_t(symbol));
        return true;
    }
    if (n > kLiteralCodes) return false;
    uint8_t lengths[kLiteralCodes] = {};
    int i = 0;
    while (i < n) {
        int c = length_code.Decode(br);
        if (c < 0) return false;
        if (c <= 2) {
            int zeros = c == 0 ? 1 : c == 1 ? int(br.Read(4)) + 3 : int(br.Read(9)) + 20;
            if (i + zeros > kLiteralCodes) return false;
            i += zeros;
        } else {
            lengths[i++] = uint8_t(c - 2);
        }
        if (br.Overrun()) return false;
    }
    auto result = table.Build(lengths, kLiteralCodes, kMaxLength, 12, /*allow_incomplete=*/true);
    return result == HuffmanTable::BuildResult::Ok;
}

}  // namespace

UnpackStatus DecodeLzh(const LzhParams& params, ByteSource& input, uint64_t unpacked_size,
                       OutputSink& output) {
    if (params.dict_bits < 12 || params.dict_bits > 16 || params.pbit < 4 || params.pbit > 5)
        return UnpackStatus::Unsupported;
    const int distance_codes = params.dict_bits + 1;
    BitReader br(input);
    LzWindow window(kWindowSize, params.fill, output, unpacked_size);
    HuffmanTable length_code, literals, distances;

    while (window.Left()) {
        // A block of 0 symbols stands for 65,536, as the format's first decoder read it.
        uint32_t symbols = br.Read(16);
        if (symbols == 0) symbols = 65536;
        if (!ReadSmallLengths(br, kCodeLengthCodes, 5, 3, length_code) ||
            !ReadLiteralLengths(br, length_code, literals) ||
            !ReadSmallLengths(br, distance_codes, params.pbit, -1, distances))
            return UnpackStatus::Corrupt;
        // Fast loop: one refill check per symbol (a code, a distance code and its extra bits
        // take at most 47 bits) and no flush or clip check while the window has room for the
        // longest match.
        while (symbols && window.Left()) {
            size_t room = window.FastRoom();
            if (room <= kMaxMatch + 8) {
                // Near a flush or the end: one symbol the careful way.
                --symbols;
                int c = literals.Decode(br);
                if (c < 256) {
                    if (c < 0) return UnpackStatus::Corrupt;
                    window.PutByte(uint8_t(c));
                    continue;
                }
                int d = distances.Decode(br);
                if (d < 0) return UnpackStatus::Corrupt;
                size_t distance = d <= 1 ? size_t(d) : (size_t(1) << (d - 1)) + br.Read(d - 1);
                window.CopyMatch(distance, size_t(c - 256 + 3));
                continue;
            }
            uint8_t* const out = window.Data();
            const size_t mask = window.Size() - 1, size = window.Size();
            const size_t start = window.Position();
            size_t pos = start;
            const size_t limit = start + room - kMaxMatch - 8;
            while (symbols && pos < limit) {
                --symbols;
                br.Ensure(47);
                int c = literals.DecodeFast(br);
                if (c < 256) {
                    if (c < 0) return UnpackStatus::Corrupt;
                    out[pos++] = uint8_t(c);
                    continue;
                }
                size_t length = size_t(c - 256 + 3);
                int d = distances.DecodeFast(br);
                if (d < 0) return UnpackStatus::Corrupt;
                size_t distance = d <= 1 ? size_t(d) : (size_t(1) << (d - 1)) + br.PeekFast(d - 1);
                if (d > 1) br.Consume(d - 1);
                size_t src = (pos - distance - 1) & mask;
                uint8_t* dst = out + pos;
                if (distance >= 7 && src + length + 8 <= size) {
                    // Eight bytes at a time: each word reads bytes already written, or (a
                    // distance near the window size) the ring's oldest bytes just ahead, where
                    // memmove keeps the byte-by-byte result.
                    const uint8_t* from = out + src;
                    for (size_t i = 0; i < length; i += 8) std::memmove(dst + i, from + i, 8);
                } else if (distance == 0) {
                    std::memset(dst, out[src], length);
                } else {
                    for (size_t i = 0; i < length; ++i) dst[i] = out[(src + i) & mask];
                }
                pos += length;
            }
            window.Advance(pos - start);
        }
        if (br.Overrun()) return UnpackStatus::Corrupt;
    }
    if (window.Cancelled() || !window.Finish()) return UnpackStatus::Cancelled;
    return br.Overrun() ? UnpackStatus::Corrupt : UnpackStatus::Ok;
}

}  // namespace quorbel::engines
