// A buffered reader the run-length decoders use over the attached stream: one stream read per
// 64 KB instead of one per byte, every read bounded (a short read is a count, never an overrun),
// and skips that are checked against the data's size instead of trusting a header's length.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/data_stream.h"
#include "core/progress_sink.h"

namespace quorbel {

class CodecReader {
public:
    // Reads from the stream's current position; `size` is the stream's size (-1 unknown).
    explicit CodecReader(DataStream& stream, size_t buffer = 65536)
        : stream_(stream), buffer_(buffer), size_(stream.Size()), base_(stream.Tell()) {}

    // The next byte, or -1 at the end of the data.
    int Get() {
        if (pos_ == end_ && !Fill()) return -1;
        return buffer_[pos_++];
    }
    // Steps back over the byte the last Get returned.
    void Unget() {
        if (pos_ > 0) --pos_;
    }
    // Up to n bytes; the count read.
    size_t Read(uint8_t* destination, size_t n) {
        size_t done = 0;
        while (done < n) {
            if (pos_ == end_ && !Fill()) break;
            const size_t take = std::min(n - done, end_ - pos_);
            std::memcpy(destination + done, buffer_.data() + pos_, take);
            pos_ += take;
            done += take;
        }
        return done;
    }
    bool ReadExact(uint8_t* destination, size_t n) { return Read(destination, n) == n; }
    // Position in the stream of the next byte.
    int64_t Tell() const { return base_ + int64_t(pos_); }
    // Bytes left from the next one to the end of the data (0 when unknown).
    int64_t Remaining() const { return size_ < 0 || Tell() > size_ ? 0 : size_ - Tell(); }
    // Skips n bytes, which must all be there: false (nothing skipped) when the data is shorter.
    bool Skip(uint64_t n) {
        if (n > uint64_t(Remaining())) return false;
        const uint64_t in_buffer = end_ - pos_;
        if (n <= in_buffer) {
            pos_ += size_t(n);
            return true;
        }
        return SeekTo(Tell() + int64_t(n));
    }
    // Makes at least n bytes (n at most the buffer's size) readable at Data() when the data
    // still holds them; false when fewer are left. The hot loops of the run-length decoders read
    // from there and Consume what they used.
    bool Ensure(size_t n) {
        if (end_ - pos_ >= n) return true;
        const size_t left = end_ - pos_;
        std::memmove(buffer_.data(), buffer_.data() + pos_, left);
        base_ += int64_t(pos_);
        pos_ = 0;
        end_ = left;
        while (end_ < n) {
            const size_t got = stream_.Read(buffer_.data() + end_, buffer_.size() - end_);
            if (got == 0) break;
            end_ += got;
        }
        return end_ >= n;
    }
    const uint8_t* Data() const { return buffer_.data() + pos_; }
    size_t Available() const { return end_ - pos_; }
    void Consume(size_t n) { pos_ += std::min(n, end_ - pos_); }
    // Moves to an absolute position inside the data.
    bool SeekTo(int64_t position) {
        if (position < 0 || (size_ >= 0 && position > size_)) return false;
        if (position >= base_ && position <= base_ + int64_t(end_)) {
            pos_ = size_t(position - base_);
            return true;
        }
        if (stream_.Seek(position, DataStream::Origin::Start) != position) return false;
        base_ = position;
        pos_ = end_ = 0;
        return true;
    }

private:
    bool Fill() {
        base_ += int64_t(end_);
        pos_ = end_ = 0;
        end_ = stream_.Read(buffer_.data(), buffer_.size());
        return end_ > 0;
    }

    DataStream& stream_;
    std::vector<uint8_t> buffer_;
    int64_t size_;
    int64_t base_;         // stream position of buffer_[0]
    size_t pos_ = 0, end_ = 0;
};

// A progress level of the attached sink for one decode, ended on every path.
class ProgressLevel {
public:
    explicit ProgressLevel(ProgressSink& sink) : sink_(sink) { sink_.Begin(); }
    ~ProgressLevel() { sink_.End(0); }
    ProgressLevel(const ProgressLevel&) = delete;
    ProgressLevel& operator=(const ProgressLevel&) = delete;

private:
    ProgressSink& sink_;
};

// Spreads the 8 bits of a byte over 8 bytes, most significant bit into the first byte: with it a
// decoder gathers a bit plane's contribution to 8 pixel indexes at once.
struct BitSpreadTable {
    uint64_t of[256];
    constexpr BitSpreadTable() : of() {
        for (int b = 0; b < 256; ++b) {
            uint64_t v = 0;
            for (int i = 0; i < 8; ++i)
                if (b & (0x80 >> i)) v |= uint64_t(1) << (8 * i);
            of[b] = v;
        }
    }
};
inline constexpr BitSpreadTable kBitSpread{};

// Byte i of a spread value (pixel i of the group of 8).
inline uint8_t SpreadByte(uint64_t v, int i) { return uint8_t(v >> (8 * i)); }

// A 5-bit channel widened to 8 bits so that 31 reads 255.
inline uint8_t Widen5(unsigned v) { return uint8_t((v << 3) | (v >> 2)); }

}  // namespace quorbel
