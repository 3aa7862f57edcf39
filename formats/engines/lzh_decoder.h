// The static-Huffman LZ77 of LHA's -lh4- to -lh7-, ARJ's methods 1 to 3 and ZOO's method 2:
// blocks of a 16-bit symbol count, a code-length code, the literal/length code and the
// distance code, as LHA 2 introduced it. The methods differ only in the widest distance.
#pragma once

#include <cstdint>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel::engines {

struct LzhParams {
    int dict_bits;   // log2 of the largest distance + 1: 12 (-lh4-), 13 (-lh5-), 15, 16
    int pbit;        // width of the distance code's symbol count: 4 up to -lh5-, else 5
    uint8_t fill;    // what the window holds before the first byte
};

inline constexpr LzhParams kLh4{12, 4, 0x20};
inline constexpr LzhParams kLh5{13, 4, 0x20};
inline constexpr LzhParams kLh6{15, 5, 0x20};
inline constexpr LzhParams kLh7{16, 5, 0x20};
// ARJ's methods 1-3: a 26,624-byte dictionary coded like -lh7-'s 64 KiB one.
inline constexpr LzhParams kArjLzh{16, 5, 0x00};

UnpackStatus DecodeLzh(const LzhParams& params, ByteSource& input, uint64_t unpacked_size,
                       OutputSink& output);

}  // namespace quorbel::engines
