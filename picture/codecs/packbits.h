// PackBits, the run-length code of TIFF strips and layered-image rows: a signed control byte n,
// 0..127 copies the next n + 1 bytes, -1..-127 repeats the next byte 1 - n times, -128 does
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

// Unpacks `size` bytes into `out`; no run ever writes past `capacity` (a run that would is cut
// at the end of the buffer). Returns the bytes produced, fewer than `capacity` when the data
// ran out first.
size_t PackBitsDecode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity);

}  // namespace quorbel
