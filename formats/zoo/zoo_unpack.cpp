#include "formats/zoo/zoo_unpack.h"

#include <memory>

#include "formats/engines/lzh_decoder.h"
#include "formats/zoo/zoo_directory.h"

namespace quorbel::zoo {

using engines::UnpackStatus;

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr int kMinBits = 9;
constexpr int kMaxBits = 13;

// Passes the output on in 64 KiB chunks and stops at the announced size.
class ChunkedOutput {
public:
    ChunkedOutput(engines::OutputSink& sink, uint64_t size) : sink_(sink), left_(size) {}
    bool Put(uint8_t b) {
        buffer_[used_++] = b;
        --left_;
        if (used_ == sizeof(buffer_)) return Flush();
        return true;
    }
    bool Flush() {
        if (used_ && !sink_.Put(buffer_, used_)) return false;
        used_ = 0;
        return true;
    }
    uint64_t Left() const { return left_; }

private:
    engines::OutputSink& sink_;
    uint64_t left_;
    size_t used_ = 0;
    uint8_t buffer_[65536];
};

// LZW as ZOO writes it: codes of 9 bits growing to 13, 256 clears the table, 257 ends the data.
UnpackStatus DecodeLzw(engines::ByteSource& input, uint64_t unpacked_size,
                       engines::OutputSink& output) {
    engines::LsbBitReader br(input);
    auto out = std::make_unique<ChunkedOutput>(output, unpacked_size);
    auto prefix = std::make_unique<uint16_t[]>(kLzwCodes);
    auto suffix = std::make_unique<uint8_t[]>(kLzwCodes);
    auto stack = std::make_unique<uint8_t[]>(kLzwCodes + 1);
    int bits = kMinBits;
    uint32_t next_free = kFirstFree, limit = 1u << kMinBits;
    int32_t previous = -1;  // no code yet since the last clear
    uint8_t first_byte = 0;
    uint32_t checked = 0;

    while (out->Left()) {
        uint32_t code = br.Read(bits);
        if (++checked == 4096) {
            checked = 0;
            if (br.Overrun()) return UnpackStatus::Corrupt;
        }
        if (code == kEnd) return UnpackStatus::Corrupt;  // ended before the announced size
        if (code == kClear) {
            bits = kMinBits;
            next_free = kFirstFree;
            limit = 1u << kMinBits;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code > 255) return UnpackStatus::Corrupt;
            first_byte = uint8_t(code);
            previous = int32_t(code);
            if (!out->Put(first_byte)) return UnpackStatus::Cancelled;
            continue;
        }
        size_t depth = 0;
        uint32_t walk = code;
        if (code >= next_free) {
            // The code being defined right now: the previous string and its own first byte.
            if (code != next_free) return UnpackStatus::Corrupt;
            stack[depth++] = first_byte;
            walk = uint32_t(previous);
        }
        while (walk > 255) {
            if (depth >= kLzwCodes) return UnpackStatus::Corrupt;
            stack[depth++] = suffix[walk];
            walk = prefix[walk];
        }
        first_byte = uint8_t(walk);
        stack[depth++] = first_byte;
        while (depth && out->Left()) {
            if (!out->Put(stack[--depth])) return UnpackStatus::Cancelled;
        }
        if (next_free < kLzwCodes) {
            prefix[next_free] = uint16_t(previous);
            suffix[next_free] = first_byte;
            ++next_free;
            if (next_free >= limit && bits < kMaxBits) {
                ++bits;
                limit <<= 1;
            }
        }
        previous = int32_t(code);
    }
    if (!out->Flush()) return UnpackStatus::Cancelled;
    return br.Overrun() ? UnpackStatus::Corrupt : UnpackStatus::Ok;
}

}  // namespace

bool ZooMethodSupported(int method) { return method >= 0 && method <= 2; }

UnpackStatus UnpackZoo(int method, engines::ByteSource& input, uint64_t unpacked_size,
                       engines::OutputSink& output) {
    switch (method) {
    case 0: return engines::CopyStored(input, unpacked_size, output);
    case 1: return DecodeLzw(input, unpacked_size, output);
    case 2: return engines::DecodeLzh(engines::kLh5, input, unpacked_size, output);
    default: return UnpackStatus::Unsupported;
    }
}

engines::MemberUnpack UnpackZooMember(DataStream& stream, const ZooMember& m,
                                      engines::OutputSink& output) {
    engines::MemberUnpack r;
    r.header_ok = true;
    engines::CheckingSink check(&output);
    engines::StreamSource source(stream, m.data_offset, m.packed_size);
    r.status = UnpackZoo(m.method, source, m.unpacked_size, check);
    r.size = check.Count();
    r.crc = check.Crc16();
    r.crc_ok = r.status == UnpackStatus::Ok && r.size == m.unpacked_size && r.crc == m.crc16;
    return r;
}

}  // namespace quorbel::zoo
