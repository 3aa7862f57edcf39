#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "core/progress_sink.h"

namespace quorbel {
namespace {

// The step is the whole square root plus one, exact at and around every square, up to the
// largest count.
TEST(ProgressStepTest, IsTheWholeSquareRootPlusOne) {
    const struct {
        uint64_t count, step;
    } rows[] = {
        {0, 1}, {1, 2}, {2, 2}, {3, 2}, {4, 3}, {99, 10}, {100, 11}, {101, 11},
        {(uint64_t(1) << 32) - 1, 65536}, {uint64_t(1) << 32, 65537},
        {uint64_t(4294967295) * 4294967295, 4294967296}, {uint64_t(4294967295) * 4294967295 - 1, 4294967295},
        {UINT64_MAX, 4294967296},
    };
    for (const auto& r : rows) EXPECT_EQ(ProgressStep(r.count), r.step) << r.count;
    for (uint64_t n = 0; n < 100000; n += 7) {
        const uint64_t root = uint64_t(std::sqrt(double(n)));
        ASSERT_EQ(ProgressStep(n), root + 1) << n;
    }
}

}  // namespace
}  // namespace quorbel
