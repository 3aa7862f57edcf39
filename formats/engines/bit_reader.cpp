#include "formats/engines/bit_reader.h"

#include <algorithm>

#include "core/data_stream.h"

namespace quorbel::engines {

size_t SpanSource::Pull(uint8_t* buffer, size_t capacity) {
    size_t n = std::min(capacity, size_ - pos_);
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
}

size_t StreamSource::Pull(uint8_t* buffer, size_t capacity) {
    if (left_ == 0 || failed_) return 0;
    size_t want = size_t(std::min<uint64_t>(capacity, left_));
    if (stream_.Seek(offset_, DataStream::Origin::Start) != offset_) {
        failed_ = true;
        return 0;
    }
    size_t got = stream_.Read(buffer, want);
    if (got < want) failed_ = true;
    offset_ += int64_t(got);
    left_ -= got;
    return got;
}

ByteFeed::ByteFeed(ByteSource& source) : source_(&source), buffer_(new uint8_t[kBufferSize]) {
    cur_ = end_ = buffer_;
}

ByteFeed::~ByteFeed() { delete[] buffer_; }

bool ByteFeed::Fill() {
    if (cur_ != end_) return true;
    if (!source_) return false;
    size_t n = source_->Pull(buffer_, kBufferSize);
    cur_ = buffer_;
    end_ = buffer_ + n;
    return n != 0;
}

// Eight bytes at a time while the feed has them: the bytes loaded beyond the ones counted are
// the same bytes the next refill loads again, so OR-ing them twice does no harm.
void BitReader::Refill() {
    while (count_ <= 56) {
        if (feed_.Available() >= 8) {
            uint64_t v;
            std::memcpy(&v, feed_.Here(), 8);
            v = __builtin_bswap64(v);
            bits_ |= v >> count_;
            int take = (63 - count_) >> 3;
            feed_.Advance(size_t(take));
            count_ += take * 8;
            return;
        }
        if (feed_.Available() == 0 && !feed_.Fill()) {
            int add = (64 - count_) & ~7;
            pad_bits_ += uint64_t(add);
            count_ += add;
            return;
        }
        if (feed_.Available() >= 8) continue;
        bits_ |= uint64_t(*feed_.Here()) << (56 - count_);
        feed_.Advance(1);
        count_ += 8;
    }
}

void LsbBitReader::Refill() {
    while (count_ <= 56) {
        if (feed_.Available() >= 8) {
            uint64_t v;
            std::memcpy(&v, feed_.Here(), 8);
            bits_ |= v << count_;
            int take = (63 - count_) >> 3;
            feed_.Advance(size_t(take));
            count_ += take * 8;
            return;
        }
        if (feed_.Available() == 0 && !feed_.Fill()) {
            int add = (64 - count_) & ~7;
            pad_bits_ += uint64_t(add);
            count_ += add;
            return;
        }
        if (feed_.Available() >= 8) continue;
        bits_ |= uint64_t(*feed_.Here()) << count_;
        feed_.Advance(1);
        count_ += 8;
    }
}

}  // namespace quorbel::engines
