#include "picture/picture_ops.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorbel {

namespace {

bool SizeOk(int width, int height) { return PictureSizeAllowed(width, height); }

ProgressSink& SinkOf(ProgressSink* sink) { return sink ? *sink : SilentSink(); }

void KeepIdentity(CPicture& to, const CPicture& from) {
    to.SetDepth(from.Depth());
    to.SetDescription(from.Description());
    to.SetSourceName(from.SourceName());
}

// How one output sample of an axis is made from the source samples: between two neighbours
// (growing, weight in 1/65536) or as the mean of a run (shrinking).
struct Tap {
    int first = 0;
    int last = 0;        // growing: the second neighbour; shrinking: one past the run
    uint32_t weight = 0; // growing only: share of `last`
};

// a + (b - a) * weight / 65536, rounded to the nearest value.
uint8_t Mix(uint32_t a, uint32_t b, uint32_t weight) {
    return uint8_t((a * (65536 - weight) + b * weight + 32768) >> 16);
}

std::vector<Tap> Taps(int from, int to) {
    std::vector<Tap> taps(static_cast<size_t>(to));
    if (to >= from) {
        // Ends aligned: output 0 is source 0 and the last output the last source sample.
        for (int i = 0; i < to; ++i) {
            Tap& t = taps[size_t(i)];
            if (to == 1 || from == 1) {
                t.first = t.last = 0;
                continue;
            }
            const uint64_t pos = uint64_t(i) * uint64_t(from - 1) * 65536 / uint64_t(to - 1);
            t.first = int(pos >> 16);
            t.weight = uint32_t(pos & 0xFFFF);
            t.last = std::min(t.first + 1, from - 1);
        }
    } else {
        for (int i = 0; i < to; ++i) {
            Tap& t = taps[size_t(i)];
            t.first = int(int64_t(i) * from / to);
            t.last = std::max(t.first + 1, int(int64_t(i + 1) * from / to));
            t.last = std::min(t.last, from);
        }
    }
    return taps;
}

// Resamples one axis of `in` into `out` (already created with the new size). Channels: 3 colour
// bytes per pixel, plus the alpha plane when the picture has one.
bool ResampleAxis(const CPicture& in, CPicture& out, bool horizontal, ProgressSink& sink) {
    const int in_len = horizontal ? in.Width() : in.Height();
    const int out_len = horizontal ? out.Width() : out.Height();
    const std::vector<Tap> taps = Taps(in_len, out_len);
    const bool growing = out_len >= in_len;
    const bool alpha = in.HasAlpha();
    if (alpha && !out.EnsureAlpha()) return false;
    sink.SetText(horizontal ? "Resizing picture..." : "Computing extrapolations...", false);
    sink.SetRange(0, out.Height(), true);
    if (horizontal) {
        for (int y = 0; y < out.Height(); ++y) {
            if (y % 5 == 0 && sink.SetPos(y, true) == 0) return false;
            const uint8_t* s = in.Row(y);
            uint8_t* d = out.Row(y);
            const uint8_t* sa = in.AlphaRow(y);
            uint8_t* da = out.AlphaRow(y);
            for (int x = 0; x < out_len; ++x) {
                const Tap& t = taps[size_t(x)];
                if (growing) {
                    for (int c = 0; c < 3; ++c) {
                        const int a = s[3 * t.first + c], b = s[3 * t.last + c];
                        d[3 * x + c] = Mix(a, b, t.weight);
                    }
                    if (alpha) da[x] = Mix(sa[t.first], sa[t.last], t.weight);
                } else {
                    uint32_t sum[4] = {};
                    for (int i = t.first; i < t.last; ++i) {
                        for (int c = 0; c < 3; ++c) sum[c] += s[3 * i + c];
                        if (alpha) sum[3] += sa[i];
                    }
                    const uint32_t n = uint32_t(t.last - t.first);
                    for (int c = 0; c < 3; ++c) d[3 * x + c] = uint8_t(sum[c] / n);
                    if (alpha) da[x] = uint8_t(sum[3] / n);
                }
            }
        }
    } else {
        const int width = out.Width();
        std::vector<uint32_t> sum(size_t(width) * 4);
        for (int y = 0; y < out_len; ++y) {
            if (y % 5 == 0 && sink.SetPos(y, true) == 0) return false;
            const Tap& t = taps[size_t(y)];
            uint8_t* d = out.Row(y);
            uint8_t* da = out.AlphaRow(y);
            if (growing) {
                const uint8_t* a = in.Row(t.first);
                const uint8_t* b = in.Row(t.last);
                for (int i = 0; i < width * 3; ++i) d[i] = Mix(a[i], b[i], t.weight);
                if (alpha) {
                    const uint8_t* aa = in.AlphaRow(t.first);
                    const uint8_t* ab = in.AlphaRow(t.last);
                    for (int i = 0; i < width; ++i) da[i] = Mix(aa[i], ab[i], t.weight);
                }
            } else {
                std::fill(sum.begin(), sum.end(), 0);
                for (int r = t.first; r < t.last; ++r) {
                    const uint8_t* s = in.Row(r);
                    for (int i = 0; i < width * 3; ++i) sum[size_t(i)] += s[i];
                    if (alpha) {
                        const uint8_t* sa = in.AlphaRow(r);
                        for (int i = 0; i < width; ++i) sum[size_t(width) * 3 + size_t(i)] += sa[i];
                    }
                }
                const uint32_t n = uint32_t(t.last - t.first);
                for (int i = 0; i < width * 3; ++i) d[i] = uint8_t(sum[size_t(i)] / n);
                if (alpha)
                    for (int i = 0; i < width; ++i) da[i] = uint8_t(sum[size_t(width) * 3 + size_t(i)] / n);
            }
        }
    }
    return true;
}

}  // namespace

bool ScaleFast(CPicture& destination, const CPicture& source, int width, int height, ProgressSink* sink) {
    if (source.IsEmpty() || !SizeOk(width, height)) return false;
    if (&destination == &source) return ScaleFastInPlace(destination, width, height, sink);
    if (width == source.Width() && height == source.Height()) return destination.CopyFrom(source);
    ProgressSink& s = SinkOf(sink);
    // Built aside, so a cancelled or failed scaling leaves the destination as it was.
    CPicture result;
    if (!result.Create(width, height)) return false;
    KeepIdentity(result, source);
    const bool alpha = source.HasAlpha();
    if (alpha && !result.EnsureAlpha()) return false;
    s.SetText("Scaling picture", false);
    s.SetRange(0, height, true);
    // Integer index arithmetic: column x reads source column x * sw / w, which is below sw for
    // every x below w; no accumulated step can pass the last column or row.
    std::vector<int> columns(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) columns[size_t(x)] = int(int64_t(x) * source.Width() / width);
    for (int y = 0; y < height; ++y) {
        if (y % 10 == 0 && s.SetPos(y, true) == 0) return false;
        const int sy = int(int64_t(y) * source.Height() / height);
        const uint8_t* src = source.Row(sy);
        uint8_t* dst = result.Row(y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = src + 3 * columns[size_t(x)];
            dst[3 * x] = p[0];
            dst[3 * x + 1] = p[1];
            dst[3 * x + 2] = p[2];
        }
        if (alpha) {
            const uint8_t* sa = source.AlphaRow(sy);
            uint8_t* da = result.AlphaRow(y);
            for (int x = 0; x < width; ++x) da[x] = sa[columns[size_t(x)]];
        }
    }
    destination.Swap(result);
    return true;
}

bool ScaleFastInPlace(CPicture& picture, int width, int height, ProgressSink* sink) {
    CPicture scaled;
    if (!ScaleFast(scaled, picture, width, height, sink)) return false;
    picture.Swap(scaled);
    return true;
}

bool HalveSmooth(CPicture& picture) {
    if (picture.IsEmpty()) return false;
    const int w = picture.Width() / 2, h = picture.Height() / 2;
    if (w < 1 || h < 1) return false;
    CPicture half;
    if (!half.Create(w, h)) return false;
    KeepIdentity(half, picture);
    const bool alpha = picture.HasAlpha();
    if (alpha && !half.EnsureAlpha()) return false;
    const int last_x = picture.Width() - 1, last_y = picture.Height() - 1;
    for (int y = 0; y < h; ++y) {
        const uint8_t* r0 = picture.Row(std::min(2 * y, last_y));
        const uint8_t* r1 = picture.Row(std::min(2 * y + 1, last_y));
        uint8_t* d = half.Row(y);
        for (int x = 0; x < w; ++x) {
            const int x0 = std::min(2 * x, last_x), x1 = std::min(2 * x + 1, last_x);
            for (int c = 0; c < 3; ++c)
                d[3 * x + c] = uint8_t((r0[3 * x0 + c] + r0[3 * x1 + c] + r1[3 * x0 + c] + r1[3 * x1 + c]) / 4);
        }
        if (alpha) {
            const uint8_t* a0 = picture.AlphaRow(std::min(2 * y, last_y));
            const uint8_t* a1 = picture.AlphaRow(std::min(2 * y + 1, last_y));
            uint8_t* da = half.AlphaRow(y);
            for (int x = 0; x < w; ++x) {
                const int x0 = std::min(2 * x, last_x), x1 = std::min(2 * x + 1, last_x);
                da[x] = uint8_t((a0[x0] + a0[x1] + a1[x0] + a1[x1]) / 4);
            }
        }
    }
    picture.Swap(half);
    return true;
}

bool ResizeSmooth(CPicture& picture, int width, int height, ProgressSink* sink) {
    if (picture.IsEmpty() || !SizeOk(width, height)) return false;
    if (width == picture.Width() && height == picture.Height()) return true;
    if (width * 2 == picture.Width() && height * 2 == picture.Height()) return HalveSmooth(picture);
    ProgressSink& s = SinkOf(sink);
    // The passes work on copies; the picture itself changes only when both are done, so a
    // cancel leaves it exactly as it was.
    CPicture current;
    if (!current.CopyFrom(picture)) return false;
    if (height != current.Height()) {
        CPicture next;
        if (!next.Create(current.Width(), height)) return false;
        KeepIdentity(next, current);
        if (!ResampleAxis(current, next, false, s)) return false;
        current.Swap(next);
    }
    if (width != current.Width()) {
        CPicture next;
        if (!next.Create(width, current.Height())) return false;
        KeepIdentity(next, current);
        if (!ResampleAxis(current, next, true, s)) return false;
        current.Swap(next);
    }
    picture.Swap(current);
    return true;
}

void ToGrey(CPicture& picture) {
    if (picture.IsEmpty()) return;
    for (int y = 0; y < picture.Height(); ++y) {
        uint8_t* p = picture.Row(y);
        for (int x = 0; x < picture.Width(); ++x, p += 3) {
            const uint8_t g = uint8_t((p[0] + p[1] + p[2]) / 3);
            p[0] = p[1] = p[2] = g;
        }
    }
    // The grey palette replaces any other one; the alpha plane stays.
    picture.ClearPalette();
    picture.SetPaletteSize(256);
    for (int i = 0; i < 256; ++i) picture.SetPaletteEntry(i, Bgr{uint8_t(i), uint8_t(i), uint8_t(i)});
}

bool BlendOnto(CPicture& destination, const CPicture& source, int x, int y) {
    if (source.IsEmpty()) return false;
    if (!source.HasAlpha() && x == 0 && y == 0 && (destination.IsEmpty() ||
        (destination.Width() == source.Width() && destination.Height() == source.Height())))
        return destination.CopyFrom(source);
    if (destination.IsEmpty()) return false;
    // Clipped to the destination: only the overlapping part is drawn.
    const int x0 = std::max(0, x), y0 = std::max(0, y);
    const int x1 = int(std::min<int64_t>(destination.Width(), int64_t(x) + source.Width()));
    const int y1 = int(std::min<int64_t>(destination.Height(), int64_t(y) + source.Height()));
    for (int dy = y0; dy < y1; ++dy) {
        const int sy = dy - y;
        const uint8_t* s = source.Row(sy);
        const uint8_t* sa = source.AlphaRow(sy);
        uint8_t* d = destination.Row(dy);
        for (int dx = x0; dx < x1; ++dx) {
            const int sx = dx - x;
            const int a = sa ? sa[sx] : 255;
            if (a == 0) continue;
            for (int c = 0; c < 3; ++c) {
                const int sv = s[3 * sx + c], dv = d[3 * dx + c];
                const int v = a == 255 ? sv : dv + (sv - dv) * a / 255;
                d[3 * dx + c] = uint8_t(std::clamp(v, 0, 255));
            }
        }
    }
    return true;
}

bool AlphaFromGrey(CPicture& destination, const CPicture& grey_source) {
    if (destination.IsEmpty() || grey_source.IsEmpty() || destination.Width() != grey_source.Width() ||
        destination.Height() != grey_source.Height())
        return false;
    if (!destination.EnsureAlpha()) return false;
    for (int y = 0; y < destination.Height(); ++y) {
        const uint8_t* s = grey_source.Row(y);
        uint8_t* a = destination.AlphaRow(y);
        for (int x = 0; x < destination.Width(); ++x) a[x] = s[3 * x + 2];
    }
    return true;
}

void FillCheckerboard(CPicture& picture, int square, Bgr first, Bgr second) {
    if (picture.IsEmpty()) return;
    if (square < 1) square = 1;
    for (int y = 0; y < picture.Height(); ++y) {
        uint8_t* p = picture.Row(y);
        for (int x = 0; x < picture.Width(); ++x) {
            const Bgr c = ((x / square + y / square) & 1) ? second : first;
            p[3 * x] = c.b;
            p[3 * x + 1] = c.g;
            p[3 * x + 2] = c.r;
        }
    }
}

}  // namespace quorbel
