// A decoded picture. Whatever the source depth, the pixels are held as one 24-bit
// device-independent bitmap: a 40-byte BITMAPINFOHEADER followed by the pixel rows, bottom row
// first, each row blue-green-red per pixel and padded to a multiple of 4 bytes. Row(y) reaches
// row y counted from the top. The source palette and depth are kept beside the pixels for
// information; transparency lives in an optional alpha plane of width x height bytes, row-major
// from the top row, 255 opaque and 0 transparent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorbel {

struct Bgr {
    uint8_t b = 0, g = 0, r = 0;
    bool operator==(const Bgr&) const = default;
};

class CPicture {
public:
    static constexpr int kMaxSide = 65535;      // width and height are 16-bit
    static constexpr int kHeaderSize = 40;      // BITMAPINFOHEADER
    static constexpr size_t kMaxTextLength = 256;

    CPicture();
    ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // Same size as now: nothing happens (the pixels stay), true. Otherwise Clear, then a new
    // zeroed 24-bit block; false (picture left empty) for a side outside 1..65535, a size
    // beyond the pixel budget (PictureSizeAllowed) or when memory runs out.
    bool Create(int width, int height);
    // Frees the pixels, alpha plane and palette; description back to "Raw Memory".
    void Clear();
    void Destroy() { Clear(); }
    // Exchanges everything two pictures hold (a scaled copy taking the place of the original).
    void Swap(CPicture& other) noexcept;

    bool SetPixel(int x, int y, Bgr colour);
    // False and black outside the picture.
    bool GetPixel(int x, int y, Bgr& colour) const;

    // The alpha plane: allocated filled with 255 when there is none.
    bool EnsureAlpha();
    void DropAlpha();
    bool HasAlpha() const { return !alpha_.empty(); }
    bool SetAlpha(int x, int y, uint8_t value);
    // 0..255, or -1 without a plane or outside the picture.
    int GetAlpha(int x, int y) const;
    // Row y of the alpha plane (width bytes), null without a plane or outside.
    uint8_t* AlphaRow(int y);
    const uint8_t* AlphaRow(int y) const;

    // A palette already holding n entries stays; otherwise n zeroed entries replace it and the
    // depth becomes the smallest bit count that indexes them (2 -> 1, 16 -> 4, 256 -> 8).
    void SetPaletteSize(int n);
    void SetPaletteEntry(int i, Bgr colour);
    // Null when i is not an entry.
    const Bgr* GetPaletteEntry(int i) const;
    int PaletteCount() const { return int(palette_.size()); }
    // Drops the palette only (the depth stays).
    void ClearPalette();
    // Forgets palette, alpha plane and source depth, keeping the pixels (a picture handed from
    // one codec to the next must not carry the first one's findings).
    void ResetDecodeState();

    // Clear, then a copy of every row, the alpha plane, depth, description and source name.
    bool CopyFrom(const CPicture& other);
    // Corners in any order, inclusive, clamped to the picture; null when the rectangle lies
    // outside it.
    std::unique_ptr<CPicture> CopyRect(int x0, int y0, int x1, int y1) const;
    // Builds the picture from a packed DIB: BITMAPINFOHEADER (40 bytes or larger), colour table
    // (or three masks with compression 3), then bottom-up rows. Depths 1, 4, 8 (colour table),
    // 16 (5-5-5, or the masks of compression 3), 24, 32 (masks honoured with compression 3).
    // Every read is bounded by `size`; false on anything it cannot read.
    bool FromPackedDib(const uint8_t* block, size_t size);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool IsEmpty() const { return dib_ == nullptr; }
    int Depth() const { return depth_; }
    void SetDepth(int bits) { depth_ = bits; }
    const std::string& Description() const { return description_; }
    const std::string& SourceName() const { return source_name_; }
    void SetDescription(const std::string& text);  // at most 256 characters kept
    void SetSourceName(const std::string& text);
    int Stride() const { return stride_; }          // bytes per 24-bit row, multiple of 4
    size_t DibSize() const { return dib_size_; }    // header + stride x height
    int Resolution() const { return 72; }
    const uint8_t* DibHeader() const { return dib_; }
    uint8_t* Bits() { return dib_ ? dib_ + kHeaderSize : nullptr; }
    const uint8_t* Bits() const { return dib_ ? dib_ + kHeaderSize : nullptr; }
    // Row y from the top: width x 3 bytes blue, green, red.
    uint8_t* Row(int y) { return rows_[size_t(y)]; }
    const uint8_t* Row(int y) const { return rows_[size_t(y)]; }

    // Row stride of source data: ((width x bits + 31) / 32) x 4, 15 bits counted as 16.
    static uint64_t SourceStride(int bits, uint64_t width);

private:
    uint8_t* dib_ = nullptr;
    size_t dib_size_ = 0;
    std::vector<uint8_t*> rows_;
    std::vector<Bgr> palette_;
    std::vector<uint8_t> alpha_;
    int width_ = 0, height_ = 0, depth_ = 0, stride_ = 0;
    std::string description_ = "Raw Memory";
    std::string source_name_;
};

// A palette lookup that every index byte may use: 256 entries, the ones a file did not give
// black, so a pixel index beyond a short palette can never reach outside the table.
class PaletteLookup {
public:
    PaletteLookup() = default;
    // Entries taken from the picture's palette (at most 256).
    explicit PaletteLookup(const CPicture& picture);
    void Set(unsigned index, Bgr colour) {
        if (index < 256) entries_[index] = colour;
    }
    Bgr operator[](unsigned index) const { return entries_[index & 255]; }

private:
    std::array<Bgr, 256> entries_{};
};

// One channel of a bit-field mask (16- and 32-bit pixels), widened to 8 bits with rounding, so
// a full 5-bit channel reads 255 and 3 of 31 reads 25.
class BitFieldChannel {
public:
    explicit BitFieldChannel(uint32_t mask);
    uint8_t Of(uint32_t pixel) const;
    int Bits() const { return bits_; }

private:
    uint32_t mask_ = 0;
    int shift_ = 0, bits_ = 0;
};

// The shared size check every decoder makes before Create: both sides 1..65535, the pixel
// count within the budget (64-bit arithmetic throughout).
bool PictureSizeAllowed(int64_t width, int64_t height);
// The same, and for uncompressed data: `bytes_needed` (computed by the caller in 64-bit) must
// not exceed `bytes_available`, the bytes the stream still holds.
bool PictureDataFits(int64_t width, int64_t height, uint64_t bytes_needed, int64_t bytes_available);
// The pixel budget (default 128 Mi pixels, 384 MB of pixels); tests lower it.
uint64_t PixelBudget();
void SetPixelBudget(uint64_t pixels);

}  // namespace quorbel
