// Decoding speed of the PCX, TGA, portable anymap, IFF/LBM, MacPaint and Dr. Halo codecs, in
// megapixels per second (goal: at least 100 on a 6-megapixel picture), beside the netpbm and
// ImageMagick readers of the same files when they are installed.
//   quorbel-raster-bench [WIDTH HEIGHT]     (default 3000 x 2000; QUORBEL_BENCH_KEEP=1 keeps the files)
// Each input is made here from one photograph-like picture (gradients with noise, so runs are
// short as in scanned or rendered pictures), held in memory and decoded through the codec's
// registry row; the best of several runs counts. Times are processor time (this process's, or the
// peer program's, start-up included), which other programs on a shared machine do not inflate.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "core/data_stream.h"
#include "picture/format_registry.h"

namespace {

using namespace quorbel;
using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint8_t r, g, b;
};

std::vector<Rgb> Photo(int w, int h) {
    std::vector<Rgb> p(size_t(w) * size_t(h));
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = (seed >> 24) & 3;
            p[size_t(y) * size_t(w) + size_t(x)] = {uint8_t(x / 12 + noise), uint8_t(y / 8 + noise), uint8_t((x + y) / 20)};
        }
    return p;
}

void Le16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Be16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void Be32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void Text(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

uint8_t Index(const Rgb& c) { return uint8_t((c.r >> 5) << 5 | (c.g >> 5) << 2 | c.b >> 6); }

// PackBits / ByteRun1 of one row.
void PackBits(Bytes& out, const uint8_t* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        while (j < n && s[j] == s[i] && j - i < 128) ++j;
        if (j - i >= 3) {
            out.push_back(uint8_t(int8_t(1 - int(j - i))));
            out.push_back(s[i]);
            i = j;
            continue;
        }
        size_t k = i + 1;
        while (k < n && k - i < 128 && !(k + 2 < n && s[k] == s[k + 1] && s[k] == s[k + 2])) ++k;
        out.push_back(uint8_t(k - i - 1));
        out.insert(out.end(), s + i, s + k);
        i = k;
    }
}

void PcxLine(Bytes& out, const uint8_t* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        while (j < n && s[j] == s[i] && j - i < 63) ++j;
        if (j - i > 1 || s[i] >= 192) {
            out.push_back(uint8_t(192 + (j - i)));
            out.push_back(s[i]);
        } else {
            out.push_back(s[i]);
        }
        i = j;
    }
}

Bytes Pcx(const std::vector<Rgb>& p, int w, int h, bool true_colour) {
    Bytes b = {10, 5, 1, 8};
    Le16(b, 0), Le16(b, 0), Le16(b, unsigned(w - 1)), Le16(b, unsigned(h - 1)), Le16(b, 72), Le16(b, 72);
    b.resize(65, 0);
    b.push_back(true_colour ? 3 : 1);
    const unsigned bpl = unsigned(w + (w & 1));
    Le16(b, bpl), Le16(b, 1);
    b.resize(128, 0);
    std::vector<uint8_t> line(bpl);
    for (int y = 0; y < h; ++y)
        for (int plane = 0; plane < (true_colour ? 3 : 1); ++plane) {
            for (int x = 0; x < w; ++x) {
                const Rgb& c = p[size_t(y) * size_t(w) + size_t(x)];
                line[size_t(x)] = true_colour ? (plane == 0 ? c.r : plane == 1 ? c.g : c.b) : Index(c);
            }
            PcxLine(b, line.data(), line.size());
        }
    if (!true_colour) {
        b.push_back(12);
        for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i & 0xE0), uint8_t((i << 3) & 0xE0), uint8_t(i << 6)});
    }
    return b;
}

Bytes Tga(const std::vector<Rgb>& p, int w, int h, bool rle) {
    Bytes b = {0, 0, uint8_t(rle ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Le16(b, unsigned(w)), Le16(b, unsigned(h));
    b.push_back(24);
    b.push_back(0x20);
    for (int y = 0; y < h; ++y) {
        const Rgb* row = &p[size_t(y) * size_t(w)];
        int x = 0;
        while (x < w) {
            if (!rle) {
                b.insert(b.end(), {row[x].b, row[x].g, row[x].r});
                ++x;
                continue;
            }
            int n = 1;
            while (x + n < w && n < 128 && row[x + n].r == row[x].r && row[x + n].g == row[x].g && row[x + n].b == row[x].b) ++n;
            if (n > 1) {
                b.push_back(uint8_t(0x80 | (n - 1)));
                b.insert(b.end(), {row[x].b, row[x].g, row[x].r});
            } else {
                n = 1;
                while (x + n < w && n < 128 && !(row[x + n].r == row[x + n - 1].r && row[x + n].g == row[x + n - 1].g)) ++n;
                b.push_back(uint8_t(n - 1));
                for (int i = 0; i < n; ++i) b.insert(b.end(), {row[x + i].b, row[x + i].g, row[x + i].r});
            }
            x += n;
        }
    }
    return b;
}

Bytes Pnm(const std::vector<Rgb>& p, int w, int h, char kind) {
    Bytes b;
    Text(b, std::string("P") + kind + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n" + (kind == '4' ? "" : "255\n"));
    if (kind == '4') {
        for (int y = 0; y < h; ++y)
            for (int x0 = 0; x0 < w; x0 += 8) {
                uint8_t v = 0;
                for (int i = 0; i < 8 && x0 + i < w; ++i)
                    if (p[size_t(y) * size_t(w) + size_t(x0 + i)].g < 128) v |= uint8_t(0x80 >> i);
                b.push_back(v);
            }
        return b;
    }
    for (const Rgb& c : p) {
        if (kind == '6') b.insert(b.end(), {c.r, c.g, c.b});
        if (kind == '5') b.push_back(c.g);
        if (kind == '3') Text(b, std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b) + "\n");
    }
    return b;
}

Bytes Ilbm(const std::vector<Rgb>& p, int w, int h, int planes) {
    Bytes body;
    const size_t plane_bytes = size_t((w + 15) / 16) * 2;
    std::vector<uint8_t> plane(plane_bytes);
    for (int y = 0; y < h; ++y)
        for (int pl = 0; pl < planes; ++pl) {
            std::fill(plane.begin(), plane.end(), 0);
            for (int x = 0; x < w; ++x) {
                const Rgb& c = p[size_t(y) * size_t(w) + size_t(x)];
                const unsigned v = planes == 24 ? (pl < 8 ? c.r : pl < 16 ? c.g : c.b) : Index(c);
                if ((v >> (pl & 7)) & 1) plane[size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
            }
            PackBits(body, plane.data(), plane.size());
        }
    Bytes b;
    Text(b, "FORM");
    Be32(b, 0);
    Text(b, "ILBMBMHD");
    Be32(b, 20);
    Be16(b, unsigned(w)), Be16(b, unsigned(h)), Be16(b, 0), Be16(b, 0);
    b.insert(b.end(), {uint8_t(planes), 0, 1, 0, 0, 0, 1, 1});
    Be16(b, unsigned(w)), Be16(b, unsigned(h));
    if (planes <= 8) {
        Text(b, "CMAP");
        Be32(b, 768);
        for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i & 0xE0), uint8_t((i << 3) & 0xE0), uint8_t(i << 6)});
    }
    Text(b, "BODY");
    Be32(b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);  // the pad byte of an odd chunk
    const uint32_t form = uint32_t(b.size() - 8);
    for (int i = 0; i < 4; ++i) b[size_t(4 + i)] = uint8_t(form >> (24 - 8 * i));
    return b;
}

Bytes MacPaint(const std::vector<Rgb>& p, int w, int h) {
    Bytes b(512, 0);
    uint8_t row[72];
    for (int y = 0; y < 720; ++y) {
        for (int x0 = 0; x0 < 576; x0 += 8) {
            uint8_t v = 0;
            for (int i = 0; i < 8; ++i)
                if (p[size_t(y % h) * size_t(w) + size_t((x0 + i) % w)].g < 100 + ((x0 + i) & 63)) v |= uint8_t(0x80 >> i);
            row[x0 >> 3] = v;
        }
        PackBits(b, row, 72);
    }
    return b;
}

Bytes Cut(const std::vector<Rgb>& p, int w, int h) {
    Bytes b;
    Le16(b, unsigned(w)), Le16(b, unsigned(h)), Le16(b, 0);
    Bytes packed;
    for (int y = 0; y < h; ++y) {
        packed.clear();
        int x = 0;
        while (x < w) {
            const uint8_t v = Index(p[size_t(y) * size_t(w) + size_t(x)]);
            int n = 1;
            while (x + n < w && n < 127 && Index(p[size_t(y) * size_t(w) + size_t(x + n)]) == v) ++n;
            if (n > 1) {
                packed.insert(packed.end(), {uint8_t(0x80 | n), v});
            } else {
                packed.insert(packed.end(), {1, v});
            }
            x += n;
        }
        packed.push_back(0);
        Le16(b, unsigned(packed.size()));
        b.insert(b.end(), packed.begin(), packed.end());
    }
    return b;
}

// Processor time of this process, or of the children it waited for: what other programs on a
// shared machine do not inflate.
double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(const std::function<void()>& f, int who = RUSAGE_SELF) {
    const double start = CpuSeconds(who);
    f();
    return CpuSeconds(who) - start;
}

double BestDecode(const Bytes& bytes, const std::string& name, int& w, int& h) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        DataStream s;
        s.AttachMemory(bytes.data(), bytes.size());
        s.SetName(name);
        CPicture p;
        bool ok = false;
        best = std::min(best, Seconds([&] { ok = LoadFromStream(s, &p, nullptr, true); }));
        if (!ok) return -1;
        w = p.Width(), h = p.Height();
    }
    return best;
}

double BestPeer(const std::string& command) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        int rc = 0;
        best = std::min(best, Seconds([&] { rc = std::system((command + " > /dev/null 2>&1").c_str()); }, RUSAGE_CHILDREN));
        if (rc != 0) return -1;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int w = argc > 2 ? std::atoi(argv[1]) : 3000, h = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::vector<Rgb> photo = Photo(w, h);
    char folder[] = "/tmp/quorbel-raster-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    struct Input {
        const char* what;
        const char* name;
        Bytes bytes;
        const char* peer;  // command before the file's path
    };
    std::vector<Input> inputs;
    inputs.push_back({"PCX 24-bit (3 planes)", "photo24.pcx", Pcx(photo, w, h, true), "pcxtoppm"});
    inputs.push_back({"PCX 8-bit palette", "photo8.pcx", Pcx(photo, w, h, false), "pcxtoppm"});
    inputs.push_back({"TGA 24-bit raw", "photo.tga", Tga(photo, w, h, false), "tgatoppm"});
    inputs.push_back({"TGA 24-bit run-length", "photo-rle.tga", Tga(photo, w, h, true), "tgatoppm"});
    inputs.push_back({"PPM binary", "photo.ppm", Pnm(photo, w, h, '6'), "pamtopnm"});
    inputs.push_back({"PGM binary", "photo.pgm", Pnm(photo, w, h, '5'), "pamtopnm"});
    inputs.push_back({"PBM binary", "photo.pbm", Pnm(photo, w, h, '4'), "pamtopnm"});
    inputs.push_back({"PPM plain text", "plain.ppm", Pnm(photo, w, h, '3'), "pamtopnm"});
    inputs.push_back({"IFF 8 planes ByteRun1", "photo8.iff", Ilbm(photo, w, h, 8), "ilbmtoppm"});
    inputs.push_back({"IFF 24 planes ByteRun1", "photo24.iff", Ilbm(photo, w, h, 24), "ilbmtoppm"});
    inputs.push_back({"Dr. Halo CUT", "photo.cut", Cut(photo, w, h), "convert ppm:- <"});
    inputs.push_back({"MacPaint (576 x 720 page)", "page.mac", MacPaint(photo, w, h), "macptopbm"});
    std::printf("%-28s %10s %12s %12s %14s\n", "input", "bytes", "ms", "MP/s", "peer MP/s");
    for (Input& in : inputs) {
        int pw = 0, ph = 0;
        const double t = BestDecode(in.bytes, in.name, pw, ph);
        const std::string path = std::string(folder) + "/" + in.name;
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(in.bytes.data(), 1, in.bytes.size(), f);
            std::fclose(f);
        }
        std::string command = in.peer;
        // ImageMagick reads the file by name; the others from their argument.
        command = command == "convert ppm:- <" ? "convert " + path + " ppm:-" : command + " " + path;
        const double peer = BestPeer(command);
        const double mp = double(pw) * double(ph) / 1e6;
        if (t < 0) {
            std::printf("%-28s %10zu  decode failed\n", in.what, in.bytes.size());
            continue;
        }
        std::printf("%-28s %10zu %12.2f %12.1f", in.what, in.bytes.size(), t * 1e3, mp / t);
        if (peer > 0)
            std::printf(" %14.1f\n", mp / peer);
        else
            std::printf(" %14s\n", "-");
        if (!std::getenv("QUORBEL_BENCH_KEEP")) std::remove(path.c_str());
    }
    if (!std::getenv("QUORBEL_BENCH_KEEP")) rmdir(folder);
    return 0;
}
