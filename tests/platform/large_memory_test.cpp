#include "platform/large_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorbel {
namespace {

TEST(LargeMemory, ZeroedBlocksAreZeroAlsoWhenMemoryIsReused) {
    // Freed blocks raise the allocator's threshold for fresh mappings, so later blocks of the
    // same size may reuse dirty memory: each must still come back zero.
    for (size_t size : {size_t(100), size_t(9) << 20, size_t(9) << 20, size_t(20) << 20, size_t(9) << 20}) {
        SCOPED_TRACE(size);
        uint8_t* p = AllocateLargeZeroed(size);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(std::all_of(p, p + size, [](uint8_t b) { return b == 0; }));
        std::memset(p, 0xAB, size);
        std::free(p);
    }
    // Big blocks start on a huge-page boundary; a zero size still gives a block.
    uint8_t* big = AllocateLarge(size_t(16) << 20);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % (uintptr_t(2) << 20), 0u);
    std::free(big);
    uint8_t* none = AllocateLarge(0);
    EXPECT_NE(none, nullptr);
    std::free(none);
}

}  // namespace
}  // namespace quorbel
