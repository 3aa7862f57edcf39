// The LZW variant of TIFF strips: 9- to 12-bit codes, clear code 256, end code 257. Current
// writers pack codes most significant bit first and widen the code one entry early; the first
// writers (recognised by a leading 00 01: a clear code packed least significant bit first) pack
// them the other way round and widen on time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

enum class LzwResult {
    Full,       // the output buffer was filled
    Short,      // the data ended (end code or last byte) before the buffer was full
    Corrupt,    // a code that names no string
};

// True when the strip starts like the old least-significant-bit-first packing.
bool LzwIsOldStyle(const uint8_t* data, size_t size);

// Decodes one strip into `out` (exactly `capacity` bytes wanted). `written` gets the bytes
// produced; decoding stops as soon as the buffer is full.
LzwResult LzwDecode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, size_t& written);

}  // namespace quorbel
