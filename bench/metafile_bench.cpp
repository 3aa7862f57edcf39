// Rendering metafiles: pixels of output per second for the two kinds of work that cover large
// areas — fills (rectangles, polygons, ellipses with a solid brush) and blits of device-
// independent bitmaps (1:1 and stretched) — on a 2048 x 2048 picture, the largest a metafile
// renders to (goal: at least 100 megapixels per second each), and the time to render the
// largest WMF sample at 2048 pixels wide.
//   quorbel-metafile-bench [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/codecs/metafile_codec.h"

namespace {

using namespace quorbel;

constexpr int kSide = 2048;

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
}

struct Emf {
    std::string records;
    int count = 0;
    void Rec(uint32_t type, std::initializer_list<int32_t> params, const std::string& tail = {}) {
        Put32(records, type);
        Put32(records, uint32_t(8 + 4 * params.size() + tail.size()));
        for (int32_t p : params) Put32(records, uint32_t(p));
        records += tail;
        ++count;
    }
    std::string Bytes() const {
        std::string out;
        for (uint32_t v : {1u, 88u, 0u, 0u, uint32_t(kSide - 1), uint32_t(kSide - 1), 0u, 0u, uint32_t(kSide * 10),
                           uint32_t(kSide * 10), 0x464D4520u, 0x10000u, 0u, uint32_t(count + 2)})
            Put32(out, v);
        Put32(out, 16);  // handles, reserved
        for (uint32_t v : {0u, 0u, 0u, 1000u, 1000u, 100u, 100u}) Put32(out, v);
        out += records;
        for (uint32_t v : {14u, 20u, 0u, 16u, 20u}) Put32(out, v);
        const uint32_t size = uint32_t(out.size());
        for (int i = 0; i < 4; ++i) out[48 + size_t(i)] = char((size >> (8 * i)) & 0xFF);
        return out;
    }
};

std::string Dib(int w, int h) {
    std::string d;
    for (uint32_t v : {40u, uint32_t(w), uint32_t(h)}) Put32(d, v);
    d += char(1), d += char(0), d += char(24), d += char(0);
    for (int i = 0; i < 6; ++i) Put32(d, 0);
    const int stride = (w * 3 + 3) / 4 * 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < stride; ++x) d += char((x * 7 + y * 3) & 0xFF);
    return d;
}

std::string Blit(int sw, int sh, const std::string& dib) {
    std::string b;
    for (int32_t v : {0, 0, 0, 0, 0, 0, 0, 0, sw, sh, 80, 40, 120, int32_t(dib.size() - 40), 0, 0xCC0020, kSide, kSide})
        Put32(b, uint32_t(v));
    b += dib;
    return b;
}

// Renders `bytes` once per iteration; `pixels` is the output the records cover per render.
void Render(benchmark::State& state, const std::string& bytes, double pixels) {
    CPicture picture;
    MetafilePlay play;
    for (auto _ : state) {
        PlayEmf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &picture, nullptr, play);
        benchmark::DoNotOptimize(picture.Row(0));
    }
    state.counters["Mpixel/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FillRectangles(benchmark::State& state) {
    Emf e;
    e.Rec(38, {1, 5, 0, 0, 0});  // null pen: the brush alone
    e.Rec(37, {1});
    for (int i = 0; i < 16; ++i) {
        e.Rec(39, {2, 0, int32_t(0x102030 * (i + 1)), 0});
        e.Rec(37, {2});
        e.Rec(43, {0, 0, kSide, kSide});
    }
    // The white background the picture starts from counts as output too.
    Render(state, e.Bytes(), 17.0 * kSide * kSide);
}

void BM_FillPolygonsAndEllipses(benchmark::State& state) {
    Emf e;
    e.Rec(38, {1, 5, 0, 0, 0});
    e.Rec(37, {1});
    e.Rec(39, {2, 0, 0x3060A0, 0});
    e.Rec(37, {2});
    for (int i = 0; i < 8; ++i) {
        e.Rec(3, {0, 0, 0, 0, 4, 0, 0, kSide, 0, kSide, kSide, 0, kSide});  // full-picture quadrilateral
        e.Rec(42, {0, 0, kSide, kSide});                                  // inscribed ellipse
    }
    Render(state, e.Bytes(), (1 + 8 + 8 * 0.785398) * kSide * kSide);
}

void BM_BlitOneToOne(benchmark::State& state) {
    const std::string dib = Dib(kSide, kSide);
    Emf e;
    for (int i = 0; i < 4; ++i) e.Rec(81, {}, Blit(kSide, kSide, dib));
    Render(state, e.Bytes(), 5.0 * kSide * kSide);
}

void BM_BlitStretched(benchmark::State& state) {
    const std::string dib = Dib(kSide / 2, kSide / 2);
    Emf e;
    for (int i = 0; i < 4; ++i) e.Rec(81, {}, Blit(kSide / 2, kSide / 2, dib));
    Render(state, e.Bytes(), 5.0 * kSide * kSide);
}

BENCHMARK(BM_FillRectangles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillPolygonsAndEllipses)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlitOneToOne)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlitStretched)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
