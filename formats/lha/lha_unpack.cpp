#include "formats/lha/lha_unpack.h"

#include <cstring>
#include <memory>

#include "formats/engines/lzh_decoder.h"
#include "formats/lha/lha_directory.h"

namespace quorbel::lha {

using engines::BitReader;
using engines::UnpackStatus;

namespace {

// -lh1-: LHarc's LZSS with an adaptive Huffman code for literals and lengths (3..60) and a
// fixed code for the upper six bits of a distance below 4,096.
class AdaptiveHuffman {
public:
    static constexpr int kSymbols = 256 - 2 + 60;      // 314
    static constexpr int kNodes = 2 * kSymbols - 1;    // 627
    static constexpr int kRoot = kNodes - 1;
    static constexpr uint32_t kMaxFrequency = 0x8000;

    AdaptiveHuffman() {
        for (int i = 0; i < kSymbols; ++i) {
            freq_[i] = 1;
            son_[i] = i + kNodes;
            parent_[i + kNodes] = i;
        }
        for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
            freq_[j] = freq_[i] + freq_[i + 1];
            son_[j] = i;
            parent_[i] = parent_[i + 1] = j;
        }
        freq_[kNodes] = 0xFFFF;  // a sentinel above every real frequency
        parent_[kRoot] = 0;
    }

    int Decode(BitReader& br) {
        int c = son_[kRoot];
        while (c < kNodes) c = son_[c + int(br.ReadBit())];
        c -= kNodes;
        Update(c);
        return c;
    }

private:
    // Halves every frequency and rebuilds the tree when the root reaches the limit.
    void Rebuild() {
        int j = 0;
        for (int i = 0; i < kNodes; ++i) {
            if (son_[i] >= kNodes) {
                freq_[j] = (freq_[i] + 1) / 2;
                son_[j] = son_[i];
                ++j;
            }
        }
        for (int i = 0, j2 = kSymbols; j2 < kNodes; i += 2, ++j2) {
            uint32_t f = freq_[i] + freq_[i + 1];
            freq_[j2] = f;
            int k = j2 - 1;
            while (f < freq_[k]) --k;
            ++k;
            std::memmove(&freq_[k + 1], &freq_[k], sizeof(freq_[0]) * size_t(j2 - k));
            freq_[k] = f;
            std::memmove(&son_[k + 1], &son_[k], sizeof(son_[0]) * size_t(j2 - k));
            son_[k] = i;
        }
        for (int i = 0; i < kNodes; ++i) {
            int k = son_[i];
            if (k >= kNodes) {
                parent_[k] = i;
            } else {
                parent_[k] = parent_[k + 1] = i;
            }
        }
    }

    // Counts the symbol and swaps nodes up so the tree stays ordered by frequency.
    void Update(int symbol) {
        if (freq_[kRoot] == kMaxFrequency) Rebuild();
        int c = parent_[symbol + kNodes];
        do {
            uint32_t k = ++freq_[c];
            int l = c + 1;
            if (k > freq_[l]) {
                while (k > freq_[++l]) {
                }
                --l;
                freq_[c] = freq_[l];
                freq_[l] = k;
                int i = son_[c];
                parent_[i] = l;
                if (i < kNodes) parent_[i + 1] = l;
                int j = son_[l];
                son_[l] = i;
                parent_[j] = c;
                if (j < kNodes) parent_[j + 1] = c;
                son_[c] = j;
                c = l;
            }
            c = parent_[c];
        } while (c != 0);
    }

    uint32_t freq_[kNodes + 1];
    int parent_[kNodes + kSymbols];
    int son_[kNodes];
};

// The fixed code of a distance's upper six bits: 1 code of 3 bits, 3 of 4, 8 of 5, 12 of 6,
// 24 of 7 and 16 of 8, indexed by the next eight bits.
struct DistanceCode {
    uint8_t upper[256];
    uint8_t length[256];
    DistanceCode() {
        static const int counts[][2] = {{1, 3}, {3, 4}, {8, 5}, {12, 6}, {24, 7}, {16, 8}};
        int index = 0, code = 0;
        for (const auto& group : counts) {
            for (int k = 0; k < group[0]; ++k, ++code) {
                for (int j = 0; j < (1 << (8 - group[1])); ++j, ++index) {
                    upper[index] = uint8_t(code);
                    length[index] = uint8_t(group[1]);
                }
            }
        }
    }
};

}  // namespace

UnpackStatus DecodeLh1(engines::ByteSource& input, uint64_t unpacked_size,
                       engines::OutputSink& output) {
    static const DistanceCode distance_code;
    BitReader br(input);
    engines::LzWindow window(size_t(1) << 16, 0x20, output, unpacked_size);
    auto tree = std::make_unique<AdaptiveHuffman>();
    uint32_t checked = 0;
    while (window.Left()) {
        int c = tree->Decode(br);
        if (c < 256) {
            window.PutByte(uint8_t(c));
        } else {
            uint32_t index = br.Peek(8);
            br.Consume(distance_code.length[index]);
            size_t distance = (size_t(distance_code.upper[index]) << 6) | br.Read(6);
            window.CopyMatch(distance, size_t(c - 256 + 3));
        }
        if (++checked == 4096) {
            checked = 0;
            if (br.Overrun()) return UnpackStatus::Corrupt;
        }
    }
    if (window.Cancelled() || !window.Finish()) return UnpackStatus::Cancelled;
    return br.Overrun() ? UnpackStatus::Corrupt : UnpackStatus::Ok;
}

LhaMethod ParseLhaMethod(std::string_view id) {
    if (id == "-lh0-" || id == "-lz4-") return LhaMethod::Stored;
    if (id == "-lh1-") return LhaMethod::Lh1;
    if (id == "-lh4-") return LhaMethod::Lh4;
    if (id == "-lh5-") return LhaMethod::Lh5;
    if (id == "-lh6-") return LhaMethod::Lh6;
    if (id == "-lh7-") return LhaMethod::Lh7;
    if (id == "-lhd-") return LhaMethod::Folder;
    return LhaMethod::Unknown;
}

bool LhaMethodSupported(std::string_view id) { return ParseLhaMethod(id) != LhaMethod::Unknown; }

uint32_t LhaWindowSize(LhaMethod method) {
    switch (method) {
    case LhaMethod::Lh1: return 4096;
    case LhaMethod::Lh4: return 4096;
    case LhaMethod::Lh5: return 8192;
    case LhaMethod::Lh6: return 32768;
    case LhaMethod::Lh7: return 65536;
    default: return 0;
    }
}

UnpackStatus UnpackLha(std::string_view id, engines::ByteSource& input, uint64_t unpacked_size,
                       engines::OutputSink& output) {
    switch (ParseLhaMethod(id)) {
    case LhaMethod::Stored: return engines::CopyStored(input, unpacked_size, output);
    case LhaMethod::Lh1: return DecodeLh1(input, unpacked_size, output);
    case LhaMethod::Lh4: return engines::DecodeLzh(engines::kLh4, input, unpacked_size, output);
    case LhaMethod::Lh5: return engines::DecodeLzh(engines::kLh5, input, unpacked_size, output);
    case LhaMethod::Lh6: return engines::DecodeLzh(engines::kLh6, input, unpacked_size, output);
    case LhaMethod::Lh7: return engines::DecodeLzh(engines::kLh7, input, unpacked_size, output);
    case LhaMethod::Folder:
        return unpacked_size == 0 ? UnpackStatus::Ok : UnpackStatus::Corrupt;
    case LhaMethod::Unknown: break;
    }
    return UnpackStatus::Unsupported;
}

engines::MemberUnpack UnpackLhaMember(DataStream& stream, const LhaMember& m,
                                      engines::OutputSink& output) {
    engines::MemberUnpack r;
    r.header_ok = true;
    if (m.is_folder || m.is_symlink) {
        r.status = UnpackStatus::Ok;
        r.crc_ok = true;
        return r;
    }
    engines::CheckingSink check(&output);
    engines::StreamSource source(stream, m.data_offset, m.packed_size);
    r.status = UnpackLha(m.method, source, m.unpacked_size, check);
    r.size = check.Count();
    r.crc = check.Crc16();
    r.crc_ok = r.status == UnpackStatus::Ok && r.size == m.unpacked_size &&
               (!m.has_crc || r.crc == m.crc16);
    return r;
}

}  // namespace quorbel::lha
