#include "formats/engines/huffman.h"

#include <algorithm>

namespace quorbel::engines {

void HuffmanTable::MakeInvalid() {
    table_bits_ = 1;
    table_.assign(2, Leaf(-1, 0));
    valid_ = false;
}

void HuffmanTable::BuildSingle(uint16_t symbol) {
    table_bits_ = 1;
    table_.assign(2, Leaf(symbol, 0));
    count_ = size_t(symbol) + 1;
    valid_ = true;
}

HuffmanTable::BuildResult HuffmanTable::Build(const uint8_t* lengths, size_t count,
                                              int max_length, int table_bits,
                                              bool allow_incomplete) {
    MakeInvalid();
    count_ = count;
    if (max_length < 1 || max_length > kMaxCodeLength || table_bits < 1 ||
        table_bits > kMaxTableBits || count > (size_t(1) << 23))
        return BuildResult::BadLength;

    uint32_t per_length[kMaxCodeLength + 1] = {};
    for (size_t i = 0; i < count; ++i) {
        if (lengths[i] > max_length) return BuildResult::BadLength;
        ++per_length[lengths[i]];
    }
    per_length[0] = 0;
    // Kraft sum, counted in units of the longest code so it stays exact.
    int64_t left = 1;
    bool any = false;
    for (int len = 1; len <= max_length; ++len) {
        left = left * 2 - per_length[len];
        if (left < 0) return BuildResult::OverSubscribed;
        any = any || per_length[len] != 0;
    }
    if (!any) return BuildResult::Empty;
    if (left > 0 && !allow_incomplete) return BuildResult::Incomplete;

    uint32_t next_code[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= max_length; ++len) {
        code = (code + per_length[len - 1]) << 1;
        next_code[len] = code;
    }

    const int tb = std::min(table_bits, max_length);
    table_bits_ = tb;
    table_.assign(size_t(1) << tb, Leaf(-1, 0));

    // Widest second-level table each primary prefix needs.
    std::vector<uint8_t>& sub_bits = sub_bits_;
    sub_bits.clear();
    std::vector<uint32_t>& codes = codes_;
    codes.assign(count, 0);
    for (size_t s = 0; s < count; ++s) {
        int len = lengths[s];
        if (!len) continue;
        codes[s] = next_code[len]++;
        if (len > tb) {
            if (sub_bits.empty()) sub_bits.assign(size_t(1) << tb, 0);
            uint32_t prefix = codes[s] >> (len - tb);
            sub_bits[prefix] = uint8_t(std::max<int>(sub_bits[prefix], len - tb));
        }
    }
    if (!sub_bits.empty()) {
        for (size_t prefix = 0; prefix < sub_bits.size(); ++prefix) {
            if (!sub_bits[prefix]) continue;
            size_t start = table_.size();
            table_.resize(start + (size_t(1) << sub_bits[prefix]), Leaf(-1, 0));
            table_[prefix] = (uint32_t(start) << 8) | kSubFlag | sub_bits[prefix];
        }
    }
    for (size_t s = 0; s < count; ++s) {
        int len = lengths[s];
        if (!len) continue;
        uint32_t c = codes[s];
        if (len <= tb) {
            size_t first = size_t(c) << (tb - len), last = size_t(c + 1) << (tb - len);
            std::fill(table_.begin() + long(first), table_.begin() + long(last), Leaf(int(s), len));
        } else {
            uint32_t pointer = table_[c >> (len - tb)];
            int sb = int(pointer & 0x1F);
            size_t base = pointer >> 8;
            int l2 = len - tb;
            uint32_t sub = c & ((1u << l2) - 1);
            size_t first = base + (size_t(sub) << (sb - l2)), last = base + (size_t(sub + 1) << (sb - l2));
            std::fill(table_.begin() + long(first), table_.begin() + long(last), Leaf(int(s), l2));
        }
    }
    valid_ = true;
    return BuildResult::Ok;
}

const char* HuffmanBuildResultName(HuffmanTable::BuildResult result) {
    switch (result) {
    case HuffmanTable::BuildResult::Ok: return "ok";
    case HuffmanTable::BuildResult::OverSubscribed: return "over-subscribed";
    case HuffmanTable::BuildResult::Incomplete: return "incomplete";
    case HuffmanTable::BuildResult::Empty: return "empty";
    case HuffmanTable::BuildResult::BadLength: return "bad length";
    }
    return "?";
}

}  // namespace quorbel::engines
