// ACE's decompression engine: stored members, the LZ77/Huffman method of ACE 1.0 and the
// blocked method of ACE 2.0 with all its modes: LZ77, EXE (call/jump targets made relative
// again), DELTA (byte planes), SOUND (8, 16 and 32-bit samples) and PIC (predicted lines).
//
// One AceDecoder serves one extraction: members of a solid archive are decoded in archive
// order through the same object, which carries the dictionary from one member to the next.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel::ace {

inline constexpr int kMinDictionaryBits = 10;
inline constexpr int kMaxDictionaryBits = 22;

class LzCore;

class AceDecoder {
public:
    // `dictionary_bits`: the largest dictionary (bits 10..22) of the members this object will
    // decode; `total_output`: what they hold together. The window is allocated once, at the
    // dictionary's size or less when the output is smaller (no distance can reach further).
    explicit AceDecoder(int dictionary_bits, uint64_t total_output = UINT64_MAX);
    ~AceDecoder();
    AceDecoder(const AceDecoder&) = delete;
    AceDecoder& operator=(const AceDecoder&) = delete;

    // Decodes exactly `unpacked_size` bytes of a member packed with `method` (0 stored, 1
    // LZ77, 2 blocked) from `input` (the member's packed bytes) into `output`. The window
    // keeps what was decoded, for the next member of a solid archive. The CRC is the
    // caller's to check.
    engines::UnpackStatus Unpack(int method, engines::ByteSource& input, uint64_t unpacked_size,
                                 engines::OutputSink& output);

private:
    std::unique_ptr<LzCore> core_;
};

bool AceMethodSupported(int method);

// One member on its own (not solid): what a test or a single extraction needs.
engines::UnpackStatus UnpackAce(int method, uint16_t params, engines::ByteSource& input,
                                uint64_t unpacked_size, engines::OutputSink& output);

// Packed bytes spread over several pieces (a member that continues into later volumes):
// each piece's source is pulled to its end before the next.
class ChainSource final : public engines::ByteSource {
public:
    void Add(std::unique_ptr<engines::ByteSource> piece) { pieces_.push_back(std::move(piece)); }
    size_t Pull(uint8_t* buffer, size_t capacity) override;

private:
    std::vector<std::unique_ptr<engines::ByteSource>> pieces_;
    size_t current_ = 0;
};

}  // namespace quorbel::ace
