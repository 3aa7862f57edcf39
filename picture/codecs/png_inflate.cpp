#include "picture/codecs/png_inflate.h"

#include <cstring>

namespace quorbel {

namespace {

constexpr int kMaxBits = 15;
constexpr int kFastBits = 11;
constexpr unsigned kFastMask = (1u << kFastBits) - 1;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One canonical code: a lookup table for codes up to kFastBits long (entry = symbol << 4 |
// length, 0 for none) and the counts and sorted symbols the bit-by-bit path uses for longer ones.
struct Huffman {
    uint16_t fast[1u << kFastBits];
    uint16_t count[kMaxBits + 1];
    uint16_t symbols[288];
    int longest = 0;

    // False for an over-subscribed set. An incomplete set is accepted; its missing codes fail
    // when they are met.
    bool Build(const uint8_t* lengths, int n) {
        std::memset(count, 0, sizeof count);
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        count[0] = 0;
        int left = 1;
        longest = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            left <<= 1;
            left -= count[len];
            if (left < 0) return false;
            if (count[len]) longest = len;
        }
        uint16_t offset[kMaxBits + 2];
        offset[1] = 0;
        for (int len = 1; len <= kMaxBits; ++len) offset[len + 1] = uint16_t(offset[len] + count[len]);
        for (int i = 0; i < n; ++i)
            if (lengths[i]) symbols[offset[lengths[i]]++] = uint16_t(i);
        std::memset(fast, 0, sizeof fast);
        unsigned code = 0;
        int index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            for (int k = 0; k < count[len]; ++k, ++code, ++index) {
                if (len > kFastBits) continue;
                // Codes are sent most significant bit first; the lookup is by the bits as they
                // arrive, so the code is reversed.
                unsigned reversed = 0;
                for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
                const uint16_t entry = uint16_t(symbols[index] << 4 | len);
                for (unsigned r = reversed; r < (1u << kFastBits); r += 1u << len) fast[r] = entry;
            }
            code <<= 1;
        }
        return true;
    }
};

class Inflater {
public:
    Inflater(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size)
        : in_(in), in_size_(in_size), out_(out), op_(out), out_end_(out + out_size) {}

    bool Run(size_t& produced, size_t& consumed) {
        bool final = false;
        while (!final) {
            Refill();
            final = Bits(1) != 0;
            const unsigned type = unsigned(Bits(2));
            bool ok = false;
            if (type == 0)
                ok = Stored();
            else if (type == 1)
                ok = FixedBlock();
            else if (type == 2)
                ok = DynamicBlock();
            if (!ok || overrun_ > 8 * 8) return false;
        }
        // Bytes read so far less the whole bytes still in the bit buffer; the zeros that stood
        // in for missing input must not have been used.
        const size_t read = pos_ + overrun_ / 8;
        const size_t unused = bitcount_ / 8;
        if (read - unused > in_size_) return false;
        consumed = read - unused;
        produced = size_t(op_ - out_);
        return true;
    }

private:
    void Refill() {
        if (pos_ + 8 <= in_size_) {
            uint64_t word;
            std::memcpy(&word, in_ + pos_, 8);
            bitbuf_ |= word << bitcount_;
            pos_ += (63 - bitcount_) >> 3;
            bitcount_ |= 56;
            return;
        }
        while (bitcount_ <= 56) {
            if (pos_ < in_size_) {
                bitbuf_ |= uint64_t(in_[pos_++]) << bitcount_;
            } else {
                overrun_ += 8;  // zeros past the end; counted so that their use is caught
            }
            bitcount_ += 8;
        }
    }
    uint64_t Bits(unsigned n) {
        const uint64_t v = bitbuf_ & ((uint64_t(1) << n) - 1);
        bitbuf_ >>= n;
        bitcount_ -= n;
        return v;
    }

    // -1 for a code the set does not hold.
    int Decode(const Huffman& h) {
        const uint16_t e = h.fast[bitbuf_ & kFastMask];
        if (e) {
            const unsigned len = e & 15u;
            bitbuf_ >>= len;
            bitcount_ -= len;
            return e >> 4;
        }
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= h.longest; ++len) {
            code |= int(Bits(1));
            const int n = h.count[len];
            if (code - n < first) return h.symbols[index + (code - first)];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }

    bool Stored() {
        // Drop to the byte boundary, then give back the whole bytes the bit buffer holds.
        Bits(bitcount_ & 7u);
        const size_t read = pos_ + overrun_ / 8;
        const size_t here = read - bitcount_ / 8;
        bitbuf_ = 0;
        bitcount_ = 0;
        overrun_ = 0;
        if (here > in_size_ || in_size_ - here < 4) return false;
        pos_ = here;
        const unsigned len = unsigned(in_[pos_]) | unsigned(in_[pos_ + 1]) << 8;
        const unsigned nlen = unsigned(in_[pos_ + 2]) | unsigned(in_[pos_ + 3]) << 8;
        pos_ += 4;
        if ((len ^ 0xFFFFu) != nlen) return false;
        if (in_size_ - pos_ < len || size_t(out_end_ - op_) < len) return false;
        std::memcpy(op_, in_ + pos_, len);
        op_ += len;
        pos_ += len;
        return true;
    }

    bool FixedBlock() {
        static const struct Fixed {
            Huffman lit, dist;
            Fixed() {
                uint8_t l[288];
                for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                lit.Build(l, 288);
                uint8_t d[30];
                std::memset(d, 5, sizeof d);
                // 30 symbols of a 5-bit code: the two codes left over are never valid.
                dist.Build(d, 30);
            }
        } fixed;
        return Codes(fixed.lit, fixed.dist);
    }

    bool DynamicBlock() {
        const int hlit = int(Bits(5)) + 257;
        const int hdist = int(Bits(5)) + 1;
        const int hclen = int(Bits(4)) + 4;
        uint8_t cl_lengths[19] = {};
        Refill();
        for (int i = 0; i < hclen; ++i) {
            if (i == 10) Refill();
            cl_lengths[kCodeLengthOrder[i]] = uint8_t(Bits(3));
        }
        Huffman cl;
        if (!cl.Build(cl_lengths, 19)) return false;
        uint8_t lengths[288 + 32] = {};
        const int total = hlit + hdist;
        int i = 0;
        while (i < total) {
            Refill();
            const int sym = Decode(cl);
            if (sym < 0) return false;
            if (sym < 16) {
                lengths[i++] = uint8_t(sym);
                continue;
            }
            int repeat;
            uint8_t value = 0;
            if (sym == 16) {
                if (i == 0) return false;  // nothing to repeat
                value = lengths[i - 1];
                repeat = 3 + int(Bits(2));
            } else if (sym == 17) {
                repeat = 3 + int(Bits(3));
            } else {
                repeat = 11 + int(Bits(7));
            }
            if (i + repeat > total) return false;
            std::memset(lengths + i, value, size_t(repeat));
            i += repeat;
        }
        if (lengths[256] == 0) return false;  // a block that could never end
        Huffman lit, dist;
        if (!lit.Build(lengths, hlit) || !dist.Build(lengths + hlit, hdist)) return false;
        return Codes(lit, dist);
    }

    // The symbol loop keeps the bit buffer and the output pointer in locals: stores through a
    // byte pointer could alias the members, which would force the compiler to reload them
    // after every literal.
    bool Codes(const Huffman& lit, const Huffman& dist) {
        uint64_t bits = bitbuf_;
        unsigned count = bitcount_;
        size_t pos = pos_;
        uint8_t* op = op_;
        const uint8_t* const in = in_;
        const size_t in_size = in_size_;
        uint8_t* const out = out_;
        uint8_t* const out_end = out_end_;
        bool ok = false;
        auto refill = [&]() -> bool {
            if (pos + 8 <= in_size) {
                uint64_t word;
                std::memcpy(&word, in + pos, 8);
                bits |= word << count;
                pos += (63 - count) >> 3;
                count |= 56;
                return true;
            }
            while (count <= 56) {
                if (pos < in_size)
                    bits |= uint64_t(in[pos++]) << count;
                else
                    overrun_ += 8;
                count += 8;
            }
            return overrun_ <= 8 * 8;
        };
        auto decode = [&](const Huffman& h) -> int {
            const uint16_t e = h.fast[bits & kFastMask];
            if (e) {
                const unsigned len = e & 15u;
                bits >>= len;
                count -= len;
                return e >> 4;
            }
            int code = 0, first = 0, index = 0;
            for (int len = 1; len <= h.longest; ++len) {
                code |= int(bits & 1);
                bits >>= 1;
                --count;
                const int n = h.count[len];
                if (code - n < first) return h.symbols[index + (code - first)];
                index += n;
                first = (first + n) << 1;
                code <<= 1;
            }
            return -1;
        };
        for (;;) {
            // 48 bits cover the longest length code with its extra bits and the longest
            // distance code with its extra bits.
            if (count < 48 && !refill()) break;
            int sym = decode(lit);
            if (sym < 256) {
                if (sym < 0 || op >= out_end) break;
                *op++ = uint8_t(sym);
                // Further literals while the buffer still holds a whole code.
                while (count >= 15) {
                    const uint16_t e = lit.fast[bits & kFastMask];
                    if (!e || (e >> 4) >= 256) break;
                    if (op >= out_end) goto done;
                    bits >>= (e & 15u);
                    count -= (e & 15u);
                    *op++ = uint8_t(e >> 4);
                }
                continue;
            }
            if (sym == 256) {
                ok = true;
                break;
            }
            if (sym > 285) break;
            const unsigned lextra = kLengthExtra[sym - 257];
            const size_t length = kLengthBase[sym - 257] + size_t(bits & ((uint64_t(1) << lextra) - 1));
            bits >>= lextra;
            count -= lextra;
            const int dsym = decode(dist);
            if (dsym < 0 || dsym > 29) break;
            const unsigned dextra = kDistExtra[dsym];
            const size_t distance = kDistBase[dsym] + size_t(bits & ((uint64_t(1) << dextra) - 1));
            bits >>= dextra;
            count -= dextra;
            if (distance > size_t(op - out) || length > size_t(out_end - op)) break;
            uint8_t* dst = op;
            const uint8_t* src = op - distance;
            uint8_t* const end = op + length;
            if (distance >= 8) {
                // Each 8-byte step reads bytes already written; the last step may write up to 7
                // bytes past the copy, into the slack or into bytes written later anyway.
                do {
                    std::memcpy(dst, src, 8);
                    dst += 8;
                    src += 8;
                } while (dst < end);
            } else if (distance == 1) {
                std::memset(dst, *src, length);
            } else {
                while (dst < end) *dst++ = *src++;
            }
            op = end;
        }
    done:
        bitbuf_ = bits;
        bitcount_ = count;
        pos_ = pos;
        op_ = op;
        return ok;
    }

    const uint8_t* in_;
    size_t in_size_;
    size_t pos_ = 0;
    uint64_t bitbuf_ = 0;
    unsigned bitcount_ = 0;
    size_t overrun_ = 0;
    uint8_t* out_;
    uint8_t* op_;
    uint8_t* out_end_;
};

}  // namespace

bool InflateRaw(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size, size_t& produced,
                size_t& consumed) {
    Inflater inflater(in, in_size, out, out_size);
    return inflater.Run(produced, consumed);
}

}  // namespace quorbel
