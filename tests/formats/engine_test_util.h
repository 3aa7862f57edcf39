// Helpers of the ARJ, LHA and ZOO engine tests: unpacking a member into a string, bytes fed in
// awkward chunks, and a sink that cancels after N chunks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel::test {

// Hands out at most `chunk` bytes per pull, to prove engines do not depend on pull sizes.
class ChunkedSource final : public engines::ByteSource {
public:
    ChunkedSource(const std::string& bytes, size_t chunk) : bytes_(bytes), chunk_(chunk) {}
    size_t Pull(uint8_t* buffer, size_t capacity) override {
        size_t n = std::min({capacity, chunk_, bytes_.size() - pos_});
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const std::string& bytes_;
    size_t chunk_;
    size_t pos_ = 0;
};

// Cancels on the `limit`-th chunk.
class CancellingSink final : public engines::OutputSink {
public:
    explicit CancellingSink(int limit) : limit_(limit) {}
    bool Put(const uint8_t*, size_t) override { return ++calls_ < limit_; }
    int calls() const { return calls_; }

private:
    int limit_;
    int calls_ = 0;
};

inline std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace quorbel::test
