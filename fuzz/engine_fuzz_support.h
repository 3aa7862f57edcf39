// What the ARJ, LHA and ZOO fuzz targets share: an engine run that must give the same result
// whether its input comes from memory in one piece or in small pulls, within an output budget.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel::fuzz {

// No member output beyond this, whatever a header says.
inline constexpr uint64_t kOutputBudget = 1u << 20;

class SmallPulls final : public engines::ByteSource {
public:
    SmallPulls(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Pull(uint8_t* buffer, size_t capacity) override {
        size_t n = std::min({capacity, size_ - pos_, size_t(7)});
        if (n) std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

using Engine = std::function<engines::UnpackStatus(engines::ByteSource&, uint64_t, engines::OutputSink&)>;

// Runs `engine` twice over `packed`; a difference between the runs is a fault.
inline void RunEngineBothWays(const Engine& engine, const uint8_t* packed, size_t size,
                              uint64_t unpacked_size) {
    uint64_t budget = std::min(unpacked_size, kOutputBudget);
    engines::SpanSource whole(packed, size);
    engines::MemorySink a(budget);
    engines::UnpackStatus sa = engine(whole, unpacked_size, a);
    SmallPulls pulls(packed, size);
    engines::MemorySink b(budget);
    engines::UnpackStatus sb = engine(pulls, unpacked_size, b);
    if (sa != sb || a.Data() != b.Data()) std::abort();
    if (sa == engines::UnpackStatus::Ok && a.Data().size() != unpacked_size) std::abort();
}

}  // namespace quorbel::fuzz
