// What every decompression engine shares: its result, the sink it writes to, and the window it
// writes through.
//
// An engine decodes exactly `unpacked_size` bytes from a ByteSource into an OutputSink. It
// allocates only its fixed per-method window, never anything sized by a header's unpacked
// size; the caller decides how much output it is willing to hold (MemorySink's budget).
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "formats/engines/bit_reader.h"

namespace quorbel::engines {

enum class UnpackStatus {
    Ok,           // exactly unpacked_size bytes were delivered
    Corrupt,      // the packed data is damaged or ended early
    Unsupported,  // a method this engine does not decode
    Cancelled,    // the sink refused a chunk
};

const char* UnpackStatusName(UnpackStatus status);

// The outcome of unpacking one listed member with its header checked again and its CRC
// compared: what a handler's extraction needs in one call.
struct MemberUnpack {
    UnpackStatus status = UnpackStatus::Corrupt;
    bool header_ok = false;  // the header at the recorded offset was read (and its CRC matched)
    bool crc_ok = false;     // status Ok and the data's CRC equals the header's
    uint64_t size = 0;       // bytes delivered
    uint32_t crc = 0;        // CRC of the bytes delivered (CRC-32 for ARJ, CRC-16 for LHA, ZOO)
    bool Good() const { return status == UnpackStatus::Ok && crc_ok; }
};

// Receives the output in chunks, in order. Returning false cancels the engine.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual bool Put(const uint8_t* data, size_t size) = 0;
};

class FunctionSink final : public OutputSink {
public:
    explicit FunctionSink(std::function<bool(const uint8_t*, size_t)> put) : put_(std::move(put)) {}
    bool Put(const uint8_t* data, size_t size) override { return put_(data, size); }

private:
    std::function<bool(const uint8_t*, size_t)> put_;
};

// Collects the output in memory up to `budget` bytes; more than that cancels the engine and
// sets OverBudget(). The vector grows with what arrives, not with what a header announced.
class MemorySink final : public OutputSink {
public:
    explicit MemorySink(size_t budget) : budget_(budget) {}
    bool Put(const uint8_t* data, size_t size) override;
    bool OverBudget() const { return over_budget_; }
    std::vector<uint8_t>& Data() { return data_; }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    size_t budget_;
    bool over_budget_ = false;
    std::vector<uint8_t> data_;
};

// Counts the output and its CRC-32 and CRC-16 while passing it on (to a null sink when `next`
// is null): what a Test command or a CRC check needs without keeping the bytes.
class CheckingSink final : public OutputSink {
public:
    explicit CheckingSink(OutputSink* next = nullptr) : next_(next) {}
    bool Put(const uint8_t* data, size_t size) override;
    uint64_t Count() const { return count_; }
    uint32_t Crc32() const { return crc32_; }
    uint16_t Crc16() const { return crc16_; }

private:
    OutputSink* next_;
    uint64_t count_ = 0;
    uint32_t crc32_ = 0;
    uint16_t crc16_ = 0;
};

// Method "stored": exactly `unpacked_size` bytes of `input`, passed on in chunks; Corrupt when
// the input ends sooner.
UnpackStatus CopyStored(ByteSource& input, uint64_t unpacked_size, OutputSink& output);

// The sliding window of an LZ engine: a ring of `size` bytes (a power of two at least as large
// as the method's largest distance) that is handed to the sink each time it fills, and whose
// unwritten part reads as `fill` (LHA's encoders assume spaces before the first byte).
class LzWindow {
public:
    LzWindow(size_t size, uint8_t fill, OutputSink& sink, uint64_t unpacked_size);
    ~LzWindow();
    LzWindow(const LzWindow&) = delete;
    LzWindow& operator=(const LzWindow&) = delete;

    // Output still owed.
    uint64_t Left() const { return left_; }
    bool Cancelled() const { return cancelled_; }

    void PutByte(uint8_t b) {
        data_[pos_++] = b;
        --left_;
        if (pos_ == size_) FlushFull();
    }
    // Copies `length` bytes from `distance` + 1 back (distance 0 = the last byte), clipped to
    // what is still owed.
    void CopyMatch(size_t distance, size_t length) {
        if (length > left_) length = size_t(left_);
        size_t src = (pos_ - distance - 1) & mask_;
        if (src + length <= size_ && pos_ + length < size_) {
            uint8_t* d = data_ + pos_;
            const uint8_t* s = data_ + src;
            if (distance + 1 >= length) {
                // A distance near the window size reads just ahead of the write position
                // (the ring's oldest bytes): the ranges may overlap, source after destination,
                // where memmove gives the byte-by-byte result.
                std::memmove(d, s, length);
            } else if (distance == 0) {
                std::memset(d, *s, length);
            } else {
                for (size_t i = 0; i < length; ++i) d[i] = s[i];
            }
            pos_ += length;
            left_ -= length;
            return;
        }
        CopySlow(src, length);
    }
    // Hands over what is written since the last flush; false when the sink cancelled.
    bool Finish();

    // For an engine's fast loop: bytes it may write from Position() on without a flush or a
    // clip (the buffer has kSlack bytes more for word-sized copies), then Advance past them.
    static constexpr size_t kSlack = 16;
    size_t FastRoom() const { return size_t(std::min<uint64_t>(size_ - pos_ - 1, left_)); }
    uint8_t* Data() { return data_; }
    size_t Position() const { return pos_; }
    size_t Size() const { return size_; }
    void Advance(size_t n) {
        pos_ += n;
        left_ -= n;
    }

private:
    void FlushFull();
    void CopySlow(size_t src, size_t length);

    uint8_t* data_;
    size_t size_, mask_;
    size_t pos_ = 0;
    uint64_t left_;
    OutputSink& sink_;
    bool cancelled_ = false;
};

}  // namespace quorbel::engines
