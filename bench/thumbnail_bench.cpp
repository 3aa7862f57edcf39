// Making thumbnails: the time the pictures view spends per member beyond unpacking it, for a
// 1024 x 768 24-bit BMP brought to 80 x 60 (goal: at most 5 ms per thumbnail). Three figures:
// decoding alone, the thumbnail from a decoded picture, and both together from the member's
// bytes in memory (what MakeThumbnail does after UnpackEntry).
//   quorbel-thumbnail-bench [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/ops/thumbnails.h"
#include "core/data_stream.h"
#include "picture/codecs/bmp_codec.h"
#include "picture/format_registry.h"

namespace {

using namespace quorbel;

// The member's bytes: a photograph-like gradient with noise, so nothing is uniform.
const std::vector<uint8_t>& MemberBytes(int width, int height) {
    static std::vector<uint8_t> bytes;
    if (!bytes.empty()) return bytes;
    CPicture p;
    p.Create(width, height);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245 + 12345;
            const uint8_t noise = uint8_t(seed >> 24) & 15;
            p.SetPixel(x, y, Bgr{uint8_t(x / 4 + noise), uint8_t(y / 3 + noise), uint8_t((x + y) / 7)});
        }
    DataStream out;
    out.CreateMemory(size_t(p.DibSize()) + 64);
    WriteBmp24(out, p, nullptr);
    bytes.assign(out.MemoryData(), out.MemoryData() + out.Tell());
    return bytes;
}

bool Decode(const std::vector<uint8_t>& bytes, CPicture& picture) {
    DataStream s;
    s.AttachMemory(bytes.data(), bytes.size());
    s.SetName("photo.bmp");
    return LoadFromStream(s, &picture, nullptr, true);
}

void BM_Decode1024x768Bmp(benchmark::State& state) {
    const auto& bytes = MemberBytes(1024, 768);
    for (auto _ : state) {
        CPicture p;
        if (!Decode(bytes, p)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(p.Bits());
    }
}
BENCHMARK(BM_Decode1024x768Bmp)->Unit(benchmark::kMillisecond);

void BM_ThumbnailFromDecoded(benchmark::State& state) {
    CPicture decoded;
    Decode(MemberBytes(1024, 768), decoded);
    for (auto _ : state) {
        state.PauseTiming();
        CPicture p;
        p.CopyFrom(decoded);
        state.ResumeTiming();
        ArchiveHandler::ThumbnailImage image;
        if (!RenderThumbnail(p, image, nullptr)) state.SkipWithError("render failed");
        benchmark::DoNotOptimize(image.pixels.data());
    }
}
BENCHMARK(BM_ThumbnailFromDecoded)->Unit(benchmark::kMillisecond);

void BM_ThumbnailFromMemberBytes(benchmark::State& state) {
    const auto& bytes = MemberBytes(1024, 768);
    for (auto _ : state) {
        CPicture p;
        ArchiveHandler::ThumbnailImage image;
        if (!Decode(bytes, p) || !RenderThumbnail(p, image, nullptr)) state.SkipWithError("failed");
        benchmark::DoNotOptimize(image.pixels.data());
    }
}
BENCHMARK(BM_ThumbnailFromMemberBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
