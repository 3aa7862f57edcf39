// The JPEG output kernels: the 8 x 8 inverse DCT (and its reduced sizes for decoding at 1/2,
// 1/4 and 1/8 scale), chroma upsampling and the YCbCr to BGR conversion. Each has an SSE2 form
// (every x86-64 has it) and a plain form used elsewhere; both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel::jpeg {

// Inverse DCT of one block of dequantised coefficients (natural order, row = vertical
// frequency), level-shifted by 128 and clamped: 8 rows of 8 samples at `out`, `stride` apart.
void InverseDct8(const int16_t* coefficients, uint8_t* out, ptrdiff_t stride);
// The plain form, which the SSE2 form must match (tests compare them).
void InverseDct8Plain(const int16_t* coefficients, uint8_t* out, ptrdiff_t stride);
// Stored coefficients times their quantisation steps (natural order), the products wrapped to
// 16 bits (only a hostile file overflows them; every 16-bit input is safe for the transform).
// True when an AC coefficient is not zero.
bool Dequantise(const int16_t* raw, const uint16_t* steps, int16_t* out);
bool DequantisePlain(const int16_t* raw, const uint16_t* steps, int16_t* out);
// A block whose AC coefficients are all zero: one flat value.
uint8_t DcOnlySample(int dequantised_dc);
// Reduced output: `size` x `size` samples (4, 2 or 1), each the mean of the full block's
// size-wide squares (1: the DC value alone).
void InverseDctScaled(const int16_t* coefficients, int size, uint8_t* out, ptrdiff_t stride);

// Chroma (or any component) brought to the picture's width from a plane row, by repetition:
// every sample repeated `factor` times; `out` receives `out_width` samples.
void UpsampleRowRepeat(const uint8_t* in, int in_width, int factor, uint8_t* out, int out_width);
// Triangle-filter ("fancy") upsampling by 2 in both directions: output row from the nearest
// component row `near` (weight 3) and the next nearest `far` (weight 1), then 3:1 horizontally.
void UpsampleRowFancy2x2(const uint8_t* near, const uint8_t* far, int in_width, uint8_t* out, int out_width);
// The same by 2 horizontally only (4:2:2).
void UpsampleRowFancy2x1(const uint8_t* in, int in_width, uint8_t* out, int out_width);
// The same by 2 vertically only (4:4:0).
void UpsampleRowFancy1x2(const uint8_t* near, const uint8_t* far, int width, uint8_t* out);

// Full-resolution Y, Cb, Cr rows to blue, green, red pixels (BT.601 full range).
void YccToBgrRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width);
void YccToBgrRowPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width);
// Red, green, blue component rows (an RGB JPEG) to blue, green, red pixels.
void RgbToBgrRow(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* bgr, int width);
// A grey row to blue, green, red pixels.
void GreyToBgrRow(const uint8_t* grey, uint8_t* bgr, int width);

}  // namespace quorbel::jpeg
