// The shared pieces of the engines: canonical-Huffman tables, the bit readers, CRC-16, sinks
// and the LZ window.
#include <gtest/gtest.h>

#include <random>

#include "formats/engines/bit_reader.h"
#include "formats/engines/crc16.h"
#include "formats/engines/huffman.h"
#include "formats/engines/unpack.h"
#include "formats/engine_test_util.h"

namespace quorbel {
namespace {

using engines::HuffmanTable;
using Result = HuffmanTable::BuildResult;

// Writes codes most significant bit first.
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            acc_ = uint8_t((acc_ << 1) | ((value >> i) & 1));
            if (++n_ == 8) {
                bytes_ += char(acc_);
                acc_ = 0;
                n_ = 0;
            }
        }
    }
    std::string Bytes() const { return n_ ? bytes_ + char(acc_ << (8 - n_)) : bytes_; }

private:
    std::string bytes_;
    uint8_t acc_ = 0;
    int n_ = 0;
};

// Canonical codes of a length set, the same way the formats assign them.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0;
    for (int len = 1; len <= 24; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len) codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

TEST(Huffman, BuildResults) {
    struct Row {
        const char* what;
        std::vector<uint8_t> lengths;
        int max_length, table_bits;
        bool allow_incomplete;
        Result want;
    } rows[] = {
        {"complete", {1, 2, 3, 3}, 16, 8, false, Result::Ok},
        {"over-subscribed", {1, 1, 1}, 16, 8, false, Result::OverSubscribed},
        {"over-subscribed deep", {1, 2, 2, 3}, 16, 8, true, Result::OverSubscribed},
        {"incomplete refused", {1, 2}, 16, 8, false, Result::Incomplete},
        {"incomplete allowed", {1, 2}, 16, 8, true, Result::Ok},
        {"single code of one bit", {0, 1, 0}, 16, 8, true, Result::Ok},
        {"empty", {0, 0, 0}, 16, 8, true, Result::Empty},
        {"length above max", {1, 2, 17, 17}, 16, 8, false, Result::BadLength},
        {"max 0", {1, 1}, 0, 8, false, Result::BadLength},
        {"table bits 0", {1, 1}, 16, 0, false, Result::BadLength},
    };
    for (auto& r : rows) {
        HuffmanTable t;
        EXPECT_EQ(t.Build(r.lengths.data(), r.lengths.size(), r.max_length, r.table_bits,
                          r.allow_incomplete),
                  r.want)
            << r.what;
        EXPECT_EQ(t.Valid(), r.want == Result::Ok) << r.what;
    }
}

// Random complete and incomplete length sets up to the longest codes, through one table level
// and through second-level tables: every symbol decodes back, and unassigned codes give -1.
TEST(Huffman, RoundTripsThroughBothLevels) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        int count = 2 + int(rng() % 600);
        int max_length = 9 + int(rng() % 16);  // up to 24
        int table_bits = 1 + int(rng() % std::min(max_length, 12));
        // Lengths from a random tree: split leaves until the count is reached.
        std::vector<uint8_t> lengths(size_t(count), 0);
        std::vector<int> leaves = {1, 1};
        while (int(leaves.size()) < count) {
            size_t i = rng() % leaves.size();
            if (leaves[i] >= max_length) {
                bool any = false;
                for (int l : leaves) any = any || l < max_length;
                if (!any) break;
                continue;
            }
            int d = ++leaves[i];
            leaves.push_back(d);
        }
        for (size_t i = 0; i < leaves.size(); ++i) lengths[i] = uint8_t(leaves[i]);
        std::shuffle(lengths.begin(), lengths.end(), rng);
        bool drop = round % 3 == 0;  // make it incomplete
        if (drop) {
            for (auto& l : lengths)
                if (l) {
                    l = 0;
                    break;
                }
        }
        HuffmanTable t;
        ASSERT_EQ(t.Build(lengths.data(), lengths.size(), max_length, table_bits, true), Result::Ok);
        auto codes = CanonicalCodes(lengths);
        BitWriter w;
        std::vector<int> sent;
        for (int i = 0; i < 500; ++i) {
            size_t s = rng() % lengths.size();
            if (!lengths[s]) continue;
            w.Put(codes[s], lengths[s]);
            sent.push_back(int(s));
        }
        std::string bytes = w.Bytes();
        engines::BitReader br(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        for (int s : sent) ASSERT_EQ(t.Decode(br), s) << "round " << round;
        EXPECT_FALSE(br.Overrun());
    }
}

TEST(Huffman, MissingCodeSingleAndMaxLength) {
    // {1, 2}: 0 -> symbol 0, 10 -> symbol 1, 11 -> nothing.
    uint8_t lengths[] = {1, 2};
    HuffmanTable t;
    ASSERT_EQ(t.Build(lengths, 2, 16, 4, true), Result::Ok);
    uint8_t ones[] = {0xFF, 0xFF};
    engines::BitReader br(ones, 2);
    EXPECT_EQ(t.Decode(br), -1);
    // A single symbol taking no bits.
    HuffmanTable single;
    single.BuildSingle(42);
    engines::BitReader br2(ones, 2);
    EXPECT_EQ(single.Decode(br2), 42);
    EXPECT_EQ(br2.Read(16), 0xFFFFu);  // nothing was consumed
    // Codes up to 24 bits: one of each length 1..23 and two of 24.
    std::vector<uint8_t> deep;
    for (int l = 1; l <= 24; ++l) deep.push_back(uint8_t(l));
    deep.push_back(24);
    HuffmanTable d;
    ASSERT_EQ(d.Build(deep.data(), deep.size(), 24, 10), Result::Ok);
    BitWriter w;
    auto codes = CanonicalCodes(deep);
    w.Put(codes[24], 24);
    w.Put(codes[23], 24);
    w.Put(codes[0], 1);
    std::string bytes = w.Bytes();
    engines::BitReader br3(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(d.Decode(br3), 24);
    EXPECT_EQ(d.Decode(br3), 23);
    EXPECT_EQ(d.Decode(br3), 0);
}

TEST(BitReader, MemoryChunkedAndOverrun) {
    std::mt19937 rng(3);
    std::string bytes;
    for (int i = 0; i < 10000; ++i) bytes += char(rng());
    std::vector<int> widths;
    for (int i = 0; i < 4000; ++i) widths.push_back(1 + int(rng() % 32));
    // Reference values from the plain bit order.
    auto bit = [&](size_t i) { return (uint8_t(bytes[i / 8]) >> (7 - i % 8)) & 1; };
    auto lsb_bit = [&](size_t i) { return (uint8_t(bytes[i / 8]) >> (i % 8)) & 1; };
    for (size_t chunk : {size_t(1), size_t(3), size_t(8), size_t(100000)}) {
        test::ChunkedSource src(bytes, chunk), src2(bytes, chunk);
        engines::BitReader msb(src);
        engines::LsbBitReader lsb(src2);
        size_t pos = 0;
        for (int w : widths) {
            uint32_t want = 0, want_lsb = 0;
            for (int k = 0; k < w; ++k) {
                want = (want << 1) | bit(pos + size_t(k));
                want_lsb |= uint32_t(lsb_bit(pos + size_t(k))) << k;
            }
            ASSERT_EQ(msb.Read(w), want) << chunk;
            ASSERT_EQ(lsb.Read(w), want_lsb) << chunk;
            pos += size_t(w);
        }
        EXPECT_FALSE(msb.Overrun());
    }
    uint8_t two[] = {0xAB, 0xCD};
    engines::BitReader br(two, 2);
    EXPECT_EQ(br.Read(12), 0xABCu);
    EXPECT_FALSE(br.Overrun());
    EXPECT_EQ(br.Read(4), 0xDu);
    EXPECT_FALSE(br.Overrun());
    EXPECT_EQ(br.Read(8), 0u);  // zeros past the end
    EXPECT_TRUE(br.Overrun());
    engines::BitReader aligned(two, 2);
    aligned.Read(3);
    aligned.AlignToByte();
    EXPECT_EQ(aligned.Read(8), 0xCDu);
}

TEST(Crc16, KnownValuesAndSlicing) {
    const std::string check = "123456789";
    EXPECT_EQ(engines::Crc16(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xBB3D);
    std::mt19937 rng(5);
    std::string data;
    for (int i = 0; i < 1001; ++i) data += char(rng());
    uint16_t bytewise = 0;
    for (char c : data) bytewise = engines::Crc16(bytewise, reinterpret_cast<const uint8_t*>(&c), 1);
    EXPECT_EQ(engines::Crc16(0, reinterpret_cast<const uint8_t*>(data.data()), data.size()), bytewise);
    EXPECT_EQ(engines::Crc32(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
}

TEST(LzWindow, MatchesAcrossTheRingAndClipping) {
    // A window of 16 bytes: a run, a copy that wraps, an overlapping copy, and one clipped to
    // the announced size.
    std::string got;
    engines::FunctionSink sink([&](const uint8_t* d, size_t n) {
        got.append(reinterpret_cast<const char*>(d), n);
        return true;
    });
    engines::LzWindow w(16, '.', sink, 40);
    for (char c : std::string("abcdefghij")) w.PutByte(uint8_t(c));
    w.CopyMatch(9, 10);   // "abcdefghij" again, wrapping the ring
    w.CopyMatch(0, 5);    // "jjjjj"
    w.CopyMatch(2, 7);    // "jjjjjjj"
    w.CopyMatch(30, 20);  // only 8 more are owed; distance beyond the start reads ring bytes
    EXPECT_EQ(w.Left(), 0u);
    ASSERT_TRUE(w.Finish());
    ASSERT_EQ(got.size(), 40u);
    EXPECT_EQ(got.substr(0, 32), "abcdefghijabcdefghijjjjjjjjjjjjj");
    std::string fresh;
    engines::FunctionSink sink2([&](const uint8_t* d, size_t n) {
        fresh.append(reinterpret_cast<const char*>(d), n);
        return true;
    });
    engines::LzWindow w2(16, ' ', sink2, 3);
    w2.CopyMatch(5, 3);  // before the first byte: the fill
    ASSERT_TRUE(w2.Finish());
    EXPECT_EQ(fresh, "   ");
}

TEST(Sinks, BudgetAndChecking) {
    engines::MemorySink m(5);
    EXPECT_TRUE(m.Put(reinterpret_cast<const uint8_t*>("abc"), 3));
    EXPECT_FALSE(m.Put(reinterpret_cast<const uint8_t*>("def"), 3));
    EXPECT_TRUE(m.OverBudget());
    EXPECT_EQ(m.Data().size(), 3u);
    engines::CheckingSink c;
    EXPECT_TRUE(c.Put(reinterpret_cast<const uint8_t*>("123456789"), 9));
    EXPECT_EQ(c.Count(), 9u);
    EXPECT_EQ(c.Crc32(), 0xCBF43926u);
    EXPECT_EQ(c.Crc16(), 0xBB3D);
    test::CancellingSink stop(1);
    engines::CheckingSink chained(&stop);
    EXPECT_FALSE(chained.Put(reinterpret_cast<const uint8_t*>("x"), 1));
}

}  // namespace
}  // namespace quorbel
