// LHA's decompression engines: -lh0- (stored), -lh1- (LHarc's adaptive-Huffman LZSS with a
// 4 KiB window) and -lh4- to -lh7- (static Huffman, 4 KiB to 64 KiB windows). -lz4- and -lzs-
// style stored methods of LArc are stored too. A -lhd- entry is a folder and has no data.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel {
class DataStream;
}

namespace quorbel::lha {

enum class LhaMethod { Stored, Lh1, Lh4, Lh5, Lh6, Lh7, Folder, Unknown };

// The method of a five-character id such as "-lh5-"; Unknown for others (-lh2-, -lh3-, -lzs-,
// -lz5-, -pm0- ...).
LhaMethod ParseLhaMethod(std::string_view id);
bool LhaMethodSupported(std::string_view id);
// Window in bytes of a method (0 for stored and folders).
uint32_t LhaWindowSize(LhaMethod method);

// Decodes exactly `unpacked_size` bytes of a member with method `id` from `input` into
// `output`. The CRC-16 is the caller's to check (engines::Crc16 or a CheckingSink).
engines::UnpackStatus UnpackLha(std::string_view id, engines::ByteSource& input,
                                uint64_t unpacked_size, engines::OutputSink& output);

// -lh1- alone, for ZOO-style callers and tests.
engines::UnpackStatus DecodeLh1(engines::ByteSource& input, uint64_t unpacked_size,
                                engines::OutputSink& output);

struct LhaMember;

// Unpacks a listed member into `output` and compares its CRC-16 (members without one count as
// matching). Folders and links give Ok with no data; unknown methods Unsupported.
engines::MemberUnpack UnpackLhaMember(DataStream& stream, const LhaMember& member,
                                      engines::OutputSink& output);

}  // namespace quorbel::lha
