// ZOO's decompression engines: method 0 (stored), 1 (LZW, 9 to 13 bits, codes packed least
// significant bit first) and 2 (LHA's -lh5-).
#pragma once

#include <cstdint>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::zoo {

// Dictionary of method 1: 8192 codes; method 2: an 8 KiB window.
inline constexpr uint32_t kLzwCodes = 8192;

bool ZooMethodSupported(int method);

// Decodes exactly `unpacked_size` bytes of a member packed with `method` from `input` into
// `output`; the CRC-16 is the caller's to check.
engines::UnpackStatus UnpackZoo(int method, engines::ByteSource& input, uint64_t unpacked_size,
                                engines::OutputSink& output);

struct ZooMember;

// Unpacks a listed member into `output` and compares its CRC-16.
engines::MemberUnpack UnpackZooMember(DataStream& stream, const ZooMember& member,
                                      engines::OutputSink& output);

}  // namespace quorbel::zoo
