#include "picture/codecs/tiff_lzw.h"

#include <bit>
#include <cstring>

namespace quorbel {

namespace {

constexpr int kClear = 256, kEnd = 257, kFirstFree = 258, kTableSize = 4096;
constexpr int kMinWidth = 9, kMaxWidth = 12;

inline uint64_t Swap(uint64_t v) { return __builtin_bswap64(v); }

struct Entry {
    uint32_t offset;  // where the string was first written to the output
    uint32_t length;
};

// Copies `length` earlier output bytes from `from` to `to` in 16-byte steps: the source lies
// wholly before `to`, and each step is loaded before it is stored, so the bytes a step reads
// beyond the source's end (only the last step does) never matter. The caller leaves 16 bytes
// of room after the string.
inline void CopyFast(uint8_t* out, size_t from, size_t to, size_t length) {
    for (size_t done = 0;; done += 16) {
        uint64_t a, b;
        std::memcpy(&a, out + from + done, 8);
        std::memcpy(&b, out + from + done + 8, 8);
        std::memcpy(out + to + done, &a, 8);
        std::memcpy(out + to + done + 8, &b, 8);
        if (done + 16 >= length) return;
    }
}

template <bool kOld>
LzwResult Decode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, size_t& written) {
    // Current writers widen the codes when the next free code is one short of the limit.
    constexpr int kEarly = kOld ? 0 : 1;
    Entry table[kTableSize];
    // The bit reservoir lives in locals, never in memory the output stores could alias, so it
    // stays in registers: refilled several bytes at a time, a code costs a shift and a mask.
    const uint8_t* in = data;
    const uint8_t* const in_end = data + size;
    uint64_t bits = 0;
    int count = 0;
    int width = kMinWidth;
    // -1 once the data has run out.
    auto next_code = [&]() __attribute__((always_inline)) -> int {
        if (count < width) {
            // Whole bytes that still fit beside the bits held (at least 6, since count < 12).
            const int room = (63 - count) >> 3;
            if (in_end - in >= 8) {
                uint64_t v;
                std::memcpy(&v, in, 8);
                // v as the bytes read little-endian (old packing) or big-endian (current one).
                if constexpr ((std::endian::native == std::endian::little) != kOld) v = Swap(v);
                if constexpr (kOld)
                    bits |= (v & ((uint64_t(1) << (8 * room)) - 1)) << count;
                else
                    bits = (bits << (8 * room)) | (v >> (64 - 8 * room));
                in += room;
                count += 8 * room;
            } else {
                for (int i = 0; i < room && in < in_end; ++i, ++in, count += 8) {
                    if constexpr (kOld)
                        bits |= uint64_t(*in) << count;
                    else
                        bits = (bits << 8) | *in;
                }
                if (count < width) return -1;
            }
        }
        count -= width;
        if constexpr (kOld) {
            const int code = int(bits & ((uint64_t(1) << width) - 1));
            bits >>= width;
            return code;
        } else {
            return int((bits >> count) & ((uint64_t(1) << width) - 1));
        }
    };

    size_t pos = 0;
    int next_free = kFirstFree;
    int widen_at = (1 << kMinWidth) - kEarly;
    // Strings copied while pos <= safe_end cannot reach the end (the longest string in the
    // table and 16 bytes of room fit): no clamping there.
    size_t longest = 1;
    auto safe_end_for = [&](size_t l) { return capacity >= l + 16 ? ptrdiff_t(capacity - l - 16) : ptrdiff_t(-1); };
    ptrdiff_t safe_end = safe_end_for(longest);
    uint32_t previous_offset = 0, previous_length = 0;
    written = 0;
    if (capacity == 0) return LzwResult::Full;
    auto ended = [&] {
        written = pos;
        return pos == capacity ? LzwResult::Full : LzwResult::Short;
    };
    for (;;) {
        // After a clear (and at the start): a root string, no new entry.
        int code = next_code();
        while (code == kClear) code = next_code();
        if (code < 0 || code == kEnd) return ended();
        if (code >= 256) {
            written = pos;
            return LzwResult::Corrupt;
        }
        previous_offset = uint32_t(pos);
        previous_length = 1;
        out[pos++] = uint8_t(code);
        if (pos >= capacity) return ended();
        for (;;) {
            code = next_code();
            const size_t start = pos;
            size_t length;
            if (code < 256) {
                if (code < 0) return ended();
                out[pos++] = uint8_t(code);
                length = 1;
            } else if (code >= kFirstFree && code < next_free) {
                const Entry e = table[code];
                length = e.length;
                if (ptrdiff_t(pos) <= safe_end) {
                    CopyFast(out, e.offset, pos, length);
                    pos += length;
                } else {
                    const size_t n = length <= capacity - pos ? length : capacity - pos;
                    std::memmove(out + pos, out + e.offset, n);
                    pos += n;
                }
            } else if (code == next_free) {
                // The string being defined: the previous one and its own first byte.
                length = size_t(previous_length) + 1;
                if (ptrdiff_t(pos) <= safe_end) {
                    CopyFast(out, previous_offset, pos, previous_length);
                    pos += previous_length;
                    out[pos++] = out[previous_offset];
                } else {
                    const size_t n = previous_length <= capacity - pos ? previous_length : capacity - pos;
                    std::memmove(out + pos, out + previous_offset, n);
                    pos += n;
                    if (pos < capacity) out[pos++] = out[previous_offset];
                }
            } else if (code == kClear) {
                width = kMinWidth;
                widen_at = (1 << kMinWidth) - kEarly;
                next_free = kFirstFree;
                longest = 1;
                safe_end = safe_end_for(longest);
                break;
            } else if (code == kEnd) {
                return ended();
            } else {
                written = pos;
                return LzwResult::Corrupt;
            }
            if (next_free < kTableSize) {
                // The previous string and this one's first byte lie side by side in the output.
                table[next_free] = Entry{previous_offset, previous_length + 1};
                if (previous_length + 1 > longest) {
                    longest = previous_length + 1;
                    safe_end = safe_end_for(longest);
                }
                if (++next_free >= widen_at && width < kMaxWidth) {
                    ++width;
                    widen_at = (1 << width) - kEarly;
                }
            }
            previous_offset = uint32_t(start);
            previous_length = uint32_t(length);
            if (pos >= capacity) return ended();
        }
    }
}

}  // namespace

bool LzwIsOldStyle(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 0 && (data[1] & 1) != 0;
}

LzwResult LzwDecode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, size_t& written) {
    // Offsets into the output are 32-bit.
    if (capacity > 0xFFFFFFF0u) {
        written = 0;
        return LzwResult::Corrupt;
    }
    if (LzwIsOldStyle(data, size)) return Decode<true>(data, size, out, capacity, written);
    return Decode<false>(data, size, out, capacity, written);
}

}  // namespace quorbel
