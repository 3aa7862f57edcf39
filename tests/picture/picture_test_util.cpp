#include "picture/picture_test_util.h"

#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace quorbel::test {

namespace {
void Put16(std::string& s, uint32_t v) {
    s += char(v & 255);
    s += char((v >> 8) & 255);
}
void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 255);
}
}  // namespace

std::string MakeBmp(const BmpLayout& layout) {
    std::string info;
    Put32(info, layout.header_size);
    if (layout.header_size == 12) {
        Put16(info, uint32_t(layout.width));
        Put16(info, uint32_t(layout.height));
        Put16(info, 1);
        Put16(info, layout.bits);
    } else {
        Put32(info, uint32_t(layout.width));
        Put32(info, uint32_t(layout.height));
        Put16(info, 1);
        Put16(info, layout.bits);
        Put32(info, layout.compression);
        Put32(info, uint32_t(layout.pixels.size()));
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, layout.colours_used);
        Put32(info, 0);
        if (layout.header_size > 40) {
            for (size_t i = 0; i < 4; ++i) Put32(info, i < layout.masks.size() ? layout.masks[i] : 0);
            info.resize(layout.header_size, '\0');
        }
    }
    std::string after;
    if (layout.header_size == 40)
        for (uint32_t m : layout.masks) Put32(after, m);
    for (uint32_t c : layout.table) {
        after += char(c & 255);
        after += char((c >> 8) & 255);
        after += char((c >> 16) & 255);
        if (layout.header_size != 12) after += '\0';
    }
    const uint32_t offset = layout.bits_offset >= 0 ? uint32_t(layout.bits_offset) : uint32_t(14 + info.size() + after.size());
    std::string file = "BM";
    Put32(file, uint32_t(14 + info.size() + after.size() + layout.pixels.size()));
    Put32(file, 0);
    Put32(file, offset);
    file += info + after;
    if (layout.bits_offset >= 0 && size_t(layout.bits_offset) > file.size()) file.resize(size_t(layout.bits_offset), '\0');
    file += layout.pixels;
    return file;
}

bool PictureFromPpm(const std::string& bytes, CPicture& picture) {
    picture.Clear();
    std::istringstream in(bytes);
    std::string magic;
    int w = 0, h = 0, max = 0;
    // Header fields may be separated by comment lines.
    auto field = [&](int& v) {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        in >> v;
    };
    in >> magic;
    field(w);
    field(h);
    field(max);
    if ((magic != "P6" && magic != "P5") || w < 1 || h < 1 || max != 255) return false;
    in.get();
    const bool grey = magic == "P5";
    std::string data(size_t(w) * size_t(h) * (grey ? 1 : 3), '\0');
    if (!in.read(data.data(), std::streamsize(data.size()))) return false;
    if (!picture.Create(w, h)) return false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = (size_t(y) * size_t(w) + size_t(x)) * (grey ? 1 : 3);
            const uint8_t r = uint8_t(data[i]), g = uint8_t(data[grey ? i : i + 1]), b = uint8_t(data[grey ? i : i + 2]);
            picture.SetPixel(x, y, Bgr{b, g, r});
        }
    return true;
}

bool PictureFromConvert(const std::string& path, CPicture& picture) {
    CommandResult r = Run({"convert", path, "-depth", "8", "ppm:-"});
    return r.exit_code == 0 && PictureFromPpm(r.out, picture);
}

int MaxDifference(const CPicture& a, const CPicture& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 256;
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 3; ++x) worst = std::max(worst, std::abs(a.Row(y)[x] - b.Row(y)[x]));
    return worst;
}

void FillPattern(CPicture& picture, int width, int height) {
    picture.Create(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.SetPixel(x, y, Bgr{uint8_t(x * 7 + y), uint8_t(y * 13 + 1), uint8_t((x ^ y) * 5)});
}

}  // namespace quorbel::test
