#include "picture/picture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/large_memory.h"

namespace quorbel {

namespace {

uint64_t g_pixel_budget = uint64_t(128) * 1024 * 1024;

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t GetLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

std::string Cut(const std::string& text) {
    return text.size() > CPicture::kMaxTextLength ? text.substr(0, CPicture::kMaxTextLength) : text;
}


}  // namespace

BitFieldChannel::BitFieldChannel(uint32_t mask) : mask_(mask) {
    if (!mask) return;
    while (!((mask >> shift_) & 1)) ++shift_;
    while (shift_ + bits_ < 32 && ((mask >> (shift_ + bits_)) & 1)) ++bits_;
}

uint8_t BitFieldChannel::Of(uint32_t pixel) const {
    if (!bits_) return 0;
    const uint32_t v = (pixel & mask_) >> shift_;
    if (bits_ >= 8) return uint8_t(v >> (bits_ - 8));
    const uint32_t most = (1u << bits_) - 1;
    return uint8_t((v * 255 + most / 2) / most);
}

uint64_t PixelBudget() { return g_pixel_budget; }
void SetPixelBudget(uint64_t pixels) { g_pixel_budget = pixels; }

bool PictureSizeAllowed(int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > CPicture::kMaxSide || height > CPicture::kMaxSide)
        return false;
    return uint64_t(width) * uint64_t(height) <= g_pixel_budget;
}

bool PictureDataFits(int64_t width, int64_t height, uint64_t bytes_needed, int64_t bytes_available) {
    if (!PictureSizeAllowed(width, height)) return false;
    return bytes_available >= 0 && bytes_needed <= uint64_t(bytes_available);
}

uint64_t CPicture::SourceStride(int bits, uint64_t width) {
    if (bits == 15) bits = 16;
    return ((width * uint64_t(bits) + 31) / 32) * 4;
}

CPicture::CPicture() = default;
CPicture::~CPicture() { Clear(); }

void CPicture::Clear() {
    std::free(dib_);
    dib_ = nullptr;
    dib_size_ = 0;
    rows_.clear();
    rows_.shrink_to_fit();
    palette_.clear();
    palette_.shrink_to_fit();
    alpha_.clear();
    alpha_.shrink_to_fit();
    width_ = height_ = depth_ = stride_ = 0;
    description_ = "Raw Memory";
    source_name_.clear();
}

void CPicture::Swap(CPicture& other) noexcept {
    std::swap(dib_, other.dib_);
    std::swap(dib_size_, other.dib_size_);
    rows_.swap(other.rows_);
    palette_.swap(other.palette_);
    alpha_.swap(other.alpha_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
    std::swap(depth_, other.depth_);
    std::swap(stride_, other.stride_);
    description_.swap(other.description_);
    source_name_.swap(other.source_name_);
}

bool CPicture::Create(int width, int height) {
    if (dib_ && width == width_ && height == height_) return true;
    Clear();
    if (!PictureSizeAllowed(width, height)) return false;
    const uint64_t stride = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
    const uint64_t image = stride * uint64_t(height);
    const uint64_t total = image + kHeaderSize;
    if (total > SIZE_MAX || image > 0xFFFFFFFFu) return false;
    try {
        rows_.resize(size_t(height));
    } catch (const std::bad_alloc&) {
        rows_.clear();
        return false;
    }
    dib_ = AllocateLargeZeroed(size_t(total));
    if (!dib_) {
        rows_.clear();
        return false;
    }
    width_ = width;
    height_ = height;
    stride_ = int(stride);
    depth_ = 24;
    dib_size_ = size_t(total);
    uint8_t* h = dib_;
    PutLe32(h + 0, kHeaderSize);
    PutLe32(h + 4, uint32_t(width));
    PutLe32(h + 8, uint32_t(height));
    PutLe16(h + 12, 1);
    PutLe16(h + 14, 24);
    PutLe32(h + 16, 0);
    PutLe32(h + 20, uint32_t(image));
    uint8_t* bits = dib_ + kHeaderSize;
    for (int y = 0; y < height; ++y) rows_[size_t(y)] = bits + size_t(height - 1 - y) * stride;
    return true;
}

bool CPicture::SetPixel(int x, int y, Bgr c) {
    if (!dib_ || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    uint8_t* p = rows_[size_t(y)] + size_t(x) * 3;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    return true;
}

bool CPicture::GetPixel(int x, int y, Bgr& c) const {
    if (!dib_ || x < 0 || y < 0 || x >= width_ || y >= height_) {
        c = Bgr{};
        return false;
    }
    const uint8_t* p = rows_[size_t(y)] + size_t(x) * 3;
    c = Bgr{p[0], p[1], p[2]};
    return true;
}

bool CPicture::EnsureAlpha() {
    if (!dib_) return false;
    if (!alpha_.empty()) return true;
    try {
        alpha_.assign(size_t(width_) * size_t(height_), 255);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CPicture::DropAlpha() {
    alpha_.clear();
    alpha_.shrink_to_fit();
}

bool CPicture::SetAlpha(int x, int y, uint8_t value) {
    if (alpha_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    alpha_[size_t(y) * size_t(width_) + size_t(x)] = value;
    return true;
}

int CPicture::GetAlpha(int x, int y) const {
    if (alpha_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
    return alpha_[size_t(y) * size_t(width_) + size_t(x)];
}

uint8_t* CPicture::AlphaRow(int y) {
    if (alpha_.empty() || y < 0 || y >= height_) return nullptr;
    return alpha_.data() + size_t(y) * size_t(width_);
}

const uint8_t* CPicture::AlphaRow(int y) const {
    if (alpha_.empty() || y < 0 || y >= height_) return nullptr;
    return alpha_.data() + size_t(y) * size_t(width_);
}

void CPicture::SetPaletteSize(int n) {
    if (n < 0) n = 0;
    if (!palette_.empty() && int(palette_.size()) >= n) return;
    palette_.assign(size_t(n), Bgr{});
    int bits = 0;
    for (int i = 1; i <= 23; ++i)
        if ((int64_t(1) << i) >= n) {
            bits = i;
            break;
        }
    depth_ = bits ? bits : (HasAlpha() ? 32 : 24);
}

void CPicture::SetPaletteEntry(int i, Bgr c) {
    if (i < 0 || size_t(i) >= palette_.size()) return;
    palette_[size_t(i)] = c;
}

const Bgr* CPicture::GetPaletteEntry(int i) const {
    if (i < 0 || size_t(i) >= palette_.size()) return nullptr;
    return &palette_[size_t(i)];
}

void CPicture::ClearPalette() {
    palette_.clear();
    palette_.shrink_to_fit();
}

void CPicture::ResetDecodeState() {
    palette_.clear();
    palette_.shrink_to_fit();
    DropAlpha();
    depth_ = dib_ ? 24 : 0;
}

void CPicture::SetDescription(const std::string& text) { description_ = Cut(text); }
void CPicture::SetSourceName(const std::string& text) { source_name_ = Cut(text); }

bool CPicture::CopyFrom(const CPicture& other) {
    if (&other == this) return true;
    Clear();
    if (other.IsEmpty()) return true;
    if (!Create(other.width_, other.height_)) return false;
    std::memcpy(Bits(), other.Bits(), size_t(stride_) * size_t(height_));
    if (other.HasAlpha()) {
        try {
            alpha_ = other.alpha_;
        } catch (const std::bad_alloc&) {
            Clear();
            return false;
        }
    }
    palette_ = other.palette_;
    depth_ = other.depth_;
    description_ = other.description_;
    source_name_ = other.source_name_;
    return true;
}

std::unique_ptr<CPicture> CPicture::CopyRect(int x0, int y0, int x1, int y1) const {
    if (IsEmpty()) return nullptr;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    if (x1 < 0 || y1 < 0 || x0 >= width_ || y0 >= height_) return nullptr;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width_ - 1);
    y1 = std::min(y1, height_ - 1);
    auto out = std::make_unique<CPicture>();
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    if (!out->Create(w, h)) return nullptr;
    for (int y = 0; y < h; ++y) {
        std::memcpy(out->Row(y), Row(y0 + y) + size_t(x0) * 3, size_t(w) * 3);
        if (HasAlpha()) {
            if (y == 0 && !out->EnsureAlpha()) return nullptr;
            std::memcpy(out->AlphaRow(y), AlphaRow(y0 + y) + x0, size_t(w));
        }
    }
    out->depth_ = depth_;
    out->description_ = description_;
    out->source_name_ = source_name_;
    return out;
}

bool CPicture::FromPackedDib(const uint8_t* block, size_t size) {
    if (!block || size < 16) return false;
    const uint32_t header_size = GetLe32(block);
    if (header_size < 40 || header_size > size) return false;
    const int32_t width = int32_t(GetLe32(block + 4));
    const int32_t raw_height = int32_t(GetLe32(block + 8));
    const int bits = GetLe16(block + 14);
    const uint32_t compression = GetLe32(block + 16);
    const uint32_t image_size = GetLe32(block + 20);
    uint32_t colours_used = GetLe32(block + 32);
    const bool top_down = raw_height < 0;
    const int64_t height = top_down ? -int64_t(raw_height) : int64_t(raw_height);
    if (!PictureSizeAllowed(width, height)) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32))) return false;

    // Colour table, or the masks: inside the header when it is large enough (V4/V5), else
    // right after it.
    size_t pos = header_size;
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bits == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    std::vector<Bgr> table;
    if (compression == 3) {
        if (header_size >= 52) {
            for (int i = 0; i < 3; ++i) masks[i] = GetLe32(block + 40 + 4 * i);
        } else {
            if (size - pos < 12) return false;
            for (int i = 0; i < 3; ++i) masks[i] = GetLe32(block + pos + 4 * i);
            pos += 12;
        }
    } else if (bits <= 8) {
        const uint32_t most = 1u << bits;
        if (colours_used == 0 || colours_used > most) colours_used = most;
        if ((size - pos) / 4 < colours_used) return false;
        table.resize(colours_used);
        for (uint32_t i = 0; i < colours_used; ++i)
            table[i] = Bgr{block[pos + 4 * i], block[pos + 4 * i + 1], block[pos + 4 * i + 2]};
        pos += size_t(colours_used) * 4;
    }
    const uint64_t src_stride = SourceStride(bits, uint64_t(width));
    const uint64_t needed = src_stride * uint64_t(height);
    const uint64_t available = size - pos;
    // A short last row is refused too: every row must be there.
    if (needed > available) return false;
    (void)image_size;

    if (!Create(width, int(height))) return false;
    const uint8_t* src_bits = block + pos;
    PaletteLookup lookup;
    for (size_t i = 0; i < table.size(); ++i) lookup.Set(unsigned(i), table[i]);
    const BitFieldChannel red(masks[0]), green(masks[1]), blue(masks[2]);
    for (int64_t file_row = 0; file_row < height; ++file_row) {
        const uint8_t* s = src_bits + size_t(file_row) * size_t(src_stride);
        const int y = top_down ? int(file_row) : int(height - 1 - file_row);
        uint8_t* d = Row(y);
        switch (bits) {
        case 1:
            for (int x = 0; x < width; ++x) {
                Bgr c = lookup[(s[x >> 3] >> (7 - (x & 7))) & 1];
                d[3 * x] = c.b, d[3 * x + 1] = c.g, d[3 * x + 2] = c.r;
            }
            break;
        case 4:
            for (int x = 0; x < width; ++x) {
                Bgr c = lookup[(x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4)];
                d[3 * x] = c.b, d[3 * x + 1] = c.g, d[3 * x + 2] = c.r;
            }
            break;
        case 8:
            for (int x = 0; x < width; ++x) {
                Bgr c = lookup[s[x]];
                d[3 * x] = c.b, d[3 * x + 1] = c.g, d[3 * x + 2] = c.r;
            }
            break;
        case 16:
            for (int x = 0; x < width; ++x) {
                uint32_t v = GetLe16(s + 2 * x);
                d[3 * x] = blue.Of(v), d[3 * x + 1] = green.Of(v), d[3 * x + 2] = red.Of(v);
            }
            break;
        case 24:
            std::memcpy(d, s, size_t(width) * 3);
            break;
        case 32:
            for (int x = 0; x < width; ++x) {
                uint32_t v = GetLe32(s + 4 * x);
                d[3 * x] = blue.Of(v), d[3 * x + 1] = green.Of(v), d[3 * x + 2] = red.Of(v);
            }
            break;
        }
    }
    if (!table.empty()) {
        palette_ = table;
    }
    depth_ = bits;
    return true;
}

PaletteLookup::PaletteLookup(const CPicture& picture) {
    const int n = std::min(picture.PaletteCount(), 256);
    for (int i = 0; i < n; ++i) entries_[size_t(i)] = *picture.GetPaletteEntry(i);
}

}  // namespace quorbel
