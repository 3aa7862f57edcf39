#include "platform/large_memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace quorbel {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kLarge = 4 * kHugePage;
}  // namespace

uint8_t* AllocateLarge(size_t size) {
    if (size < kLarge) return static_cast<uint8_t*>(std::malloc(size ? size : 1));
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, size) != 0) return nullptr;
    madvise(p, (size + kHugePage - 1) / kHugePage * kHugePage, MADV_HUGEPAGE);
    return static_cast<uint8_t*>(p);
}

uint8_t* AllocateLargeZeroed(size_t size) {
    if (size < kLarge) return static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
    uint8_t* p = AllocateLarge(size);
    // The pages may come back from an earlier block of this process: not necessarily zero.
    if (p) std::memset(p, 0, size);
    return p;
}

}  // namespace quorbel
