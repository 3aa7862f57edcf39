#include "formats/engines/unpack.h"

#include <algorithm>
#include <new>

#include "formats/engines/crc16.h"

namespace quorbel::engines {

const char* UnpackStatusName(UnpackStatus status) {
    switch (status) {
    case UnpackStatus::Ok: return "ok";
    case UnpackStatus::Corrupt: return "corrupt data";
    case UnpackStatus::Unsupported: return "unsupported method";
    case UnpackStatus::Cancelled: return "cancelled";
    }
    return "?";
}

bool MemorySink::Put(const uint8_t* data, size_t size) {
    if (size > budget_ - data_.size()) {
        over_budget_ = true;
        return false;
    }
    data_.insert(data_.end(), data, data + size);
    return true;
}

bool CheckingSink::Put(const uint8_t* data, size_t size) {
    count_ += size;
    crc32_ = engines::Crc32(crc32_, data, size);
    crc16_ = engines::Crc16(crc16_, data, size);
    return next_ ? next_->Put(data, size) : true;
}

UnpackStatus CopyStored(ByteSource& input, uint64_t unpacked_size, OutputSink& output) {
    std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(unpacked_size, 65536)));
    while (unpacked_size) {
        size_t want = size_t(std::min<uint64_t>(unpacked_size, buffer.size()));
        size_t got = input.Pull(buffer.data(), want);
        if (got == 0) return UnpackStatus::Corrupt;
        if (!output.Put(buffer.data(), got)) return UnpackStatus::Cancelled;
        unpacked_size -= got;
    }
    return UnpackStatus::Ok;
}

LzWindow::LzWindow(size_t size, uint8_t fill, OutputSink& sink, uint64_t unpacked_size)
    : data_(new uint8_t[size + kSlack]), size_(size), mask_(size - 1), left_(unpacked_size),
      sink_(sink) {
    std::memset(data_, fill, size + kSlack);
}

LzWindow::~LzWindow() { delete[] data_; }

void LzWindow::FlushFull() {
    if (!sink_.Put(data_, size_)) {
        cancelled_ = true;
        left_ = 0;  // ends the engine's loop
    }
    pos_ = 0;
}

void LzWindow::CopySlow(size_t src, size_t length) {
    while (length--) {
        uint8_t b = data_[src];
        src = (src + 1) & mask_;
        data_[pos_++] = b;
        --left_;
        if (pos_ == size_) {
            FlushFull();
            if (cancelled_) return;
        }
    }
}

bool LzWindow::Finish() {
    if (cancelled_) return false;
    if (pos_ && !sink_.Put(data_, pos_)) cancelled_ = true;
    pos_ = 0;
    return !cancelled_;
}

}  // namespace quorbel::engines
