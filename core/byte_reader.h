// A bounds-checked little-endian reader over bytes that came from a file: a read past the end
// yields zeros and sets the failure flag, never an overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace quorbel {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Ok() const { return ok_; }
    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }
    const uint8_t* Here() const { return data_ + pos_; }

    bool Skip(size_t n) {
        if (n > Remaining()) return Fail();
        pos_ += n;
        return true;
    }
    uint8_t U8() { return uint8_t(Get(1)); }
    uint16_t U16() { return uint16_t(Get(2)); }
    uint32_t U32() { return uint32_t(Get(4)); }
    uint64_t U64() { return Get(8); }
    std::string Text(size_t n) {
        if (n > Remaining()) {
            Fail();
            return {};
        }
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }

private:
    bool Fail() {
        ok_ = false;
        pos_ = size_;
        return false;
    }
    uint64_t Get(size_t n) {
        if (n > Remaining()) {
            Fail();
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= uint64_t(data_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
// Big-endian fields (PNG, PSD, IFF).
inline uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace quorbel
