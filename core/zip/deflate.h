// Deflate and CRC-32 behind one interface: whole blocks through libdeflate, large members
// through zlib's streaming calls so that progress and abort keep working.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/progress_sink.h"

namespace quorbel::zip {

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);

// Members above this size are inflated in steps with progress; smaller ones in one call.
inline constexpr size_t kStreamingThreshold = 64u << 20;
inline constexpr size_t kStreamingStep = 1u << 20;

enum class InflateResult { Ok, DataError, Aborted };

// Inflates raw deflate data into exactly `out_size` bytes: fewer bytes, more bytes, or damaged
// data is a DataError. Large outputs report to `sink` (range 0..out_size, position = bytes
// produced) and stop with Aborted when it says so.
InflateResult InflateRaw(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size,
                         ProgressSink& sink);

}  // namespace quorbel::zip
