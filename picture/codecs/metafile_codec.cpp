#include "picture/codecs/metafile_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "core/byte_reader.h"
#include "picture/metafile_renderer.h"
#include "picture/plane_math.h"

namespace quorbel {

CWmfFormat::CWmfFormat() : CGraphicsFormat("WMF", "Windows MetaFile (WMF)", "WMF - Windows MetaFile (*.wmf)|*.wmf|") {}
CEmfFormat::CEmfFormat() : CGraphicsFormat("EMF", "Enhanced MetaFile (EMF)", "EMF - Enhanced MetaFile (*.emf)|*.emf|") {}

namespace {

// A metafile is read whole before it is played; anything larger is not a metafile we show.
constexpr int64_t kLargestMetafile = int64_t(64) * 1024 * 1024;
// Progress is reported (and cancellation noticed) every this many records.
constexpr int kProgressEvery = 64;
// The side of the picture a plain WMF gets when none of its records has a place.
constexpr double kEmptyMetafileSide = 96;

// Bounds-checked fields of one record, at offsets from the record's first byte. A field that
// does not fit in the record reads 0 and marks the record bad; a bad record is not played.
class Record {
public:
    Record(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    size_t Size() const { return n_; }
    const uint8_t* Data() const { return p_; }
    bool Ok() const { return ok_; }
    bool Has(uint64_t offset, uint64_t bytes) {
        if (offset > n_ || bytes > n_ - offset) ok_ = false;
        return ok_;
    }
    uint32_t U32(size_t off) { return Has(off, 4) ? Le32(p_ + off) : 0; }
    int32_t I32(size_t off) { return int32_t(U32(off)); }
    uint16_t U16(size_t off) { return Has(off, 2) ? Le16(p_ + off) : 0; }
    int16_t I16(size_t off) { return int16_t(U16(off)); }
    float F32(size_t off) {
        const uint32_t v = U32(off);
        float f;
        std::memcpy(&f, &v, 4);
        return f;
    }

private:
    const uint8_t* p_;
    size_t n_;
    bool ok_ = true;
};

Bgr ColourRef(uint32_t v) { return Bgr{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// The picture size for a frame of w x h units of `unit` pixels each, scaled down to fit the
// largest side; false when there is nothing to draw or the size check refuses it.
bool FitSize(double w, double h, int& width, int& height, double& scale) {
    if (!std::isfinite(w) || !std::isfinite(h) || w <= 0 || h <= 0) return false;
    scale = std::min(1.0, double(MetafileRenderer::kMaxSide) / std::max(w, h));
    width = std::max(1, int(plane::RoundHalfAway(std::min(w * scale, 1e9))));
    height = std::max(1, int(plane::RoundHalfAway(std::min(h * scale, 1e9))));
    return PictureSizeAllowed(width, height);
}

class ProgressReporter {
public:
    ProgressReporter(ProgressSink* sink, int64_t range) : sink_(sink) {
        if (sink_) sink_->SetRange(0, std::max<int64_t>(range, 1), true);
    }
    void Record(int64_t position) {
        if (sink_ && ++count_ % kProgressEvery == 0 && sink_->SetPos(position, true) == 0) throw EGraphicsAbort();
    }

private:
    ProgressSink* sink_;
    int64_t count_ = 0;
};

// A packed device-independent bitmap put together from its header and bits (which may lie
// apart inside the record) and decoded through the bounded packed-DIB reader. `bottom_up` says
// whether the rows were stored bottom row first (the source rectangle of some blits counts
// from the bottom then).
std::shared_ptr<CPicture> DecodeDib(Record& r, uint64_t off_bmi, uint64_t cb_bmi, uint64_t off_bits, uint64_t cb_bits,
                                    bool* bottom_up) {
    if (cb_bmi < 40 || !r.Has(off_bmi, cb_bmi) || !r.Has(off_bits, cb_bits)) return nullptr;
    std::vector<uint8_t> packed;
    packed.reserve(size_t(cb_bmi + cb_bits));
    packed.insert(packed.end(), r.Data() + off_bmi, r.Data() + off_bmi + cb_bmi);
    packed.insert(packed.end(), r.Data() + off_bits, r.Data() + off_bits + cb_bits);
    if (bottom_up) *bottom_up = int32_t(Le32(packed.data() + 8)) > 0;
    auto picture = std::make_shared<CPicture>();
    if (!picture->FromPackedDib(packed.data(), packed.size())) return nullptr;
    return picture;
}

// A source rectangle given from the bottom of a bottom-up bitmap, turned to count from the top.
double FromBottom(double y, double h, const CPicture& bitmap, bool bottom_up) {
    return bottom_up ? bitmap.Height() - y - h : y;
}

// ============================================================================================
// EMF
// ============================================================================================

struct EmfHeader {
    int32_t bounds[4] = {};  // left, top, right, bottom (device units, inclusive)
    int32_t frame[4] = {};   // 0.01 mm
    uint32_t header_size = 0, records = 0;
    uint16_t handles = 0;
    int32_t device[2] = {}, millimetres[2] = {};
};

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

bool ReadEmfHeader(const uint8_t* data, size_t size, EmfHeader& h) {
    if (size < 88) return false;
    if (Le32(data) != 1 || Le32(data + 40) != kEmfSignature) return false;
    h.header_size = Le32(data + 4);
    if (h.header_size < 88 || h.header_size > size) return false;
    for (int i = 0; i < 4; ++i) h.bounds[i] = int32_t(Le32(data + 8 + 4 * i)), h.frame[i] = int32_t(Le32(data + 24 + 4 * i));
    h.records = Le32(data + 52);
    h.handles = Le16(data + 56);
    for (int i = 0; i < 2; ++i)
        h.device[i] = int32_t(Le32(data + 72 + 4 * i)), h.millimetres[i] = int32_t(Le32(data + 80 + 4 * i));
    return true;
}

// The picture's size comes from the bounds (edges included); when a writer left them empty,
// from the frame. The records are mapped as GDI plays a metafile into a rectangle: the frame
// (0.01 mm, turned into the recording device's pixels) onto the whole picture; without a usable
// frame, the bounds.
struct EmfGeometry {
    double width = 0, height = 0;          // of the picture before any scaling
    double map_x = 0, map_y = 0, map_w = 0, map_h = 0;  // device pixels that fill the picture
};

bool EmfFrameInPixels(const EmfHeader& h, double& x, double& y, double& w, double& ht) {
    if (h.device[0] <= 0 || h.device[1] <= 0 || h.millimetres[0] <= 0 || h.millimetres[1] <= 0) return false;
    const double sx = double(h.device[0]) / (h.millimetres[0] * 100.0), sy = double(h.device[1]) / (h.millimetres[1] * 100.0);
    x = h.frame[0] * sx, y = h.frame[1] * sy;
    w = (double(h.frame[2]) - h.frame[0]) * sx, ht = (double(h.frame[3]) - h.frame[1]) * sy;
    return w > 0 && ht > 0;
}

bool EmfLayout(const EmfHeader& h, EmfGeometry& g) {
    const int64_t bw = int64_t(h.bounds[2]) - h.bounds[0] + 1, bh = int64_t(h.bounds[3]) - h.bounds[1] + 1;
    double fx, fy, fw, fh;
    const bool frame = EmfFrameInPixels(h, fx, fy, fw, fh);
    if (bw > 0 && bh > 0) {
        g.width = double(bw), g.height = double(bh);
    } else if (frame) {
        g.width = fw, g.height = fh;
    } else {
        return false;
    }
    if (frame) {
        g.map_x = fx, g.map_y = fy, g.map_w = fw, g.map_h = fh;
    } else {
        g.map_x = h.bounds[0], g.map_y = h.bounds[1], g.map_w = g.width, g.map_h = g.height;
    }
    return true;
}

std::vector<MfPoint> EmfPoints(Record& r, size_t count_off, size_t points_off, bool small) {
    const uint32_t count = r.U32(count_off);
    const size_t each = small ? 4 : 8;
    // The count can never claim more points than the record holds.
    if (!r.Ok() || points_off > r.Size() || count > (r.Size() - points_off) / each) return {};
    std::vector<MfPoint> pts(count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = points_off + i * each;
        pts[i] = small ? MfPoint{double(r.I16(o)), double(r.I16(o + 2))} : MfPoint{double(r.I32(o)), double(r.I32(o + 4))};
    }
    return pts;
}

// Poly-polygons and poly-polylines: the counts, then all points; every count is checked against
// the points there are.
std::vector<std::vector<MfPoint>> EmfPolyPoints(Record& r, bool small) {
    const uint32_t polys = r.U32(24), total = r.U32(28);
    const size_t each = small ? 4 : 8;
    if (!r.Ok() || polys > (r.Size() - 32) / 4) return {};
    const size_t points_off = 32 + size_t(polys) * 4;
    if (total > (r.Size() - points_off) / each) return {};
    std::vector<std::vector<MfPoint>> out;
    size_t at = 0;
    for (uint32_t k = 0; k < polys; ++k) {
        const uint32_t n = r.U32(32 + 4 * k);
        if (n > total - at) return {};
        std::vector<MfPoint> pts(n);
        for (uint32_t i = 0; i < n; ++i, ++at) {
            const size_t o = points_off + at * each;
            pts[i] = small ? MfPoint{double(r.I16(o)), double(r.I16(o + 2))} : MfPoint{double(r.I32(o)), double(r.I32(o + 4))};
        }
        out.push_back(std::move(pts));
    }
    return out;
}

MfPen PenOf(uint32_t style, double width, uint32_t colour) {
    MfPen pen;
    const uint32_t s = style & 0xF;
    pen.style = s <= 6 ? MfPenStyle(s) : MfPenStyle::Solid;
    pen.width = width;
    pen.colour = ColourRef(colour);
    return pen;
}

MfBrush BrushOf(uint32_t style, uint32_t colour, uint32_t hatch) {
    MfBrush brush;
    brush.colour = ColourRef(colour);
    if (style == 1) brush.style = MfBrushStyle::Null;
    else if (style == 2 && hatch <= 5) brush.style = MfBrushStyle::Hatched, brush.hatch = int(hatch);
    return brush;
}

void EmfRegionRects(Record& r, size_t data_off, size_t data_size, std::vector<MfPoint>& corners) {
    if (data_size < 32 || !r.Has(data_off, data_size)) return;
    const uint32_t count = r.U32(data_off + 8);
    if (count > (data_size - 32) / 16) return;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = data_off + 32 + 16 * size_t(i);
        corners.push_back({double(r.I32(o)), double(r.I32(o + 4))});
        corners.push_back({double(r.I32(o + 8)), double(r.I32(o + 12))});
    }
}

MfTransform TransformAt(Record& r, size_t off) {
    MfTransform t;
    t.m11 = r.F32(off), t.m12 = r.F32(off + 4), t.m21 = r.F32(off + 8), t.m22 = r.F32(off + 12);
    t.dx = r.F32(off + 16), t.dy = r.F32(off + 20);
    return t;
}

// One EMF record onto the renderer.
void PlayEmfRecord(MetafileRenderer& dc, uint32_t type, Record& r, MetafilePlay& play) {
    auto box = [&](size_t o, double v[4]) {
        for (int i = 0; i < 4; ++i) v[i] = r.I32(o + 4 * i);
    };
    double b[4];
    switch (type) {
    case 2: case 85: { auto p = EmfPoints(r, 24, 28, type == 85); if (!p.empty()) dc.PolyBezier(p); break; }
    case 3: case 86: { auto p = EmfPoints(r, 24, 28, type == 86); if (!p.empty()) dc.Polygon(p); break; }
    case 4: case 87: { auto p = EmfPoints(r, 24, 28, type == 87); if (!p.empty()) dc.Polyline(p); break; }
    case 5: case 88: { auto p = EmfPoints(r, 24, 28, type == 88); if (!p.empty()) dc.PolyBezierTo(p); break; }
    case 6: case 89: { auto p = EmfPoints(r, 24, 28, type == 89); if (!p.empty()) dc.PolylineTo(p); break; }
    case 7: case 90:
        for (const auto& p : EmfPolyPoints(r, type == 90))
            if (!p.empty()) dc.Polyline(p);
        break;
    case 8: case 91: { auto p = EmfPolyPoints(r, type == 91); if (!p.empty()) dc.PolyPolygon(p); break; }
    case 56: case 92: {  // PolyDraw: points, then one type byte each
        const bool small = type == 92;
        auto p = EmfPoints(r, 24, 28, small);
        const size_t types = 28 + p.size() * (small ? 4 : 8);
        if (p.empty() || !r.Has(types, p.size())) break;
        MfPoint start = p[0];
        for (size_t i = 0; i < p.size(); ++i) {
            const uint8_t t = r.Data()[types + i];
            if ((t & 6) == 6) {
                dc.MoveTo(p[i].x, p[i].y), start = p[i];
            } else if ((t & 6) == 4 && i + 2 < p.size()) {
                dc.PolyBezierTo({p[i], p[i + 1], p[i + 2]});
                i += 2;
            } else {
                dc.LineTo(p[i].x, p[i].y);
            }
            if (t & 1) dc.LineTo(start.x, start.y);
        }
        break;
    }
    case 9: dc.SetWindowExt(r.I32(8), r.I32(12)); break;
    case 10: dc.SetWindowOrg(r.I32(8), r.I32(12)); break;
    case 11: dc.SetViewportExt(r.I32(8), r.I32(12)); break;
    case 12: dc.SetViewportOrg(r.I32(8), r.I32(12)); break;
    case 15: dc.SetPixel(r.I32(8), r.I32(12), ColourRef(r.U32(16))); break;
    case 17: dc.SetMapMode(int(r.U32(8))); break;
    case 18: dc.SetBkMode(int(r.U32(8))); break;
    case 19: dc.SetPolyFillMode(int(r.U32(8))); break;
    case 25: dc.SetBkColor(ColourRef(r.U32(8))); break;
    case 27: dc.MoveTo(r.I32(8), r.I32(12)); break;
    case 29: box(8, b); if (r.Ok()) dc.ExcludeClipRect(b[0], b[1], b[2], b[3]); break;
    case 30: box(8, b); if (r.Ok()) dc.IntersectClipRect(b[0], b[1], b[2], b[3]); break;
    case 31: dc.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 32: dc.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 33: dc.SaveDC(); break;
    case 34: dc.RestoreDC(r.I32(8)); break;
    case 35: { MfTransform t = TransformAt(r, 8); if (r.Ok()) dc.SetWorldTransform(t); break; }
    case 36: { MfTransform t = TransformAt(r, 8); const int mode = int(r.U32(32)); if (r.Ok()) dc.ModifyWorldTransform(t, mode); break; }
    case 37: {
        const uint32_t index = r.U32(8);
        if (!r.Ok()) break;
        if (index & 0x80000000u) dc.SelectStockObject(index & 0x7FFFFFFFu);
        else dc.SelectObject(index);
        break;
    }
    case 38: {
        const uint32_t slot = r.U32(8), style = r.U32(12);
        const int32_t width = r.I32(16);
        const uint32_t colour = r.U32(24);
        if (r.Ok()) dc.CreatePen(slot, PenOf(style, std::abs(double(width)), colour));
        break;
    }
    case 95: {  // extended pen: a geometric pen's width is logical, a cosmetic one is a pixel
        const uint32_t slot = r.U32(8), style = r.U32(28), width = r.U32(32), brush_style = r.U32(36), colour = r.U32(40);
        if (!r.Ok()) break;
        MfPen pen = PenOf(style, (style & 0x10000) ? double(width) : 0, colour);
        if (brush_style == 1) pen.style = MfPenStyle::Null;
        dc.CreatePen(slot, pen);
        break;
    }
    case 39: {
        const uint32_t slot = r.U32(8), style = r.U32(12), colour = r.U32(16), hatch = r.U32(20);
        if (r.Ok()) dc.CreateBrush(slot, BrushOf(style, colour, hatch));
        break;
    }
    case 93: case 94: {  // monochrome and DIB pattern brushes
        const uint32_t slot = r.U32(8);
        auto tile = DecodeDib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), nullptr);
        if (!r.Ok()) break;
        MfBrush brush;
        if (tile) brush.style = MfBrushStyle::Pattern, brush.tile = tile;
        dc.CreateBrush(slot, brush);
        break;
    }
    case 40: dc.DeleteObject(r.U32(8)); break;
    case 41: dc.AngleArc(r.I32(8), r.I32(12), r.U32(16), r.F32(20), r.F32(24)); break;
    case 42: box(8, b); if (r.Ok()) dc.Ellipse(b[0], b[1], b[2], b[3]); break;
    case 43: box(8, b); if (r.Ok()) dc.Rectangle(b[0], b[1], b[2], b[3]); break;
    case 44: box(8, b); if (r.Ok()) dc.RoundRect(b[0], b[1], b[2], b[3], r.I32(24), r.I32(28)); break;
    case 45: case 46: case 47: case 55: {
        box(8, b);
        const double xs = r.I32(24), ys = r.I32(28), xe = r.I32(32), ye = r.I32(36);
        if (!r.Ok()) break;
        if (type == 45) dc.Arc(b[0], b[1], b[2], b[3], xs, ys, xe, ye);
        else if (type == 46) dc.Chord(b[0], b[1], b[2], b[3], xs, ys, xe, ye);
        else if (type == 47) dc.Pie(b[0], b[1], b[2], b[3], xs, ys, xe, ye);
        else dc.ArcTo(b[0], b[1], b[2], b[3], xs, ys, xe, ye);
        break;
    }
    case 54: dc.LineTo(r.I32(8), r.I32(12)); break;
    case 57: dc.SetArcDirection(int(r.U32(8))); break;
    case 59: dc.BeginPath(); break;
    case 60: dc.EndPath(); break;
    case 61: dc.CloseFigure(); break;
    case 62: dc.FillPath(); break;
    case 63: dc.StrokeAndFillPath(); break;
    case 64: dc.StrokePath(); break;
    case 67: dc.SelectClipPath(); break;
    case 68: dc.AbortPath(); break;
    case 71: case 74: {  // FillRgn (with a brush object) and PaintRgn (current brush)
        const uint32_t cb = r.U32(24);
        const int brush = type == 71 ? int(std::min<uint32_t>(r.U32(28), 0x7FFFFFFF)) : -1;
        std::vector<MfPoint> corners;
        if (r.Ok()) EmfRegionRects(r, type == 71 ? 32 : 28, cb, corners);
        if (!corners.empty()) dc.FillRects(corners, brush);
        break;
    }
    case 75: {  // ExtSelectClipRgn: copy (5) or intersect (1) with the region's bounds
        const uint32_t cb = r.U32(8), mode = r.U32(12);
        if (!r.Ok()) break;
        if (mode == 5 && cb == 0) {
            dc.ResetClip();
        } else if ((mode == 5 || mode == 1) && cb >= 32 && r.Has(16, cb)) {
            if (mode == 5) dc.ResetClip();
            dc.IntersectClipDevice(r.I32(16 + 16), r.I32(16 + 20), r.I32(16 + 24), r.I32(16 + 28));
        }
        break;
    }
    case 76: case 77: case 114: case 116: {  // BitBlt, StretchBlt, AlphaBlend, TransparentBlt
        const double x = r.I32(24), y = r.I32(28), w = r.I32(32), h = r.I32(36);
        const uint32_t rop = r.U32(40);
        const double sx = r.I32(44), sy = r.I32(48);
        const uint32_t off_bmi = r.U32(84), cb_bmi = r.U32(88), off_bits = r.U32(92), cb_bits = r.U32(96);
        if (!r.Ok()) break;
        if (cb_bmi == 0) {
            if (type == 76 || type == 77) dc.PatBlt(x, y, w, h, RopFromCode(rop));
            break;
        }
        double sw = w, sh = h;
        if (type != 76) sw = r.I32(100), sh = r.I32(104);
        auto bitmap = DecodeDib(r, off_bmi, cb_bmi, off_bits, cb_bits, nullptr);
        const MfRop op = type == 76 || type == 77 ? RopFromCode(rop) : MfRop::SrcCopy;
        if (bitmap && r.Ok()) dc.Blit(*bitmap, sx, sy, sw, sh, x, y, w, h, op);
        break;
    }
    case 80: case 81: {  // SetDIBitsToDevice, StretchDIBits
        const double x = r.I32(24), y = r.I32(28), sx = r.I32(32), sy = r.I32(36), sw = r.I32(40), sh = r.I32(44);
        const uint32_t off_bmi = r.U32(48), cb_bmi = r.U32(52), off_bits = r.U32(56), cb_bits = r.U32(60);
        double w = sw, h = sh;
        MfRop op = MfRop::SrcCopy;
        if (type == 81) op = RopFromCode(r.U32(68)), w = r.I32(72), h = r.I32(76);
        if (!r.Ok()) break;
        bool bottom_up = true;
        auto bitmap = DecodeDib(r, off_bmi, cb_bmi, off_bits, cb_bits, &bottom_up);
        if (bitmap) dc.Blit(*bitmap, sx, FromBottom(sy, sh, *bitmap, bottom_up), sw, sh, x, y, w, h, op);
        break;
    }
    case 83: case 84: case 96: case 97: case 108:  // text
        dc.CountText();
        ++play.text_skipped;
        break;
    default:
        break;  // palettes, colour management, comments, fonts and the rest draw nothing
    }
}

// ============================================================================================
// WMF
// ============================================================================================

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;

struct WmfHeader {
    bool placeable = false;
    int16_t bbox[4] = {};    // left, top, right, bottom
    uint16_t inch = 0;
    size_t records_start = 0;
    uint32_t size_words = 0;
    uint16_t objects = 0;
};

bool ReadWmfHeader(const uint8_t* data, size_t size, WmfHeader& h) {
    size_t at = 0;
    if (size >= 4 && Le32(data) == kPlaceableKey) {
        if (size < 22) return false;
        h.placeable = true;
        for (int i = 0; i < 4; ++i) h.bbox[i] = int16_t(Le16(data + 6 + 2 * i));
        h.inch = Le16(data + 14);
        at = 22;
    }
    if (size - at < 18) return false;
    const uint8_t* m = data + at;
    const uint16_t type = Le16(m), header_words = Le16(m + 2), version = Le16(m + 4);
    h.size_words = Le32(m + 6);
    h.objects = Le16(m + 10);
    if (h.placeable) {
        if ((type != 1 && type != 2) || header_words != 9 || (version != 0x0300 && version != 0x0100)) return false;
        // A bounding box without units per inch gives no size: it cannot be scaled.
        if (h.inch == 0 || h.bbox[2] == h.bbox[0] || h.bbox[3] == h.bbox[1]) return false;
    } else {
        if (type != 1 || version != 0x0300 || header_words != 9 || uint64_t(h.size_words) != size / 2) return false;
    }
    h.records_start = at + 18;
    return true;
}

// Visits the records from the first to the end record; a record whose size is zero, shorter
// than its own fields or longer than the bytes left ends the walk.
template <typename Visit>
int WalkWmf(const uint8_t* data, size_t size, size_t start, Visit&& visit) {
    size_t pos = start;
    int count = 0;
    while (size - pos >= 6) {
        const uint64_t bytes = uint64_t(Le32(data + pos)) * 2;
        const uint16_t function = Le16(data + pos + 4);
        if (function == 0 || bytes < 6 || bytes > size - pos) break;
        Record r(data + pos, size_t(bytes));
        ++count;
        if (!visit(function, r, pos)) break;
        pos += size_t(bytes);
    }
    return count;
}

std::vector<MfPoint> WmfPoints(Record& r, size_t count_off, size_t points_off) {
    const uint16_t n = r.U16(count_off);
    if (!r.Ok() || points_off > r.Size() || n > (r.Size() - points_off) / 4) return {};
    std::vector<MfPoint> pts(n);
    for (uint16_t i = 0; i < n; ++i) pts[i] = {double(r.I16(points_off + 4 * i)), double(r.I16(points_off + 4 * i + 2))};
    return pts;
}

void PlaceWmfObject(MetafileRenderer& dc, bool pen, const MfPen& p, const MfBrush& b, bool other) {
    const int slot = dc.FreeSlot();
    if (slot < 0) return;  // the table the header announced is full
    if (other) dc.CreateOther(size_t(slot));
    else if (pen) dc.CreatePen(size_t(slot), p);
    else dc.CreateBrush(size_t(slot), b);
}

void PlayWmfRecord(MetafileRenderer& dc, uint16_t f, Record& r, MetafilePlay& play) {
    // Parameters are 16-bit words after the 6-byte record head, most often in reverse order.
    auto P = [&](int i) { return double(r.I16(6 + 2 * size_t(i))); };
    // Records that may or may not carry a bitmap say which by their size.
    const bool no_bitmap = r.Size() / 2 == size_t((f >> 8) + 3);
    switch (f) {
    case 0x0201: dc.SetBkColor(ColourRef(r.U32(6))); break;
    case 0x0102: dc.SetBkMode(int(P(0))); break;
    case 0x0106: dc.SetPolyFillMode(int(P(0))); break;
    case 0x0103:
        // The window maps onto the whole picture whatever mode was recorded; only the
        // isotropic mode changes how (equal scales).
        dc.SetMapMode(P(0) == 7 ? 7 : 8);
        break;
    case 0x020B: if (r.Ok()) dc.SetWindowOrg(P(1), P(0)); break;
    case 0x020C: { const double h = P(0), w = P(1); if (r.Ok()) dc.SetWindowExt(w, h); break; }
    case 0x020F: { const double dy = P(0), dx = P(1); if (r.Ok()) dc.OffsetWindowOrg(dx, dy); break; }
    case 0x0410: { const double yd = P(0), yn = P(1), xd = P(2), xn = P(3); if (r.Ok()) dc.ScaleWindowExt(xn, xd, yn, yd); break; }
    case 0x0213: { const double y = P(0), x = P(1); if (r.Ok()) dc.LineTo(x, y); break; }
    case 0x0214: { const double y = P(0), x = P(1); if (r.Ok()) dc.MoveTo(x, y); break; }
    case 0x0415: case 0x0416: {
        const double bb = P(0), rr = P(1), t = P(2), l = P(3);
        if (!r.Ok()) break;
        if (f == 0x0416) dc.IntersectClipRect(l, t, rr, bb);
        else dc.ExcludeClipRect(l, t, rr, bb);
        break;
    }
    case 0x0817: case 0x081A: case 0x0830: {
        const double ye = P(0), xe = P(1), ys = P(2), xs = P(3), bb = P(4), rr = P(5), t = P(6), l = P(7);
        if (!r.Ok()) break;
        if (f == 0x0817) dc.Arc(l, t, rr, bb, xs, ys, xe, ye);
        else if (f == 0x081A) dc.Pie(l, t, rr, bb, xs, ys, xe, ye);
        else dc.Chord(l, t, rr, bb, xs, ys, xe, ye);
        break;
    }
    case 0x0418: case 0x041B: {
        const double bb = P(0), rr = P(1), t = P(2), l = P(3);
        if (!r.Ok()) break;
        if (f == 0x0418) dc.Ellipse(l, t, rr, bb);
        else dc.Rectangle(l, t, rr, bb);
        break;
    }
    case 0x061C: {
        const double h = P(0), w = P(1), bb = P(2), rr = P(3), t = P(4), l = P(5);
        if (r.Ok()) dc.RoundRect(l, t, rr, bb, w, h);
        break;
    }
    case 0x061D: {
        const uint32_t rop = r.U32(6);
        const double h = P(2), w = P(3), y = P(4), x = P(5);
        if (r.Ok()) dc.PatBlt(x, y, w, h, RopFromCode(rop));
        break;
    }
    case 0x001E: dc.SaveDC(); break;
    case 0x0127: if (r.Ok()) dc.RestoreDC(int(P(0))); break;
    case 0x041F: { const Bgr c = ColourRef(r.U32(6)); const double y = P(2), x = P(3); if (r.Ok()) dc.SetPixel(x, y, c); break; }
    case 0x0521: case 0x0A32:
        dc.CountText();
        ++play.text_skipped;
        break;
    case 0x0324: { auto p = WmfPoints(r, 6, 8); if (!p.empty()) dc.Polygon(p); break; }
    case 0x0325: { auto p = WmfPoints(r, 6, 8); if (!p.empty()) dc.Polyline(p); break; }
    case 0x0538: {
        const uint16_t polys = r.U16(6);
        if (!r.Ok() || polys > (r.Size() - 8) / 2) break;
        size_t at = 8 + size_t(polys) * 2;
        std::vector<std::vector<MfPoint>> all;
        for (uint16_t k = 0; k < polys; ++k) {
            const uint16_t n = r.U16(8 + 2 * size_t(k));
            // Every polygon's points must be inside the record.
            if (at > r.Size() || n > (r.Size() - at) / 4) return;
            std::vector<MfPoint> pts(n);
            for (uint16_t i = 0; i < n; ++i, at += 4) pts[i] = {double(r.I16(at)), double(r.I16(at + 2))};
            all.push_back(std::move(pts));
        }
        dc.PolyPolygon(all);
        break;
    }
    case 0x012D: if (r.Ok()) dc.SelectObject(r.U16(6)); break;
    case 0x01F0: if (r.Ok()) dc.DeleteObject(r.U16(6)); break;
    case 0x02FA: {
        const uint16_t style = r.U16(6);
        const double width = std::abs(r.I16(8));
        const uint32_t colour = r.U32(12);
        if (r.Ok()) PlaceWmfObject(dc, true, PenOf(style, width, colour), MfBrush(), false);
        break;
    }
    case 0x02FC: {
        const uint16_t style = r.U16(6);
        const uint32_t colour = r.U32(8);
        const uint16_t hatch = r.U16(12);
        if (r.Ok()) PlaceWmfObject(dc, false, MfPen(), BrushOf(style, colour, hatch), false);
        break;
    }
    case 0x0142: {  // a DIB pattern brush: the packed bitmap fills the rest of the record
        MfBrush brush;
        if (r.Size() > 10) {
            auto tile = std::make_shared<CPicture>();
            if (tile->FromPackedDib(r.Data() + 10, r.Size() - 10)) brush.style = MfBrushStyle::Pattern, brush.tile = tile;
        }
        PlaceWmfObject(dc, false, MfPen(), brush, false);
        break;
    }
    case 0x01F9: case 0x02FB: case 0x00F7: case 0x06FF:
        // Bitmap-16 pattern brushes, fonts, palettes and regions take a slot too.
        PlaceWmfObject(dc, false, MfPen(), MfBrush(), true);
        break;
    case 0x0940: case 0x0B41: {  // DIB BitBlt and StretchBlt
        const uint32_t rop = r.U32(6);
        if (no_bitmap) {
            // rop, the source words, a reserved word, then height, width, y, x of the target
            const int first = f == 0x0940 ? 3 : 5;
            const double h = P(first + 0), w = P(first + 1), y = P(first + 2), x = P(first + 3);
            if (r.Ok()) dc.PatBlt(x, y, w, h, RopFromCode(rop));
            break;
        }
        double sx, sy, sw, sh, dx, dy, dw, dh;
        size_t dib;
        if (f == 0x0940) {
            sy = P(2), sx = P(3), dh = P(4), dw = P(5), dy = P(6), dx = P(7), sw = dw, sh = dh, dib = 22;
        } else {
            sh = P(2), sw = P(3), sy = P(4), sx = P(5), dh = P(6), dw = P(7), dy = P(8), dx = P(9), dib = 26;
        }
        if (!r.Ok() || r.Size() <= dib) break;
        CPicture bitmap;
        if (bitmap.FromPackedDib(r.Data() + dib, r.Size() - dib)) dc.Blit(bitmap, sx, sy, sw, sh, dx, dy, dw, dh, RopFromCode(rop));
        break;
    }
    case 0x0F43: case 0x0D33: {  // StretchDIB, SetDIBitsToDevice
        double sx, sy, sw, sh, dx, dy, dw, dh;
        size_t dib;
        MfRop op = MfRop::SrcCopy;
        if (f == 0x0F43) {
            op = RopFromCode(r.U32(6));
            sh = P(3), sw = P(4), sy = P(5), sx = P(6), dh = P(7), dw = P(8), dy = P(9), dx = P(10), dib = 28;
        } else {
            sy = P(3), sx = P(4), sh = P(5), sw = P(6), dy = P(7), dx = P(8), dw = sw, dh = sh, dib = 24;
        }
        if (!r.Ok() || r.Size() <= dib) break;
        const bool bottom_up = r.Size() - dib >= 12 && int32_t(Le32(r.Data() + dib + 8)) > 0;
        CPicture bitmap;
        if (bitmap.FromPackedDib(r.Data() + dib, r.Size() - dib))
            dc.Blit(bitmap, sx, FromBottom(sy, sh, bitmap, bottom_up), sw, sh, dx, dy, dw, dh, op);
        break;
    }
    default:
        break;  // escapes, palettes, regions drawn by handle, old bitmaps: nothing to draw
    }
}

}  // namespace

bool PlayEmf(const uint8_t* data, size_t size, CPicture* picture, ProgressSink* sink, MetafilePlay& play) {
    play = MetafilePlay();
    EmfHeader h;
    if (!data || !ReadEmfHeader(data, size, h)) return false;
    EmfGeometry g;
    double scale;
    if (!EmfLayout(h, g)) return false;
    if (!FitSize(g.width, g.height, play.width, play.height, scale)) return false;
    if (!picture) return true;

    MetafileRenderer dc;
    if (!dc.Begin(*picture, play.width, play.height)) return false;
    MfTransform reference;
    reference.m11 = play.width / g.map_w;
    reference.m22 = play.height / g.map_h;
    reference.dx = -g.map_x * reference.m11;
    reference.dy = -g.map_y * reference.m22;
    dc.SetReference(reference);
    if (h.device[0] > 0 && h.device[1] > 0 && h.millimetres[0] > 0 && h.millimetres[1] > 0)
        dc.SetDeviceResolution(double(h.device[0]) / h.millimetres[0], double(h.device[1]) / h.millimetres[1]);
    dc.SetWorkLimit(uint64_t(play.width) * uint64_t(play.height) * 256 + (uint64_t(16) << 20));
    // Object indices beyond the table the header announces are refused; each object needs a
    // record of its own, so the table is never larger than the file could fill.
    dc.ResizeObjectTable(std::min<size_t>(size_t(h.handles) + 1, size / 16 + 1));
    ProgressReporter progress(sink, h.records);

    size_t pos = 0;
    while (size - pos >= 8) {
        const uint32_t type = Le32(data + pos), bytes = Le32(data + pos + 4);
        // A record that is shorter than its head, not a whole number of words or longer than
        // the bytes left ends the play: nothing can make it read outside the file or stall.
        if (bytes < 8 || bytes % 4 != 0 || bytes > size - pos) break;
        if (type == 14) break;  // end of file
        Record r(data + pos, bytes);
        if (type != 1) PlayEmfRecord(dc, type, r, play);
        ++play.records;
        progress.Record(play.records);
        pos += bytes;
        if (dc.Exhausted()) break;
    }
    play.work_exhausted = dc.Exhausted();
    return true;
}

bool PlayWmf(const uint8_t* data, size_t size, CPicture* picture, ProgressSink* sink, MetafilePlay& play,
             bool* placeable) {
    play = MetafilePlay();
    WmfHeader h;
    if (!data || !ReadWmfHeader(data, size, h)) return false;
    if (placeable) *placeable = h.placeable;

    // The logical window that maps onto the picture, and the picture's size.
    double wx, wy, ww, wh, pw, ph;
    if (h.placeable) {
        wx = h.bbox[0], wy = h.bbox[1];
        ww = double(h.bbox[2]) - h.bbox[0], wh = double(h.bbox[3]) - h.bbox[1];
        pw = std::fabs(ww) * 96 / h.inch, ph = std::fabs(wh) * 96 / h.inch;
    } else {
        bool have_org = false, have_ext = false;
        wx = wy = 0, ww = wh = 0;
        WalkWmf(data, size, h.records_start, [&](uint16_t f, Record& r, size_t) {
            if (f == 0x020B && !have_org) wy = r.I16(6), wx = r.I16(8), have_org = r.Ok();
            if (f == 0x020C && !have_ext) wh = r.I16(6), ww = r.I16(8), have_ext = r.Ok() && ww != 0 && wh != 0;
            return !(have_org && have_ext);
        });
        if (!have_ext) {
            // No window: the extent of what the records draw, one unit to the pixel.
            MetafileRenderer measure;
            measure.BeginMeasure();
            measure.ResizeObjectTable(std::min<size_t>(h.objects, size / 6 + 1));
            MetafilePlay ignored;
            WalkWmf(data, size, h.records_start, [&](uint16_t f, Record& r, size_t) {
                if (f != 0x0103) PlayWmfRecord(measure, f, r, ignored);
                return true;
            });
            double x0, y0, x1, y1;
            if (measure.Measured(x0, y0, x1, y1)) {
                wx = std::floor(x0), wy = std::floor(y0);
                ww = std::max(1.0, std::ceil(x1) - wx + 1), wh = std::max(1.0, std::ceil(y1) - wy + 1);
            } else {
                // Nothing drawn that has a place (text only, say): one inch of white.
                ww = wh = kEmptyMetafileSide;
            }
        }
        pw = std::fabs(ww), ph = std::fabs(wh);
    }
    double scale;
    if (!FitSize(pw, ph, play.width, play.height, scale)) return false;
    if (!picture) return true;

    // The records are played twice: first to find where the drawing lies, then to draw it
    // stretched over the whole picture, which is how a metafile converted without a picture
    // description is played into a rectangle.
    auto setup = [&](MetafileRenderer& dc) {
        dc.SetMapMode(8);
        dc.SetWindowOrg(wx, wy);
        dc.SetWindowExt(ww, wh);
        // The window's own signs say which way its axes run (a negative height: y grows upwards).
        dc.SetViewportOrg(0, 0);
        dc.SetViewportExt(play.width, play.height);
        // The table the header announces, never more slots than the file has records for.
        dc.ResizeObjectTable(std::min<size_t>(h.objects, size / 6 + 1));
    };
    MfTransform fit;
    {
        MetafileRenderer measure;
        measure.BeginMeasure();
        setup(measure);
        MetafilePlay ignored;
        WalkWmf(data, size, h.records_start, [&](uint16_t f, Record& r, size_t) {
            PlayWmfRecord(measure, f, r, ignored);
            return true;
        });
        double x0, y0, x1, y1;
        if (measure.Measured(x0, y0, x1, y1) && x1 > x0 && y1 > y0) {
            fit.m11 = play.width / (x1 - x0), fit.m22 = play.height / (y1 - y0);
            fit.dx = -x0 * fit.m11, fit.dy = -y0 * fit.m22;
        }
    }
    MetafileRenderer dc;
    if (!dc.Begin(*picture, play.width, play.height)) return false;
    dc.SetReference(fit);
    setup(dc);
    dc.SetWorkLimit(uint64_t(play.width) * uint64_t(play.height) * 256 + (uint64_t(16) << 20));
    ProgressReporter progress(sink, int64_t(size));
    play.records = WalkWmf(data, size, h.records_start, [&](uint16_t f, Record& r, size_t pos) {
        PlayWmfRecord(dc, f, r, play);
        progress.Record(int64_t(pos));
        return !dc.Exhausted();
    });
    play.work_exhausted = dc.Exhausted();
    return true;
}

namespace {

// The attached stream read whole (it is rewound first); false when it is empty, larger than a
// metafile can be, or comes up short. The first bytes are looked at before anything else is
// read, so that the dispatcher trying every codec on a large picture of another kind costs a
// few bytes here.
bool ReadAll(DataStream& stream, std::vector<uint8_t>& bytes, bool emf) {
    stream.Rewind();
    uint8_t head[88] = {};
    const size_t got = stream.Read(head, sizeof head);
    if (emf) {
        if (got < 88 || Le32(head) != 1 || Le32(head + 40) != kEmfSignature) return false;
    } else {
        const size_t at = got >= 4 && Le32(head) == kPlaceableKey ? 22 : 0;
        if (got < at + 18 || Le16(head + at + 2) != 9) return false;
    }
    stream.Rewind();
    const int64_t size = stream.Size();
    if (size <= 0 || size > kLargestMetafile) return false;
    bytes.resize(size_t(size));
    return stream.Read(bytes.data(), bytes.size()) == bytes.size();
}

}  // namespace

// Both operations read the whole metafile: the size of a plain WMF may depend on every record.
bool CWmfFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CWmfFormat::Load() {
    std::vector<uint8_t> bytes;
    if (!ReadAll(*stream_, bytes, false)) return false;
    bool placeable = false;
    if (!PlayWmf(bytes.data(), bytes.size(), picture_, sink_, play_, &placeable)) return false;
    width_ = play_.width, height_ = play_.height, depth_ = 24;
    info_text_ = placeable ? "WMF - Placeable Windows MetaFile (ALDUS)" : "WMF - Windows MetaFile (no header)";
    return true;
}

bool CEmfFormat::ReadInfo() {
    return LoadWithoutPicture();
}

bool CEmfFormat::Load() {
    std::vector<uint8_t> bytes;
    if (!ReadAll(*stream_, bytes, true)) return false;
    if (!PlayEmf(bytes.data(), bytes.size(), picture_, sink_, play_)) return false;
    width_ = play_.width, height_ = play_.height, depth_ = 24;
    info_text_ = "Enhanced MetaFile (EMF)";
    return true;
}

}  // namespace quorbel
