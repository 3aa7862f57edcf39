// Packed bytes for the decompression engines, and the bit readers over them.
//
// A member can be hundreds of megabytes, so an engine never needs the whole packed member in
// memory: bytes come from a ByteSource in batches, and the bit readers keep a 64-bit buffer that
// is refilled several bytes at a time. Reading past the end yields zero bits and marks the reader
// as overrun; engines check Overrun() at block boundaries and at every output flush, so damaged
// input costs a bounded amount of work and never reads outside a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

namespace quorbel {
class DataStream;
}

namespace quorbel::engines {

// Where an engine's packed bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to `capacity` of the next bytes into `buffer`; 0 means no more (the end of the
    // member or a read failure).
    virtual size_t Pull(uint8_t* buffer, size_t capacity) = 0;
};

// Bytes the caller keeps in memory for the source's life.
class SpanSource final : public ByteSource {
public:
    SpanSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Pull(uint8_t* buffer, size_t capacity) override;

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// At most `length` bytes of a stream, from `offset` on. It seeks before every pull, so other
// readers of the same stream between pulls do no harm.
class StreamSource final : public ByteSource {
public:
    StreamSource(DataStream& stream, int64_t offset, uint64_t length)
        : stream_(stream), offset_(offset), left_(length) {}
    size_t Pull(uint8_t* buffer, size_t capacity) override;
    // True when a seek failed or the stream ended before `length` bytes.
    bool Failed() const { return failed_; }

private:
    DataStream& stream_;
    int64_t offset_;
    uint64_t left_;
    bool failed_ = false;
};

// Bytes from a function with the Pull contract (a pipe, a decrypting layer, a test's chunker).
class CallbackSource final : public ByteSource {
public:
    explicit CallbackSource(std::function<size_t(uint8_t*, size_t)> pull) : pull_(std::move(pull)) {}
    size_t Pull(uint8_t* buffer, size_t capacity) override { return pull_(buffer, capacity); }

private:
    std::function<size_t(uint8_t*, size_t)> pull_;
};

// Bytes for the bit readers: straight from memory, or from a source through a 64 KiB buffer.
class ByteFeed {
public:
    static constexpr size_t kBufferSize = 65536;

    explicit ByteFeed(ByteSource& source);
    ByteFeed(const uint8_t* data, size_t size) : cur_(data), end_(data + size) {}
    ~ByteFeed();
    ByteFeed(const ByteFeed&) = delete;
    ByteFeed& operator=(const ByteFeed&) = delete;

    size_t Available() const { return size_t(end_ - cur_); }
    const uint8_t* Here() const { return cur_; }
    void Advance(size_t n) { cur_ += n; }
    // Pulls more bytes when none are left; false at the end of the input.
    bool Fill();

private:
    const uint8_t* cur_ = nullptr;
    const uint8_t* end_ = nullptr;
    ByteSource* source_ = nullptr;
    uint8_t* buffer_ = nullptr;
};

// Most significant bit first (LHA, ARJ, ZOO's -lh5-, RAR, ACE).
class BitReader {
public:
    explicit BitReader(ByteSource& source) : feed_(source) {}
    BitReader(const uint8_t* data, size_t size) : feed_(data, size) {}

    // The next `n` bits (1..32) without consuming them; zeros past the end of the input.
    uint32_t Peek(int n) {
        if (count_ < n) Refill();
        return uint32_t(bits_ >> (64 - n));
    }
    // Makes at least `n` bits (n <= 57) available for PeekFast; one check for several codes.
    void Ensure(int n) {
        if (count_ < n) Refill();
    }
    // The next `n` bits (1..32) when Ensure made them available.
    uint32_t PeekFast(int n) const { return uint32_t(bits_ >> (64 - n)); }
    // Drops `n` bits that Peek made available (n <= 32).
    void Consume(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    // Reads `n` bits, 0..32.
    uint32_t Read(int n) {
        if (n == 0) return 0;
        uint32_t v = Peek(n);
        Consume(n);
        return v;
    }
    uint32_t ReadBit() { return Read(1); }
    // True once a bit beyond the end of the input was consumed.
    bool Overrun() const { return int64_t(pad_bits_) > count_; }
    // Skips to the next byte boundary of the input.
    void AlignToByte() { Consume(count_ & 7); }

private:
    void Refill();

    ByteFeed feed_;
    uint64_t bits_ = 0;   // left-aligned: the next bit is bit 63
    int count_ = 0;       // valid bits in bits_, real and padding
    uint64_t pad_bits_ = 0;  // zero bits appended after the end of the input
};

// Least significant bit first (ZOO's LZW).
class LsbBitReader {
public:
    explicit LsbBitReader(ByteSource& source) : feed_(source) {}
    LsbBitReader(const uint8_t* data, size_t size) : feed_(data, size) {}

    uint32_t Peek(int n) {
        if (count_ < n) Refill();
        return uint32_t(bits_ & ((uint64_t(1) << n) - 1));
    }
    void Consume(int n) {
        bits_ >>= n;
        count_ -= n;
    }
    uint32_t Read(int n) {
        uint32_t v = Peek(n);
        Consume(n);
        return v;
    }
    bool Overrun() const { return int64_t(pad_bits_) > count_; }

private:
    void Refill();

    ByteFeed feed_;
    uint64_t bits_ = 0;  // right-aligned: the next bit is bit 0
    int count_ = 0;
    uint64_t pad_bits_ = 0;
};

}  // namespace quorbel::engines
