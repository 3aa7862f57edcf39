#include "picture/codecs/jpeg_idct.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <cpuid.h>
#include <emmintrin.h>
#include <tmmintrin.h>
#define QUORBEL_JPEG_SSE2 1
#endif

namespace quorbel::jpeg {

namespace {

// The transform as a matrix: sample n of a row = sum over k of M[n][k] x coefficient k, with
// M[n][k] = c(k) cos((2n + 1) k pi / 16), c(0) = 1 / (2 sqrt 2), c(k) = 1 / 2, in units of 2^-14.
// Rows n and 7 - n share their even terms and differ in the sign of their odd ones, which
// halves the work of both forms.
constexpr int kConstBits = 14;
// The first pass keeps two fractional bits; the second removes them with the constants' bits.
constexpr int kPass1Shift = kConstBits - 2;
constexpr int kPass2Shift = kConstBits + 2;

struct Matrix {
    int16_t m[8][8];
};

// The values of the formula above, rounded to the nearest unit (a table rather than a
// computation at start, which would need the maths library in every program that links us).
constexpr Matrix kMatrix = {{
    {5793, 8035, 7568, 6811, 5793, 4551, 3135, 1598},
    {5793, 6811, 3135, -1598, -5793, -8035, -7568, -4551},
    {5793, 4551, -3135, -8035, -5793, 1598, 7568, 6811},
    {5793, 1598, -7568, -4551, 5793, 6811, -3135, -8035},
    {5793, -1598, -7568, 4551, 5793, -6811, -3135, 8035},
    {5793, -4551, -3135, 8035, -5793, -1598, 7568, -6811},
    {5793, -6811, 3135, 1598, -5793, 8035, -7568, 4551},
    {5793, -8035, 7568, -6811, 5793, -4551, 3135, -1598},
}};

inline int16_t Saturate16(int64_t v) { return int16_t(std::clamp<int64_t>(v, -32768, 32767)); }
inline uint8_t Clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

}  // namespace

bool DequantisePlain(const int16_t* raw, const uint16_t* steps, int16_t* out) {
    bool any = false;
    for (int i = 0; i < 64; ++i) {
        out[i] = int16_t(uint16_t(uint32_t(uint16_t(raw[i])) * steps[i]));
        any = any || (i > 0 && raw[i] != 0);
    }
    return any;
}

#ifdef QUORBEL_JPEG_SSE2
bool Dequantise(const int16_t* raw, const uint16_t* steps, int16_t* out) {
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + i));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_mullo_epi16(c, q));
        any = _mm_or_si128(any, i == 0 ? _mm_slli_si128(_mm_srli_si128(c, 2), 2) : c);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
}
#else
bool Dequantise(const int16_t* raw, const uint16_t* steps, int16_t* out) { return DequantisePlain(raw, steps, out); }
#endif

uint8_t DcOnlySample(int dequantised_dc) { return Clamp255((dequantised_dc + 1028) >> 3); }

void InverseDct8Plain(const int16_t* c, uint8_t* out, ptrdiff_t stride) {
    const Matrix& mat = kMatrix;
    int16_t t[8][8];
    // Columns: the vertical frequencies of each column to samples.
    for (int u = 0; u < 8; ++u)
        for (int y = 0; y < 8; ++y) {
            int64_t sum = int64_t(1) << (kPass1Shift - 1);
            for (int v = 0; v < 8; ++v) sum += int64_t(mat.m[y][v]) * c[v * 8 + u];
            t[y][u] = Saturate16(sum >> kPass1Shift);
        }
    // Rows.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int64_t sum = (int64_t(128) << kPass2Shift) + (int64_t(1) << (kPass2Shift - 1));
            for (int u = 0; u < 8; ++u) sum += int64_t(mat.m[x][u]) * t[y][u];
            out[y * stride + x] = uint8_t(std::clamp<int64_t>(Saturate16(sum >> kPass2Shift), 0, 255));
        }
}

#ifdef QUORBEL_JPEG_SSE2

namespace {

// Pair constants for _mm_madd_epi16 over interleaved rows: [n][0] even (0,2), [n][1] even (4,6),
// [n][2] odd (1,3), [n][3] odd (5,7).
struct PairConstants {
    __m128i k[4][4];
    PairConstants() {
        const Matrix& mat = kMatrix;
        for (int n = 0; n < 4; ++n) {
            const int pairs[4][2] = {{0, 2}, {4, 6}, {1, 3}, {5, 7}};
            for (int p = 0; p < 4; ++p) {
                const int16_t a = mat.m[n][pairs[p][0]], b = mat.m[n][pairs[p][1]];
                k[n][p] = _mm_set_epi16(b, a, b, a, b, a, b, a);
            }
        }
    }
};

const PairConstants& ThePairs() {
    static const PairConstants pairs;
    return pairs;
}

// One pass over eight rows of eight lanes: out[n] = sum over k of M[n][k] x in[k], per lane.
template <int kShift>
inline void Pass(const __m128i in[8], __m128i out[8], __m128i bias, const PairConstants& kc) {
    const __m128i p02l = _mm_unpacklo_epi16(in[0], in[2]), p02h = _mm_unpackhi_epi16(in[0], in[2]);
    const __m128i p46l = _mm_unpacklo_epi16(in[4], in[6]), p46h = _mm_unpackhi_epi16(in[4], in[6]);
    const __m128i p13l = _mm_unpacklo_epi16(in[1], in[3]), p13h = _mm_unpackhi_epi16(in[1], in[3]);
    const __m128i p57l = _mm_unpacklo_epi16(in[5], in[7]), p57h = _mm_unpackhi_epi16(in[5], in[7]);
    for (int n = 0; n < 4; ++n) {
        const __m128i* k = kc.k[n];
        __m128i el = _mm_add_epi32(_mm_madd_epi16(p02l, k[0]), _mm_madd_epi16(p46l, k[1]));
        __m128i eh = _mm_add_epi32(_mm_madd_epi16(p02h, k[0]), _mm_madd_epi16(p46h, k[1]));
        const __m128i ol = _mm_add_epi32(_mm_madd_epi16(p13l, k[2]), _mm_madd_epi16(p57l, k[3]));
        const __m128i oh = _mm_add_epi32(_mm_madd_epi16(p13h, k[2]), _mm_madd_epi16(p57h, k[3]));
        el = _mm_add_epi32(el, bias);
        eh = _mm_add_epi32(eh, bias);
        out[n] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(el, ol), kShift),
                                 _mm_srai_epi32(_mm_add_epi32(eh, oh), kShift));
        out[7 - n] = _mm_packs_epi32(_mm_srai_epi32(_mm_sub_epi32(el, ol), kShift),
                                     _mm_srai_epi32(_mm_sub_epi32(eh, oh), kShift));
    }
}

inline void Transpose(const __m128i r[8], __m128i o[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    o[0] = _mm_unpacklo_epi64(b0, b4);
    o[1] = _mm_unpackhi_epi64(b0, b4);
    o[2] = _mm_unpacklo_epi64(b1, b5);
    o[3] = _mm_unpackhi_epi64(b1, b5);
    o[4] = _mm_unpacklo_epi64(b2, b6);
    o[5] = _mm_unpackhi_epi64(b2, b6);
    o[6] = _mm_unpacklo_epi64(b3, b7);
    o[7] = _mm_unpackhi_epi64(b3, b7);
}

}  // namespace

void InverseDct8(const int16_t* c, uint8_t* out, ptrdiff_t stride) {
    const PairConstants& kc = ThePairs();
    __m128i rows[8], a[8], b[8];
    for (int i = 0; i < 8; ++i) rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * i));
    Pass<kPass1Shift>(rows, a, _mm_set1_epi32(1 << (kPass1Shift - 1)), kc);
    Transpose(a, b);
    Pass<kPass2Shift>(b, a, _mm_set1_epi32((128 << kPass2Shift) + (1 << (kPass2Shift - 1))), kc);
    Transpose(a, b);
    for (int y = 0; y < 8; y += 2) {
        const __m128i two = _mm_packus_epi16(b[y], b[y + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * stride), two);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (y + 1) * stride), _mm_srli_si128(two, 8));
    }
}

#else

void InverseDct8(const int16_t* c, uint8_t* out, ptrdiff_t stride) { InverseDct8Plain(c, out, stride); }

#endif

void InverseDctScaled(const int16_t* c, int size, uint8_t* out, ptrdiff_t stride) {
    if (size <= 1) {
        out[0] = DcOnlySample(c[0]);
        return;
    }
    if (size >= 8) {
        InverseDct8(c, out, stride);
        return;
    }
    uint8_t full[64];
    InverseDct8(c, full, 8);
    const int f = 8 / size, area = f * f;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            int sum = area / 2;
            for (int j = 0; j < f; ++j)
                for (int i = 0; i < f; ++i) sum += full[(y * f + j) * 8 + x * f + i];
            out[y * stride + x] = uint8_t(sum / area);
        }
}

// --- upsampling ------------------------------------------------------------------------------

void UpsampleRowRepeat(const uint8_t* in, int in_width, int factor, uint8_t* out, int out_width) {
    if (factor == 1) {
        std::memcpy(out, in, size_t(std::min(in_width, out_width)));
        for (int x = in_width; x < out_width; ++x) out[x] = in_width > 0 ? in[in_width - 1] : 0;
        return;
    }
    int x = 0;
    if (factor == 2) {
        const int pairs = std::min(in_width, out_width / 2);
        int i = 0;
#ifdef QUORBEL_JPEG_SSE2
        for (; i + 16 <= pairs; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(v, v));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(v, v));
        }
#endif
        for (; i < pairs; ++i) out[2 * i] = out[2 * i + 1] = in[i];
        x = 2 * pairs;
    }
    for (; x < out_width; ++x) out[x] = in[std::min(x / factor, in_width - 1)];
}

namespace {

// 3 x near + far per column (0..1020).
void ColumnSums(const uint8_t* near, const uint8_t* far, uint16_t* v, int n) {
    int i = 0;
#ifdef QUORBEL_JPEG_SSE2
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(near + i)), zero);
        const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(far + i)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), _mm_add_epi16(_mm_add_epi16(a, _mm_add_epi16(a, a)), b));
    }
#endif
    for (; i < n; ++i) v[i] = uint16_t(3 * near[i] + far[i]);
}

}  // namespace

void UpsampleRowFancy2x2(const uint8_t* near, const uint8_t* far, int in_width, uint8_t* out, int out_width) {
    // Column sums first, then 3:1 between neighbouring sums; the two outputs of a sample round
    // by 8 and 7 so that neither direction is favoured.
    constexpr int kChunk = 2048;
    alignas(16) uint16_t sums[kChunk + 16];
    uint16_t* v = sums + 8;
    for (int start = 0; start < in_width; start += kChunk) {
        const int n = std::min(kChunk, in_width - start);
        ColumnSums(near + start, far + start, v, n);
        v[-1] = start > 0 ? uint16_t(3 * near[start - 1] + far[start - 1]) : v[0];
        v[n] = start + n < in_width ? uint16_t(3 * near[start + n] + far[start + n]) : v[n - 1];
        uint8_t* o = out + 2 * start;
        const int limit = out_width - 2 * start;
        const int whole = std::min(n, limit / 2);
        int i = 0;
#ifdef QUORBEL_JPEG_SSE2
        const __m128i eight = _mm_set1_epi16(8), seven = _mm_set1_epi16(7);
        for (; i + 8 <= whole; i += 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i - 1));
            const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i + 1));
            const __m128i a3 = _mm_add_epi16(a, _mm_add_epi16(a, a));
            const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a3, l), eight), 4);
            const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a3, r), seven), 4);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 2 * i),
                             _mm_packus_epi16(_mm_unpacklo_epi16(even, odd), _mm_unpackhi_epi16(even, odd)));
        }
#endif
        for (; i < whole; ++i) {
            o[2 * i] = uint8_t((3 * v[i] + v[i - 1] + 8) >> 4);
            o[2 * i + 1] = uint8_t((3 * v[i] + v[i + 1] + 7) >> 4);
        }
        if (whole < n && 2 * whole < limit) o[2 * whole] = uint8_t((3 * v[whole] + v[whole - 1] + 8) >> 4);
    }
}

void UpsampleRowFancy2x1(const uint8_t* in, int in_width, uint8_t* out, int out_width) {
    for (int i = 0; i < in_width; ++i) {
        const int left = in[i > 0 ? i - 1 : 0], right = in[i + 1 < in_width ? i + 1 : i];
        if (2 * i < out_width) out[2 * i] = uint8_t((3 * in[i] + left + 1) >> 2);
        if (2 * i + 1 < out_width) out[2 * i + 1] = uint8_t((3 * in[i] + right + 2) >> 2);
    }
}

void UpsampleRowFancy1x2(const uint8_t* near, const uint8_t* far, int width, uint8_t* out) {
    for (int i = 0; i < width; ++i) out[i] = uint8_t((3 * near[i] + far[i] + 2) >> 2);
}

// --- colour conversion -----------------------------------------------------------------------

// BT.601 in units of 2^-14: 1.402, 0.34414, 0.71414, 1.772.
constexpr int kCrR = 22970, kCbG = 5638, kCrG = 11700, kCbB = 29032, kRound = 1 << 13;

void YccToBgrRowPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width) {
    for (int x = 0; x < width; ++x) {
        const int l = y[x], b = cb[x] - 128, r = cr[x] - 128;
        bgr[3 * x + 0] = Clamp255(l + ((b * kCbB + kRound) >> 14));
        bgr[3 * x + 1] = Clamp255(l - ((b * kCbG + r * kCrG + kRound) >> 14));
        bgr[3 * x + 2] = Clamp255(l + ((r * kCrR + kRound) >> 14));
    }
}

#ifdef QUORBEL_JPEG_SSE2

namespace {

// Eight pixels: blue, green and red as 16-bit lanes (unclamped), by the plain form's formula.
inline void Ycc8(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, __m128i& B, __m128i& G, __m128i& R) {
    const __m128i zero = _mm_setzero_si128(), c128 = _mm_set1_epi16(128), one = _mm_set1_epi16(1);
    const __m128i kr = _mm_set_epi16(kRound, kCrR, kRound, kCrR, kRound, kCrR, kRound, kCrR);
    const __m128i kb = _mm_set_epi16(kRound, kCbB, kRound, kCbB, kRound, kCbB, kRound, kCbB);
    const __m128i kg = _mm_set_epi16(kCrG, kCbG, kCrG, kCbG, kCrG, kCbG, kCrG, kCbG);
    const __m128i round = _mm_set1_epi32(kRound);
    const __m128i l = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), zero);
    const __m128i b = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero), c128);
    const __m128i r = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero), c128);
    const __m128i r1l = _mm_unpacklo_epi16(r, one), r1h = _mm_unpackhi_epi16(r, one);
    const __m128i b1l = _mm_unpacklo_epi16(b, one), b1h = _mm_unpackhi_epi16(b, one);
    const __m128i brl = _mm_unpacklo_epi16(b, r), brh = _mm_unpackhi_epi16(b, r);
    const __m128i dr = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(r1l, kr), 14), _mm_srai_epi32(_mm_madd_epi16(r1h, kr), 14));
    const __m128i db = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(b1l, kb), 14), _mm_srai_epi32(_mm_madd_epi16(b1h, kb), 14));
    const __m128i dg = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(brl, kg), round), 14),
                                       _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(brh, kg), round), 14));
    B = _mm_add_epi16(l, db);
    G = _mm_sub_epi16(l, dg);
    R = _mm_add_epi16(l, dr);
}

// Byte shuffles that interleave 16 blue, 16 green and 16 red bytes into 48 bytes of pixels:
// for output vector o and channel c, lane j takes pixel (16 o + j) / 3 when (16 o + j) % 3 == c.
struct Interleave {
    alignas(16) uint8_t mask[3][3][16] = {};
    constexpr Interleave() {
        for (int o = 0; o < 3; ++o)
            for (int c = 0; c < 3; ++c)
                for (int j = 0; j < 16; ++j) {
                    const int byte = 16 * o + j;
                    mask[o][c][j] = byte % 3 == c ? uint8_t(byte / 3) : 0x80;
                }
    }
};
constexpr Interleave kInterleave;

// Sixteen pixels a step, written as three whole vectors (SSSE3's byte shuffle).
__attribute__((target("ssse3"))) int YccToBgrSsse3(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr,
                                                    int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i b0, g0, r0, b1, g1, r1;
        Ycc8(y + x, cb + x, cr + x, b0, g0, r0);
        Ycc8(y + x + 8, cb + x + 8, cr + x + 8, b1, g1, r1);
        const __m128i B = _mm_packus_epi16(b0, b1), G = _mm_packus_epi16(g0, g1), R = _mm_packus_epi16(r0, r1);
        for (int o = 0; o < 3; ++o) {
            const __m128i* m = reinterpret_cast<const __m128i*>(kInterleave.mask[o]);
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(B, _mm_load_si128(m)), _mm_shuffle_epi8(G, _mm_load_si128(m + 1))),
                                           _mm_shuffle_epi8(R, _mm_load_si128(m + 2)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x + 16 * o), v);
        }
    }
    return x;
}

// Asked once, when the first row is converted: the compiler's own probe
// (__builtin_cpu_supports) runs a series of CPUID instructions at the start of every program
// that links this file, and each is slow in a virtual machine.
bool HaveSsse3() {
    static const bool have = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3) != 0;
    }();
    return have;
}

}  // namespace

void YccToBgrRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width) {
    int x = 0;
    if (HaveSsse3()) x = YccToBgrSsse3(y, cb, cr, bgr, width);
    const __m128i zero = _mm_setzero_si128();
    // Eight pixels a step, each written as four bytes whose last the next pixel overwrites, so
    // the loop stops while a ninth pixel's room remains.
    for (; x + 9 <= width; x += 8) {
        __m128i b, g, r;
        Ycc8(y + x, cb + x, cr + x, b, g, r);
        const __m128i B = _mm_packus_epi16(b, zero), G = _mm_packus_epi16(g, zero), R = _mm_packus_epi16(r, zero);
        const __m128i bg = _mm_unpacklo_epi8(B, G), r0 = _mm_unpacklo_epi8(R, zero);
        alignas(16) uint32_t px[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(px), _mm_unpacklo_epi16(bg, r0));
        _mm_store_si128(reinterpret_cast<__m128i*>(px + 4), _mm_unpackhi_epi16(bg, r0));
        uint8_t* o = bgr + 3 * x;
        for (int i = 0; i < 8; ++i) std::memcpy(o + 3 * i, px + i, 4);
    }
    YccToBgrRowPlain(y + x, cb + x, cr + x, bgr + 3 * x, width - x);
}

#else

void YccToBgrRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width) {
    YccToBgrRowPlain(y, cb, cr, bgr, width);
}

#endif

void RgbToBgrRow(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* bgr, int width) {
    for (int x = 0; x < width; ++x) {
        bgr[3 * x + 0] = b[x];
        bgr[3 * x + 1] = g[x];
        bgr[3 * x + 2] = r[x];
    }
}

void GreyToBgrRow(const uint8_t* grey, uint8_t* bgr, int width) {
    for (int x = 0; x < width; ++x) bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = grey[x];
}

}  // namespace quorbel::jpeg
