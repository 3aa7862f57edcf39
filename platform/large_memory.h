// Memory for big buffers (whole pictures, whole members). Fresh pages cost a fault each, and
// under some virtual machines a fault costs more than filling the page: buffers of several
// megabytes are aligned to and marked for huge pages, one fault per 2 MiB.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

// `size` bytes (at least one), uninitialised; nullptr when there is no memory. Free with
// std::free.
uint8_t* AllocateLarge(size_t size);
// The same, all zero.
uint8_t* AllocateLargeZeroed(size_t size);

}  // namespace quorbel
