// What the RAR 1.5 and 2.0 engines share: the bit input over a member's packed bytes and the
// dictionary window, which a solid archive carries from one member to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel::rar {

// Most significant bit first, refilled a byte at a time from a ByteSource. Past the end of the
// input it reads zeros and reports Overrun(); it also says whether some bytes are still
// unread, which the 2.0 engine needs at the end of a member.
class RarBitInput {
public:
    static constexpr size_t kBufferSize = 65536;

    explicit RarBitInput(engines::ByteSource& source)
        : source_(source), buffer_(new uint8_t[kBufferSize]) {}

    uint32_t Peek(int n) {
        if (count_ < n) Refill();
        return uint32_t(bits_ >> (64 - n));
    }
    void Consume(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    uint32_t Read(int n) {
        if (n == 0) return 0;
        uint32_t v = Peek(n);
        Consume(n);
        return v;
    }
    bool Overrun() const { return pad_bits_ > uint64_t(count_ < 0 ? 0 : count_); }
    // True when at least `bytes` bytes of real input are not yet wholly read (a byte of which
    // some bits were read counts, as the format's own reader counts).
    bool HasAtLeast(size_t bytes) {
        const int64_t need = int64_t(bytes) * 8 - 7;
        if (pad_bits_) return int64_t(count_) - int64_t(pad_bits_) >= need;
        for (;;) {
            const int64_t have = int64_t(count_) + int64_t(end_ - pos_) * 8;
            if (have >= need) return true;
            if (at_end_) return false;
            if (pos_ > 0) {
                std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
                end_ -= pos_;
                pos_ = 0;
            }
            size_t got = end_ < kBufferSize ? source_.Pull(buffer_.get() + end_, kBufferSize - end_) : 0;
            if (got == 0) at_end_ = true;
            end_ += got;
        }
    }

private:
    void Refill() {
        while (count_ <= 56) {
            if (end_ - pos_ >= 8) {
                // As many whole bytes as fit, in one load.
                uint64_t v = 0;
                for (int i = 0; i < 8; ++i) v = (v << 8) | buffer_[pos_ + size_t(i)];
                const int k = (64 - count_) >> 3;
                bits_ |= (v >> count_) & (~uint64_t(0) << (64 - count_ - 8 * k));
                count_ += 8 * k;
                pos_ += size_t(k);
                return;
            }
            if (pos_ == end_ && !Fill()) {
                // Zeros past the end of the input.
                count_ += 8;
                pad_bits_ += 8;
                continue;
            }
            bits_ |= uint64_t(buffer_[pos_++]) << (56 - count_);
            count_ += 8;
        }
    }
    bool Fill() {
        if (at_end_) return false;
        pos_ = 0;
        end_ = source_.Pull(buffer_.get(), kBufferSize);
        if (end_ == 0) at_end_ = true;
        return end_ > 0;
    }

    engines::ByteSource& source_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t pos_ = 0, end_ = 0;
    bool at_end_ = false;
    uint64_t bits_ = 0;  // left-aligned
    int count_ = 0;
    uint64_t pad_bits_ = 0;
};

// The dictionary: a ring of 2 MiB, the largest distance of either method being 1 MiB. Each
// member is decoded into it with Begin() and handed to its sink as the ring fills and at
// Finish(); what the ring holds stays for the next member of a solid archive.
class RarWindow {
public:
    static constexpr size_t kSize = size_t(1) << 21;
    static constexpr size_t kMask = kSize - 1;

    RarWindow() : data_(new uint8_t[kSize]) { Reset(); }

    // Forgets everything: a member that does not continue a solid stream. Bytes before its
    // start read as zeros (without clearing the ring: `filled_` says how much is real).
    void Reset() {
        pos_ = flushed_ = 0;
        filled_ = 0;
    }
    void Begin(engines::OutputSink& sink, uint64_t size) {
        sink_ = &sink;
        left_ = size;
        cancelled_ = false;
        flushed_ = pos_;
    }
    uint64_t Left() const { return left_; }
    bool Cancelled() const { return cancelled_; }

    void PutByte(uint8_t b) {
        data_[pos_] = b;
        pos_ = (pos_ + 1) & kMask;
        --left_;
        ++filled_;
        if (pos_ == 0) FlushWrap();
    }
    // Copies `length` bytes from `distance` back (1 = the last byte), clipped to what is owed.
    void CopyMatch(size_t distance, size_t length) {
        if (length > left_) length = size_t(left_);
        size_t src = (pos_ - distance) & kMask;
        if (src + length < kSize && pos_ + length < kSize && distance <= filled_ && distance > 0) {
            uint8_t* d = data_.get() + pos_;
            const uint8_t* s = data_.get() + src;
            if (distance >= length) {
                std::memmove(d, s, length);
            } else {
                for (size_t i = 0; i < length; ++i) d[i] = s[i];
            }
            pos_ += length;
            left_ -= length;
            filled_ += length;
            return;
        }
        for (size_t i = 0; i < length; ++i) {
            data_[pos_] = distance <= filled_ && distance > 0 ? data_[src] : 0;
            src = (src + 1) & kMask;
            pos_ = (pos_ + 1) & kMask;
            ++filled_;
            if (pos_ == 0) FlushWrap();
        }
        left_ -= length;
    }
    // Hands over the rest of the member; false when the sink refused.
    bool Finish() {
        if (!cancelled_ && pos_ > flushed_ && !sink_->Put(data_.get() + flushed_, pos_ - flushed_))
            cancelled_ = true;
        flushed_ = pos_;
        return !cancelled_;
    }

private:
    void FlushWrap() {
        if (!cancelled_ && kSize > flushed_ && !sink_->Put(data_.get() + flushed_, kSize - flushed_))
            cancelled_ = true;
        flushed_ = 0;
    }

    std::unique_ptr<uint8_t[]> data_;
    size_t pos_ = 0, flushed_ = 0;
    uint64_t filled_ = 0;  // bytes written since Reset
    uint64_t left_ = 0;
    engines::OutputSink* sink_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace quorbel::rar
