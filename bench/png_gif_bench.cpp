// PNG and GIF decoding against libpng, libspng and giflib on the same 6-megapixel pictures,
// made in the run: a photo-like RGB PNG written by libpng (default compression and adaptive
// filters) and a 256-colour GIF written by giflib. Each decoder reads from memory; times are
// the best of several runs; every decoder's pixels are checked against the source first.
//
//   quorbel-png-gif-bench [runs]
#include <gif_lib.h>
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/data_stream.h"
#include "picture/codecs/gif_codec.h"
#include "picture/codecs/png_codec.h"

namespace {

using quorbel::CPicture;
using quorbel::DataStream;

constexpr int kWidth = 3000, kHeight = 2000;

// Smooth shading, a few shapes and a little sensor noise: rows that the filters and deflate
// treat as a photograph.
std::vector<uint8_t> PhotoLike() {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    uint32_t seed = 2024;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            const double fx = x / double(kWidth), fy = y / double(kHeight);
            double r = 120 + 90 * std::sin(fx * 6.1 + fy * 2.3);
            double g = 110 + 80 * std::cos(fy * 5.3 - fx * 1.7);
            double b = 100 + 70 * std::sin((fx + fy) * 4.2);
            const double dx = fx - 0.6, dy = fy - 0.4;
            if (dx * dx + dy * dy < 0.04) r = 230 - 100 * (dx * dx + dy * dy) / 0.04;
            if ((x / 150 + y / 150) % 7 == 0) b *= 0.6;
            uint8_t* p = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
            p[0] = uint8_t(std::clamp(int(r) + noise, 0, 255));
            p[1] = uint8_t(std::clamp(int(g) + noise, 0, 255));
            p[2] = uint8_t(std::clamp(int(b) + noise, 0, 255));
        }
    return rgb;
}

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), n);
}
void PngFlush(png_structp) {}

std::string EncodePng(const std::vector<uint8_t>& rgb) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_write_fn(png, &out, PngWrite, PngFlush);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kHeight; ++y) png_write_row(png, const_cast<png_bytep>(&rgb[size_t(y) * kWidth * 3]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct Reader {
    const std::string* data;
    size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->pos + n > r->data->size()) png_error(png, "short");
    std::memcpy(out, r->data->data() + r->pos, n);
    r->pos += n;
}

std::vector<uint8_t> DecodeLibpng(const std::string& file) {
    std::vector<uint8_t> rgb;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Reader reader{&file, 0};
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_read_fn(png, &reader, PngRead);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    rgb.resize(size_t(w) * h * 3);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = &rgb[size_t(y) * w * 3];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return rgb;
}

std::vector<uint8_t> DecodeSpng(const std::string& file) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    size_t size = 0;
    spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size);
    std::vector<uint8_t> rgb(size);
    if (spng_decode_image(ctx, rgb.data(), size, SPNG_FMT_RGB8, 0) != 0) std::abort();
    spng_ctx_free(ctx);
    return rgb;
}

// A 256-colour GIF: each pixel mapped to a 6-7-6 colour cube (252 colours) with ordered
// dithering, so neighbouring pixels vary as in a quantised photograph.
std::string EncodeGif(const std::vector<uint8_t>& rgb, std::vector<uint8_t>& indexes, std::vector<uint8_t>& palette) {
    palette.assign(256 * 3, 0);
    for (int i = 0; i < 252; ++i) {
        palette[size_t(i) * 3] = uint8_t((i / 42) * 51);
        palette[size_t(i) * 3 + 1] = uint8_t(((i / 6) % 7) * 42);
        palette[size_t(i) * 3 + 2] = uint8_t((i % 6) * 51);
    }
    static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    indexes.resize(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
            const int t = kBayer[y & 3][x & 3];
            const int r = std::min(5, (p[0] * 5 + t * 16) / 255);
            const int g = std::min(6, (p[1] * 6 + t * 16) / 255);
            const int b = std::min(5, (p[2] * 5 + t * 16) / 255);
            indexes[size_t(y) * kWidth + size_t(x)] = uint8_t(r * 42 + g * 6 + b);
        }
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int n) {
        static_cast<std::string*>(g->UserData)->append(reinterpret_cast<const char*>(data), size_t(n));
        return n;
    }, &error);
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i) colours[size_t(i)] = {palette[size_t(i) * 3], palette[size_t(i) * 3 + 1], palette[size_t(i) * 3 + 2]};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr);
    for (int y = 0; y < kHeight; ++y) EGifPutLine(gif, &indexes[size_t(y) * kWidth], kWidth);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

std::vector<uint8_t> DecodeGiflib(const std::string& file) {
    Reader reader{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, [](GifFileType* g, GifByteType* out, int n) {
        auto* r = static_cast<Reader*>(g->UserData);
        const size_t take = std::min(size_t(n), r->data->size() - r->pos);
        std::memcpy(out, r->data->data() + r->pos, take);
        r->pos += take;
        return int(take);
    }, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK) std::abort();
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    const size_t n = size_t(image.ImageDesc.Width) * size_t(image.ImageDesc.Height);
    std::vector<uint8_t> rgb(n * 3);
    for (size_t i = 0; i < n; ++i) {
        const GifColorType& c = map->Colors[image.RasterBits[i]];
        rgb[i * 3] = c.Red;
        rgb[i * 3 + 1] = c.Green;
        rgb[i * 3 + 2] = c.Blue;
    }
    DGifCloseFile(gif, &error);
    return rgb;
}

template <typename Format>
void DecodeOurs(const std::string& file, const char* name, CPicture& picture) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    s.SetName(name);
    Format format;
    if (!format.LoadPicture(s, picture, nullptr)) std::abort();
}

bool SameAsRgb(const CPicture& p, const std::vector<uint8_t>& rgb) {
    if (p.Width() != kWidth || p.Height() != kHeight) return false;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* a = p.Row(y) + 3 * x;
            const uint8_t* b = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
            if (a[0] != b[2] || a[1] != b[1] || a[2] != b[0]) return false;
        }
    return true;
}

// The decoders take turns run after run, so a busy moment of the machine falls on all of
// them alike; each keeps its best time.
std::vector<double> BestMs(int runs, const std::vector<std::function<void()>>& works) {
    std::vector<double> best(works.size(), 1e30);
    for (int i = 0; i < runs; ++i)
        for (size_t k = 0; k < works.size(); ++k) {
            const auto start = std::chrono::steady_clock::now();
            works[k]();
            const auto stop = std::chrono::steady_clock::now();
            best[k] = std::min(best[k], std::chrono::duration<double, std::milli>(stop - start).count());
        }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::vector<uint8_t> rgb = PhotoLike();
    const std::string png = EncodePng(rgb);
    std::vector<uint8_t> indexes, palette;
    const std::string gif = EncodeGif(rgb, indexes, palette);
    std::vector<uint8_t> gif_rgb(indexes.size() * 3);
    for (size_t i = 0; i < indexes.size(); ++i) std::memcpy(&gif_rgb[i * 3], &palette[size_t(indexes[i]) * 3], 3);

    // Everyone decodes the same pixels before anyone is timed.
    CPicture picture;
    DecodeOurs<quorbel::CPngFormat>(png, "bench.png", picture);
    const bool png_ok = SameAsRgb(picture, rgb) && DecodeLibpng(png) == rgb && DecodeSpng(png) == rgb;
    DecodeOurs<quorbel::CGifFormat>(gif, "bench.gif", picture);
    const bool gif_ok = SameAsRgb(picture, gif_rgb) && DecodeGiflib(gif) == gif_rgb;
    if (!png_ok || !gif_ok) {
        std::fprintf(stderr, "decoders disagree (png %d, gif %d)\n", png_ok, gif_ok);
        return 1;
    }

    const std::vector<double> t = BestMs(runs, {
        [&] {
            CPicture fresh;  // a new picture each time, as the peers fill new buffers
            DecodeOurs<quorbel::CPngFormat>(png, "bench.png", fresh);
        },
        [&] { DecodeLibpng(png); },
        [&] { DecodeSpng(png); },
        [&] {
            CPicture fresh;
            DecodeOurs<quorbel::CGifFormat>(gif, "bench.gif", fresh);
        },
        [&] { DecodeGiflib(gif); },
    });
    const double ours_png = t[0], libpng = t[1], spng = t[2], ours_gif = t[3], giflib = t[4];

    std::printf("pictures: %d x %d; PNG %zu bytes (RGB, 8 bits), GIF %zu bytes (256 colours); best of %d runs\n",
                kWidth, kHeight, png.size(), gif.size(), runs);
    std::printf("| figure | ours (ms) | peer (ms) | ratio | goal |\n|---|---|---|---|---|\n");
    std::printf("| PNG decode vs libpng | %.1f | %.1f | %.2f | <= 0.85 |\n", ours_png, libpng, ours_png / libpng);
    std::printf("| PNG decode vs libspng | %.1f | %.1f | %.2f | shown |\n", ours_png, spng, ours_png / spng);
    std::printf("| GIF decode to RGB vs giflib | %.1f | %.1f | %.2f | <= 0.70 |\n", ours_gif, giflib, ours_gif / giflib);
    return 0;
}
