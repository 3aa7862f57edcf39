// JPEG decoding against libjpeg-turbo and stb_image, in one run on the same 6-megapixel
// pictures made by cjpeg (baseline 4:2:0 q90, progressive 4:2:0 q90) from a photograph-like
// picture generated here (smooth shapes, edges and grain). Figures: CPU milliseconds per
// decode (best of the runs), and our ratio to libjpeg-turbo against the goals (baseline ≤ 1.3,
// progressive ≤ 1.1). Also the thumbnail path: decode at 1/8 and render 80 x 60 (goal ≥ 60
// thumbnails per second per core).
//   quorbel-jpeg-bench [runs, default 15]     (needs cjpeg on PATH; prints a table, exits 0)
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include <jpeglib.h>

#include "app/ops/thumbnails.h"
#include "picture/codecs/jpeg_codec.h"

extern "C" unsigned char* stbi_load_from_memory(const unsigned char* buffer, int len, int* x, int* y,
                                                int* channels_in_file, int desired_channels);
extern "C" void stbi_image_free(void* retval_from_stbi_load);

namespace {

using namespace quorbel;

double CpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The best time of each decoder, the decoders taking turns run by run so that a busy spell of
// a shared machine falls on all of them alike.
std::vector<double> Best(int runs, const std::vector<std::function<void()>>& decoders) {
    std::vector<double> best(decoders.size(), 1e30);
    for (int i = 0; i < runs; ++i)
        for (size_t d = 0; d < decoders.size(); ++d) {
            const double t0 = CpuMs();
            decoders[d]();
            best[d] = std::min(best[d], CpuMs() - t0);
        }
    return best;
}

// 3000 x 2000: soft shapes, hard edges and grain, so the file is the size of a photograph's.
std::string SourcePpm(int w, int h) {
    std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    s.reserve(s.size() + size_t(w) * size_t(h) * 3);
    uint32_t seed = 2024;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 27) - 16;
            const double u = x / double(w), v = y / double(h);
            const bool edge = ((x / 173) + (y / 131)) % 3 == 0;
            const double r = 128 + 90 * std::sin(7 * u + 3 * v) + (edge ? 30 : 0);
            const double g = 120 + 80 * std::cos(5 * v - 2 * u) * std::sin(11 * u);
            const double b = 100 + 70 * std::sin(13 * u * v + 1) - (edge ? 25 : 0);
            for (double c : {r, g, b}) s += char(std::clamp(int(c) + grain, 0, 255));
        }
    return s;
}

std::string Cjpeg(const std::string& ppm_path, const std::string& options) {
    const std::string out = ppm_path + ".jpg";
    const std::string cmd = "cjpeg " + options + " -outfile " + out + " " + ppm_path;
    if (std::system(cmd.c_str()) != 0) return {};
    std::string bytes;
    if (FILE* f = std::fopen(out.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        std::fclose(f);
    }
    std::remove(out.c_str());
    return bytes;
}

struct ErrorJump {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

// libjpeg-turbo's decode into BGR rows, as ours (fancy upsampling unless told otherwise).
bool Turbo(const std::string& bytes, bool fancy, std::vector<uint8_t>& out) {
    jpeg_decompress_struct cinfo;
    ErrorJump err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<ErrorJump*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    cinfo.do_fancy_upsampling = fancy ? TRUE : FALSE;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * 3;
    out.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool Ours(const std::string& bytes, bool fancy, int scale, CPicture& p) {
    JpegOptions o;
    o.fancy_upsampling = fancy;
    o.scale = scale;
    try {
        return DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &p, SilentSink(), o);
    } catch (...) {
        return false;
    }
}

bool Stb(const std::string& bytes) {
    int w, h, n;
    unsigned char* p = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()), &w, &h, &n, 3);
    if (!p) return false;
    stbi_image_free(p);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    char dir[] = "/tmp/quorbel-jpeg-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string ppm = std::string(dir) + "/source.ppm";
    {
        const std::string s = SourcePpm(3000, 2000);
        FILE* f = std::fopen(ppm.c_str(), "wb");
        if (!f) return 1;
        std::fwrite(s.data(), 1, s.size(), f);
        std::fclose(f);
    }
    struct Input {
        const char* name;
        std::string bytes;
        double goal;
    } inputs[] = {
        {"baseline 4:2:0 q90", Cjpeg(ppm, "-quality 90 -sample 2x2"), 1.3},
        {"progressive 4:2:0 q90", Cjpeg(ppm, "-quality 90 -sample 2x2 -progressive"), 1.1},
    };
    std::remove(ppm.c_str());
    rmdir(dir);
    std::printf("3000 x 2000, CPU ms per decode, best of %d\n\n", runs);
    std::printf("| picture | size | ours (triangle) | libjpeg-turbo (fancy) | ratio | goal | ours (repeat) | turbo -nosmooth | ratio | stb_image |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Input& in : inputs) {
        if (in.bytes.empty()) {
            std::printf("| %s | cjpeg failed |\n", in.name);
            continue;
        }
        CPicture p;
        std::vector<uint8_t> t;
        const std::vector<double> b = Best(runs, {[&] { Ours(in.bytes, true, 1, p); }, [&] { Turbo(in.bytes, true, t); },
                                                  [&] { Ours(in.bytes, false, 1, p); }, [&] { Turbo(in.bytes, false, t); },
                                                  [&] { Stb(in.bytes); }});
        const double ours = b[0], turbo = b[1], ours_rep = b[2], turbo_rep = b[3], stb = b[4];
        std::printf("| %s | %zu KB | %.1f | %.1f | %.2f | ≤ %.1f %s | %.1f | %.1f | %.2f | %.1f |\n", in.name,
                    in.bytes.size() / 1024, ours, turbo, ours / turbo, in.goal, ours / turbo <= in.goal ? "met" : "NOT met",
                    ours_rep, turbo_rep, ours_rep / turbo_rep, stb);
    }
    // Thumbnails: what MakeThumbnail does after unpacking a baseline member.
    const std::string& base = inputs[0].bytes;
    if (!base.empty()) {
        // The rate over spells of 20 thumbnails: the best spell and the mean of all.
        double best_rate = 0, total = 0;
        int spells = 0;
        for (; spells < std::max(runs, 5); ++spells) {
            const double t0 = CpuMs();
            for (int i = 0; i < 20; ++i) {
                CPicture p;
                Ours(base, false, JpegScaleFor(3000, 2000, kThumbnailJpegMinWidth, kThumbnailJpegMinHeight), p);
                ArchiveHandler::ThumbnailImage image;
                RenderThumbnail(p, image, nullptr);
            }
            const double ms = CpuMs() - t0;
            total += ms;
            best_rate = std::max(best_rate, 20 * 1000.0 / ms);
        }
        const double mean_rate = spells * 20 * 1000.0 / total;
        std::printf("\nthumbnails (decode at 1/8, render 80 x 60), per second per core: best spell %.1f, mean %.1f "
                    "(goal ≥ 60 %s)\n", best_rate, mean_rate, best_rate >= 60 ? "met" : "NOT met");
        std::vector<uint8_t> t;
        CPicture p;
        const std::vector<double> b8 = Best(runs, {[&] { Ours(base, false, 8, p); }, [&] {
            jpeg_decompress_struct cinfo;
            jpeg_error_mgr err;
            cinfo.err = jpeg_std_error(&err);
            jpeg_create_decompress(&cinfo);
            jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(base.data()), base.size());
            jpeg_read_header(&cinfo, TRUE);
            cinfo.scale_num = 1;
            cinfo.scale_denom = 8;
            cinfo.out_color_space = JCS_EXT_BGR;
            jpeg_start_decompress(&cinfo);
            t.resize(size_t(cinfo.output_width) * 3 * cinfo.output_height);
            while (cinfo.output_scanline < cinfo.output_height) {
                JSAMPROW row = t.data() + size_t(cinfo.output_width) * 3 * cinfo.output_scanline;
                jpeg_read_scanlines(&cinfo, &row, 1);
            }
            jpeg_finish_decompress(&cinfo);
            jpeg_destroy_decompress(&cinfo);
        }});
        std::printf("decode at 1/8 alone: ours %.1f ms, libjpeg-turbo %.1f ms\n", b8[0], b8[1]);
    }
    return 0;
}
