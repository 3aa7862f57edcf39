#include "picture/codecs/halo_codec.h"

#include <filesystem>
#include <vector>

#include "core/byte_reader.h"
#include "picture/codecs/codec_reader.h"

namespace quorbel {

CHaloFormat::CHaloFormat() : CGraphicsFormat("CUT", "Dr. Halo (CUT)", "CUT - Dr. Halo (*.cut)|*.cut|") {}

namespace {

constexpr int kLargestSide = 30000;
constexpr int kPaletteHeaderSize = 40;
constexpr int kPaletteBlock = 512;  // an entry never straddles one of the file's blocks
constexpr int kEntrySize = 6;       // red, green, blue as 16-bit values
// Header, three blocks' worth of entries with their padding, and the last 8 entries.
constexpr int kPaletteFileSize = 3 * kPaletteBlock + 8 * kEntrySize;

constexpr uint8_t kPaletteHeader[kPaletteHeaderSize] = {
    'A', 'H', 0xE3, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};  // the last 20 bytes are 0

bool EqualNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return i == a.size() && !b[i];
}

}  // namespace

std::string FindHaloPalette(const std::string& picture_path) {
    namespace fs = std::filesystem;
    const fs::path path(picture_path);
    const std::string stem = path.stem().string();
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code ec;
    for (const char* ext : {".pal", ".PAL"}) {
        const fs::path candidate = folder / (stem + ext);
        if (fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    // Any other mixture of cases.
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path name = it->path().filename();
        if (name.stem().string() == stem && EqualNoCase(name.extension().string(), ".pal") &&
            it->is_regular_file(ec))
            return it->path().string();
    }
    return {};
}

bool ReadHaloPalette(const std::string& path, Bgr (&entries)[256]) {
    DataStream file;
    if (path.empty() || !file.OpenFile(path, true)) return false;
    uint8_t raw[kPaletteFileSize];
    if (file.Read(raw, sizeof raw) != sizeof raw) return false;
    if (std::memcmp(raw, kPaletteHeader, kPaletteHeaderSize) != 0) return false;
    Bgr read[256];
    int pos = kPaletteHeaderSize;
    for (int i = 0; i < 256; ++i) {
        if (pos % kPaletteBlock + kEntrySize > kPaletteBlock) pos = (pos / kPaletteBlock + 1) * kPaletteBlock;
        read[i] = Bgr{raw[pos + 4], raw[pos + 2], raw[pos]};
        pos += kEntrySize;
    }
    std::copy(std::begin(read), std::end(read), std::begin(entries));
    return true;
}

bool CHaloFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CHaloFormat::Load() {
    // Every row is checked before a pixel is written: a broken file leaves no half picture.
    if (picture_ && !LoadWithoutPicture()) return false;
    return DecodeRows(picture_ != nullptr);
}

bool CHaloFormat::DecodeRows(bool write) {
    stream_->Rewind();
    CodecReader in(*stream_);
    uint8_t header[6];
    if (!in.ReadExact(header, sizeof header)) return false;
    const int width = Le16(header), height = Le16(header + 2);
    if (width < 1 || width > kLargestSide || height < 1 || height > kLargestSide) return false;
    if (!PictureSizeAllowed(width, height)) return false;

    PaletteLookup lookup;
    if (write) {
        if (!picture_->Create(width, height)) return false;
        Bgr entries[256];
        for (int i = 0; i < 256; ++i) entries[i] = Bgr{uint8_t(i), uint8_t(i), uint8_t(i)};
        // A picture in memory (an archive member) has no folder to find its palette in.
        if (!stream_->IsMemory()) ReadHaloPalette(FindHaloPalette(stream_->Name()), entries);
        picture_->SetPaletteSize(256);
        for (int i = 0; i < 256; ++i) {
            picture_->SetPaletteEntry(i, entries[i]);
            lookup.Set(unsigned(i), entries[i]);
        }
        picture_->SetDepth(8);
    }
    ProgressLevel level(*sink_);
    sink_->SetRange(0, height, true);
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        if (y % 10 == 0 && sink_->SetPos(y, true) == 0) return false;
        uint8_t count_bytes[2];
        if (!in.ReadExact(count_bytes, 2)) return false;
        int left = Le16(count_bytes);  // bytes of this row after the count, terminator included
        auto next = [&]() {
            if (left <= 0) return -1;
            --left;
            return in.Get();
        };
        int x = 0;
        while (x < width) {
            const int c = next();
            if (c <= 0) return false;  // the data ended, or the row did before its pixels
            const int n = c & 0x7F;
            if (n > width - x) return false;
            if (c & 0x80) {
                const int value = next();
                if (value < 0) return false;
                std::memset(row.data() + x, value, size_t(n));
            } else {
                if (n > left) return false;
                if (!in.ReadExact(row.data() + x, size_t(n))) return false;
                left -= n;
            }
            x += n;
        }
        if (next() != 0 || left != 0) return false;
        if (write) {
            uint8_t* d = picture_->Row(y);
            for (int i = 0; i < width; ++i) {
                const Bgr c = lookup[row[size_t(i)]];
                d[3 * i] = c.b, d[3 * i + 1] = c.g, d[3 * i + 2] = c.r;
            }
        }
    }
    width_ = width;
    height_ = height;
    depth_ = 8;
    info_text_ = "CUT - Dr. Halo CUT";
    return true;
}

}  // namespace quorbel
