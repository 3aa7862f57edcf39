#include "picture/codecs/tiff_lzw.h"

#include <cstring>

namespace quorbel {

namespace {

constexpr int kClear = 256, kEnd = 257, kFirstFree = 258, kTableSize = 4096;
constexpr int kMinWidth = 9, kMaxWidth = 12;

// Codes from a byte string, either packing. A 64-bit reservoir refilled several bytes at a
// time keeps the per-code cost to a shift and a mask.
template <bool kMsbFirst>
class CodeReader {
public:
    CodeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next code of `width` bits; -1 once the data has run out.
    int Next(int width) {
        if (count_ < width) {
            Refill();
            if (count_ < width) return -1;
        }
        const uint64_t mask = (uint64_t(1) << width) - 1;
        count_ -= width;
        if constexpr (kMsbFirst) {
            return int((bits_ >> count_) & mask);
        } else {
            const int code = int(bits_ & mask);
            bits_ >>= width;
            return code;
        }
    }

private:
    void Refill() {
        // Whole bytes that still fit beside the bits held (at least 6, since count_ < 12).
        const int room = (63 - count_) >> 3;
        if (pos_ + 8 <= size_) {
            uint64_t v = 0;
            if constexpr (kMsbFirst) {
                for (int i = 0; i < 8; ++i) v = (v << 8) | data_[pos_ + size_t(i)];
                bits_ = (bits_ << (8 * room)) | (v >> (64 - 8 * room));
            } else {
                for (int i = 7; i >= 0; --i) v = (v << 8) | data_[pos_ + size_t(i)];
                bits_ |= (v & ((uint64_t(1) << (8 * room)) - 1)) << count_;
            }
            pos_ += size_t(room);
            count_ += 8 * room;
            return;
        }
        for (int i = 0; i < room && pos_ < size_; ++i) {
            if constexpr (kMsbFirst)
                bits_ = (bits_ << 8) | data_[pos_];
            else
                bits_ |= uint64_t(data_[pos_]) << count_;
            ++pos_;
            count_ += 8;
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t bits_ = 0;
    int count_ = 0;
};

struct Entry {
    uint32_t offset;  // where the string was first written to the output
    uint32_t length;
};

// Copies `length` earlier output bytes from `from` to `to` (never overlapping: every string lies
// wholly before the write position). Short strings, the common case, move as two words.
inline void CopyString(uint8_t* out, size_t capacity, size_t from, size_t to, size_t length) {
    if (length <= 16 && to + 16 <= capacity) {
        uint64_t a, b;
        std::memcpy(&a, out + from, 8);
        std::memcpy(&b, out + from + 8, 8);
        std::memcpy(out + to, &a, 8);
        std::memcpy(out + to + 8, &b, 8);
    } else {
        std::memcpy(out + to, out + from, length);
    }
}

template <bool kOld>
LzwResult Decode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, size_t& written) {
    CodeReader<!kOld> reader(data, size);
    // Current writers widen the codes when the next free code is one short of the limit.
    constexpr int kEarly = kOld ? 0 : 1;
    static thread_local Entry table[kTableSize];
    size_t pos = 0;
    int width = kMinWidth;
    int next_free = kFirstFree;
    bool have_previous = false;
    uint32_t previous_offset = 0, previous_length = 0;
    written = 0;
    if (capacity == 0) return LzwResult::Full;
    for (;;) {
        const int code = reader.Next(width);
        if (code < 0 || code == kEnd) {
            written = pos;
            return pos == capacity ? LzwResult::Full : LzwResult::Short;
        }
        if (code == kClear) {
            width = kMinWidth;
            next_free = kFirstFree;
            have_previous = false;
            continue;
        }
        const size_t start = pos;
        size_t length;
        if (code < 256) {
            out[pos++] = uint8_t(code);
            length = 1;
        } else if (!have_previous) {
            written = pos;
            return LzwResult::Corrupt;
        } else if (code < next_free) {
            const Entry e = table[code];
            length = e.length;
            const size_t n = length <= capacity - pos ? length : capacity - pos;
            CopyString(out, capacity, e.offset, pos, n);
            pos += n;
        } else if (code == next_free) {
            // The string being defined: the previous one and its own first byte.
            length = size_t(previous_length) + 1;
            const size_t n = previous_length <= capacity - pos ? previous_length : capacity - pos;
            CopyString(out, capacity, previous_offset, pos, n);
            pos += n;
            if (pos < capacity) out[pos++] = out[previous_offset];
        } else {
            written = pos;
            return LzwResult::Corrupt;
        }
        if (have_previous && next_free < kTableSize) {
            // The previous string and this one's first byte lie side by side in the output.
            table[next_free] = Entry{previous_offset, previous_length + 1};
            ++next_free;
            if (next_free + kEarly >= (1 << width) && width < kMaxWidth) ++width;
        }
        have_previous = true;
        previous_offset = uint32_t(start);
        previous_length = uint32_t(length);
        if (pos >= capacity) {
            written = capacity;
            return LzwResult::Full;
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
