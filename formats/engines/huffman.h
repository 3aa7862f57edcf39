// Canonical Huffman decoding tables, shared by the LHA, ARJ and ZOO engines and the RAR and ACE
// engines after them.
//
// Codes are assigned canonically: shorter codes first, and within one length in symbol order
// (the order every one of these formats uses). A primary table of `table_bits` resolves every
// code up to that length in one lookup; longer codes go through one second-level table below
// their prefix, sized for the longest code sharing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorbel::engines {

class HuffmanTable {
public:
    static constexpr int kMaxCodeLength = 24;
    static constexpr int kMaxTableBits = 16;

    enum class BuildResult {
        Ok,
        OverSubscribed,  // more codes than the lengths leave room for
        Incomplete,      // room left over and the caller asked for a complete set
        Empty,           // no symbol has a code
        BadLength,       // a length above max_length, or bad parameters
    };

    // `lengths[i]` is the code length of symbol i, 0 when the symbol has no code. `max_length`
    // is the format's longest code (at most kMaxCodeLength); `table_bits` the primary table's
    // width (1..kMaxTableBits). An incomplete set is accepted only with `allow_incomplete`; its
    // unassigned codes decode as -1. On any result but Ok the table decodes nothing (-1).
    BuildResult Build(const uint8_t* lengths, size_t count, int max_length, int table_bits,
                      bool allow_incomplete = false);

    // A set of one symbol that takes no bits at all (LHA's and ARJ's "every code is c").
    void BuildSingle(uint16_t symbol);

    // Decodes one symbol from a most-significant-bit-first reader (Peek/Consume); -1 when the
    // bits form no code of the set (the bits are then left unread).
    template <class Reader>
    int Decode(Reader& reader) const {
        uint32_t e = table_[reader.Peek(table_bits_)];
        if (e & kSubFlag) {
            reader.Consume(table_bits_);
            int sub_bits = int(e & 0x1F);
            e = table_[(e >> 8) + reader.Peek(sub_bits)];
        }
        reader.Consume(int(e & 0x1F));
        return int(int32_t(e) >> 8);
    }

    // Decode for a reader on which Ensure(max_length) was called.
    template <class Reader>
    int DecodeFast(Reader& reader) const {
        uint32_t e = table_[reader.PeekFast(table_bits_)];
        if (e & kSubFlag) {
            reader.Consume(table_bits_);
            e = table_[(e >> 8) + reader.PeekFast(int(e & 0x1F))];
        }
        reader.Consume(int(e & 0x1F));
        return int(int32_t(e) >> 8);
    }

    bool Valid() const { return valid_; }
    size_t SymbolCount() const { return count_; }

private:
    // An entry: bits 0-4 the bits to consume, bit 5 "second-level pointer", bits 8-31 the
    // symbol (signed: -1 for no code) or the second-level table's first index.
    static constexpr uint32_t kSubFlag = 0x20;
    static uint32_t Leaf(int symbol, int length) { return (uint32_t(symbol) << 8) | uint32_t(length); }
    void MakeInvalid();

    std::vector<uint32_t> table_;
    std::vector<uint32_t> codes_;     // scratch of Build, kept to spare allocations per block
    std::vector<uint8_t> sub_bits_;
    int table_bits_ = 1;
    size_t count_ = 0;
    bool valid_ = false;
};

const char* HuffmanBuildResultName(HuffmanTable::BuildResult result);

}  // namespace quorbel::engines
