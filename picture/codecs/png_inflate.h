// A whole-buffer inflater (raw deflate data, no zlib wrapper) for the PNG decoder: the image's
// size is known before decoding, so the output is one block of exactly that size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

// Decodes the deflate blocks at in[0..in_size) up to and including the final block into
// out[0..out_size). `out` must have kInflateSlack writable bytes after out_size (copies run in
// 8-byte steps). Returns true and the bytes produced and consumed (to the byte after the final
// block), or false on any malformed stream: a bad block type, stored-length mismatch, an
// over-subscribed code set, a repeat code with no previous length, code lengths running past
// their table, length symbols 286/287, distance symbols 30/31, a distance reaching before the
// output, more output than out_size, or input running out.
constexpr size_t kInflateSlack = 16;
bool InflateRaw(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size, size_t& produced,
                size_t& consumed);

}  // namespace quorbel
