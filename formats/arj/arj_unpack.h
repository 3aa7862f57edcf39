// ARJ's decompression engine: method 0 (stored), 1-3 (the static-Huffman LZ77 it shares with
// LHA's -lh6-/-lh7-) and 4 (the fast method: unary-prefixed lengths and distances).
// Garbled (encrypted) members are not decoded here; the handler sends them to the archiver.
#pragma once

#include <cstdint>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::arj {

// Window of methods 1-3 (the format's dictionary is 26,624 bytes; distances reach 65,535).
inline constexpr uint32_t kLzhWindow = 26624;
// Window of method 4: distances reach 15,871.
inline constexpr uint32_t kFastWindow = 15872;

bool ArjMethodSupported(int method);

// Decodes exactly `unpacked_size` bytes of a member packed with `method` from `input` (the
// member's packed bytes, no more) into `output`. The CRC-32 is the caller's to check, with a
// CheckingSink or engines::Crc32.
engines::UnpackStatus UnpackArj(int method, engines::ByteSource& input, uint64_t unpacked_size,
                                engines::OutputSink& output);

struct ArjMember;

// Reads the header at `header_offset` again (id, size, CRC-32), refuses what this engine does not
// decode (garbled members, methods above 4, entries that are not files: status Unsupported),
// unpacks the member into `output` and compares its CRC-32. `header` receives the header read.
engines::MemberUnpack UnpackArjMember(DataStream& stream, int64_t header_offset,
                                      engines::OutputSink& output, ArjMember* header = nullptr);

}  // namespace quorbel::arj
