#include "picture/metafile_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "picture/plane_math.h"

namespace quorbel {

namespace {

constexpr double kPi = std::numbers::pi;
// Device coordinates are kept within this range so that nothing a file says can overflow the
// integer conversions; the picture is never more than 65535 pixels wide.
constexpr double kCoordinateLimit = 1e9;

// The point at angle th on the ellipse of centre (cx, cy) and radii rx and ry.
MfPoint OnEllipse(double cx, double cy, double rx, double ry, double th) {
    double sine, cosine;
    plane::SinCos(th, sine, cosine);
    return {cx + rx * cosine, cy + ry * sine};
}

double Sane(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

MfPoint SanePoint(MfPoint p) { return {Sane(p.x), Sane(p.y)}; }

// Pixel index of a device coordinate: an integer coordinate names the pixel itself.
int PixelOf(double v) { return int(std::floor(v + 0.5)); }

// A value brought into [lo, hi] before it becomes an integer; NaN becomes lo.
int ClampToInt(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;
    if (!(v <= hi)) return hi;
    return int(v);
}

// Points a path may collect before further figures are dropped: arcs and curves are flattened
// into many points, and a path that is never ended must not grow without bound.
constexpr size_t kMaxPathPoints = size_t(1) << 22;
// Pieces of a wide outline painted together (they share one colour, so batches paint alike).
constexpr size_t kStrokeBatch = 256;

bool HatchBit(int hatch, int x, int y) {
    const int i = x & 7, j = y & 7;
    switch (hatch) {
    case 0: return j == 0;                     // horizontal
    case 1: return i == 0;                     // vertical
    case 2: return i == j;                     // forward diagonal, "\"
    case 3: return i + j == 7;                 // backward diagonal, "/"
    case 4: return i == 0 || j == 0;           // cross
    case 5: return i == j || i + j == 7;       // diagonal cross
    default: return false;
    }
}

double SignedArea(const std::vector<MfPoint>& f) {
    double a = 0;
    for (size_t i = 0, n = f.size(); i < n; ++i) {
        const MfPoint& p = f[i];
        const MfPoint& q = f[(i + 1) % n];
        a += p.x * q.y - q.x * p.y;
    }
    return a / 2;
}

}  // namespace

MfTransform MfTransform::Then(const MfTransform& t) const {
    MfTransform r;
    r.m11 = m11 * t.m11 + m12 * t.m21;
    r.m12 = m11 * t.m12 + m12 * t.m22;
    r.m21 = m21 * t.m11 + m22 * t.m21;
    r.m22 = m21 * t.m12 + m22 * t.m22;
    r.dx = dx * t.m11 + dy * t.m21 + t.dx;
    r.dy = dx * t.m12 + dy * t.m22 + t.dy;
    return r;
}

double MfTransform::Scale() const {
    const double d = std::fabs(m11 * m22 - m12 * m21);
    return std::isfinite(d) ? plane::SquareRoot(d) : 0;
}

MfRop RopFromCode(uint32_t code) {
    switch (code >> 16) {  // the operation index; the low word only says how GDI computes it
    case 0xCC: return MfRop::SrcCopy;
    case 0x88: return MfRop::SrcAnd;
    case 0xEE: return MfRop::SrcPaint;
    case 0x66: return MfRop::SrcInvert;
    case 0x33: return MfRop::NotSrcCopy;
    case 0xF0: return MfRop::PatCopy;
    case 0x00: return MfRop::Blackness;
    case 0xFF: return MfRop::Whiteness;
    case 0x55: return MfRop::DstInvert;
    case 0xAA: return MfRop::Nop;
    default: return MfRop::SrcCopy;
    }
}

MetafileRenderer::MetafileRenderer() { UpdateTransform(); }

bool MetafileRenderer::Begin(CPicture& target, int width, int height) {
    measuring_ = false;
    if (!PictureSizeAllowed(width, height) || !target.Create(width, height)) return false;
    for (int y = 0; y < height; ++y) std::memset(target.Row(y), 0xFF, size_t(width) * 3);
    target_ = &target;
    state_ = State();
    state_.clip = FullClip();
    saved_.clear();
    UpdateTransform();
    return true;
}

void MetafileRenderer::BeginMeasure() {
    target_ = nullptr;
    measuring_ = true;
    measured_any_ = false;
    state_ = State();
    saved_.clear();
    UpdateTransform();
}

bool MetafileRenderer::Measured(double& x0, double& y0, double& x1, double& y1) const {
    if (!measured_any_) return false;
    x0 = mx0_, y0 = my0_, x1 = mx1_, y1 = my1_;
    return true;
}

void MetafileRenderer::SetDeviceResolution(double px_per_mm_x, double px_per_mm_y) {
    if (std::isfinite(px_per_mm_x) && px_per_mm_x > 0) px_per_mm_x_ = px_per_mm_x;
    if (std::isfinite(px_per_mm_y) && px_per_mm_y > 0) px_per_mm_y_ = px_per_mm_y;
    UpdateTransform();
}

MetafileRenderer::Clip MetafileRenderer::FullClip() const {
    Clip c;
    if (target_) c.x1 = target_->Width(), c.y1 = target_->Height();
    return c;
}

bool MetafileRenderer::Spend(uint64_t pixels) {
    if (exhausted_) return false;
    if (pixels > work_left_) {
        work_left_ = 0;
        exhausted_ = true;
        return false;
    }
    work_left_ -= pixels;
    return true;
}

// --- mapping ---------------------------------------------------------------------------------

void MetafileRenderer::UpdateTransform() {
    const State& s = state_;
    double sx = 1, sy = 1;
    switch (s.map) {
    case MfMapMode::Text: break;
    case MfMapMode::LoMetric: sx = 0.1, sy = -0.1; break;
    case MfMapMode::HiMetric: sx = 0.01, sy = -0.01; break;
    case MfMapMode::LoEnglish: sx = 0.254, sy = -0.254; break;
    case MfMapMode::HiEnglish: sx = 0.0254, sy = -0.0254; break;
    case MfMapMode::Twips: sx = 25.4 / 1440, sy = -25.4 / 1440; break;
    case MfMapMode::Isotropic:
    case MfMapMode::Anisotropic:
        sx = s.vex / s.wex;
        sy = s.vey / s.wey;
        if (s.map == MfMapMode::Isotropic) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    }
    if (s.map >= MfMapMode::LoMetric && s.map <= MfMapMode::Twips) {
        sx *= px_per_mm_x_;
        sy *= px_per_mm_y_;
    }
    MfTransform page;
    page.m11 = sx;
    page.m22 = sy;
    page.dx = s.vox - s.wox * sx;
    page.dy = s.voy - s.woy * sy;
    to_device_ = s.world.Then(page).Then(reference_);
}

void MetafileRenderer::SetMapMode(int mode) {
    if (mode < 1 || mode > 8) return;
    state_.map = MfMapMode(mode);
    UpdateTransform();
}

void MetafileRenderer::SetWindowOrg(double x, double y) {
    state_.wox = Sane(x), state_.woy = Sane(y);
    UpdateTransform();
}

void MetafileRenderer::SetViewportOrg(double x, double y) {
    state_.vox = Sane(x), state_.voy = Sane(y);
    UpdateTransform();
}

// A zero extent would make the mapping singular: such calls are refused, as GDI refuses them.
void MetafileRenderer::SetWindowExt(double cx, double cy) {
    if (cx == 0 || cy == 0 || !std::isfinite(cx) || !std::isfinite(cy)) return;
    state_.wex = cx, state_.wey = cy;
    UpdateTransform();
}

void MetafileRenderer::SetViewportExt(double cx, double cy) {
    if (cx == 0 || cy == 0 || !std::isfinite(cx) || !std::isfinite(cy)) return;
    state_.vex = cx, state_.vey = cy;
    UpdateTransform();
}

void MetafileRenderer::OffsetWindowOrg(double dx, double dy) { SetWindowOrg(state_.wox + dx, state_.woy + dy); }
void MetafileRenderer::OffsetViewportOrg(double dx, double dy) { SetViewportOrg(state_.vox + dx, state_.voy + dy); }

void MetafileRenderer::ScaleWindowExt(double xn, double xd, double yn, double yd) {
    if (xd == 0 || yd == 0) return;
    SetWindowExt(state_.wex * xn / xd, state_.wey * yn / yd);
}

void MetafileRenderer::ScaleViewportExt(double xn, double xd, double yn, double yd) {
    if (xd == 0 || yd == 0) return;
    SetViewportExt(state_.vex * xn / xd, state_.vey * yn / yd);
}

void MetafileRenderer::SetWorldTransform(const MfTransform& t) {
    const double v[6] = {t.m11, t.m12, t.m21, t.m22, t.dx, t.dy};
    for (double x : v)
        if (!std::isfinite(x)) return;
    state_.world = t;
    UpdateTransform();
}

void MetafileRenderer::ModifyWorldTransform(const MfTransform& t, int mode) {
    switch (mode) {
    case 1: SetWorldTransform(MfTransform()); break;
    case 2: SetWorldTransform(t.Then(state_.world)); break;
    case 3: SetWorldTransform(state_.world.Then(t)); break;
    case 4: SetWorldTransform(t); break;
    default: break;
    }
}

void MetafileRenderer::SaveDC() {
    // Bounded: a file that only saves would otherwise grow the stack without end.
    if (saved_.size() < 4096) saved_.push_back(state_);
}

bool MetafileRenderer::RestoreDC(int which) {
    size_t keep;
    if (which < 0) {
        const size_t back = size_t(-int64_t(which));
        if (back > saved_.size()) return false;
        keep = saved_.size() - back;
    } else if (which > 0) {
        if (size_t(which) > saved_.size()) return false;
        keep = size_t(which) - 1;
    } else {
        return false;
    }
    state_ = saved_[keep];
    saved_.resize(keep);
    UpdateTransform();
    return true;
}

// --- objects ---------------------------------------------------------------------------------

void MetafileRenderer::ResizeObjectTable(size_t slots) { objects_.assign(slots, Object()); }

int MetafileRenderer::FreeSlot() const {
    for (size_t i = 0; i < objects_.size(); ++i)
        if (objects_[i].kind == Object::Empty) return int(i);
    return -1;
}

bool MetafileRenderer::CreatePen(size_t slot, const MfPen& pen) {
    if (slot >= objects_.size()) return false;
    objects_[slot] = Object();
    objects_[slot].kind = Object::Pen;
    objects_[slot].pen = pen;
    return true;
}

bool MetafileRenderer::CreateBrush(size_t slot, const MfBrush& brush) {
    if (slot >= objects_.size()) return false;
    objects_[slot] = Object();
    objects_[slot].kind = Object::Brush;
    objects_[slot].brush = brush;
    return true;
}

bool MetafileRenderer::CreateOther(size_t slot) {
    if (slot >= objects_.size()) return false;
    objects_[slot] = Object();
    objects_[slot].kind = Object::Other;
    return true;
}

bool MetafileRenderer::SelectObject(size_t slot) {
    if (slot >= objects_.size()) return false;
    const Object& o = objects_[slot];
    if (o.kind == Object::Pen) state_.pen = o.pen;
    else if (o.kind == Object::Brush) state_.brush = o.brush;
    return o.kind != Object::Empty;
}

void MetafileRenderer::SelectStockObject(uint32_t number) {
    static const uint8_t greys[] = {255, 192, 128, 64, 0};
    if (number <= 4) {
        state_.brush = MfBrush();
        state_.brush.colour = Bgr{greys[number], greys[number], greys[number]};
    } else if (number == 5) {
        state_.brush = MfBrush();
        state_.brush.style = MfBrushStyle::Null;
    } else if (number == 6 || number == 7) {
        state_.pen = MfPen();
        const uint8_t v = number == 6 ? 255 : 0;
        state_.pen.colour = Bgr{v, v, v};
    } else if (number == 8) {
        state_.pen = MfPen();
        state_.pen.style = MfPenStyle::Null;
    }
}

bool MetafileRenderer::DeleteObject(size_t slot) {
    if (slot >= objects_.size()) return false;
    objects_[slot] = Object();
    return true;
}

// --- clipping --------------------------------------------------------------------------------

namespace {

struct PixelRect {
    int x0, y0, x1, y1;
};

PixelRect DeviceRect(MfPoint a, MfPoint b) {
    a = SanePoint(a), b = SanePoint(b);
    return {PixelOf(std::min(a.x, b.x)), PixelOf(std::min(a.y, b.y)), PixelOf(std::max(a.x, b.x)),
            PixelOf(std::max(a.y, b.y))};
}

}  // namespace

void MetafileRenderer::IntersectClipRect(double l, double t, double r, double b) {
    const PixelRect p = DeviceRect(ToDevice({l, t}), ToDevice({r, b}));
    Clip& c = state_.clip;
    c.x0 = std::max(c.x0, p.x0), c.y0 = std::max(c.y0, p.y0);
    c.x1 = std::min(c.x1, p.x1), c.y1 = std::min(c.y1, p.y1);
    if (c.x1 < c.x0) c.x1 = c.x0;
    if (c.y1 < c.y0) c.y1 = c.y0;
}

void MetafileRenderer::IntersectClipDevice(double l, double t, double r, double b) {
    const PixelRect p = DeviceRect(reference_.Apply({l, t}), reference_.Apply({r, b}));
    Clip& c = state_.clip;
    c.x0 = std::max(c.x0, p.x0), c.y0 = std::max(c.y0, p.y0);
    c.x1 = std::min(c.x1, p.x1), c.y1 = std::min(c.y1, p.y1);
    if (c.x1 < c.x0) c.x1 = c.x0;
    if (c.y1 < c.y0) c.y1 = c.y0;
}

// Only a rectangle is kept: an excluded rectangle that takes a whole side strip off the clip
// narrows it; one in the middle cannot be expressed and is ignored.
void MetafileRenderer::ExcludeClipRect(double l, double t, double r, double b) {
    const PixelRect e = DeviceRect(ToDevice({l, t}), ToDevice({r, b}));
    Clip& c = state_.clip;
    const bool full_rows = e.y0 <= c.y0 && e.y1 >= c.y1;
    const bool full_columns = e.x0 <= c.x0 && e.x1 >= c.x1;
    if (full_rows && e.x0 <= c.x0 && e.x1 > c.x0) c.x0 = std::min(e.x1, c.x1);
    else if (full_rows && e.x1 >= c.x1 && e.x0 < c.x1) c.x1 = std::max(e.x0, c.x0);
    else if (full_columns && e.y0 <= c.y0 && e.y1 > c.y0) c.y0 = std::min(e.y1, c.y1);
    else if (full_columns && e.y1 >= c.y1 && e.y0 < c.y1) c.y1 = std::max(e.y0, c.y0);
}

void MetafileRenderer::ResetClip() { state_.clip = FullClip(); }

// --- geometry --------------------------------------------------------------------------------

MetafileRenderer::Figure MetafileRenderer::Transformed(const std::vector<MfPoint>& logical) const {
    Figure f;
    f.reserve(logical.size());
    for (const MfPoint& p : logical) f.push_back(SanePoint(ToDevice(p)));
    return f;
}

int MetafileRenderer::SegmentsFor(double radius) const {
    // Enough segments that a chord strays at most a quarter pixel from the curve.
    if (!(radius > 1)) return 8;
    const double step = plane::ArcCos(std::max(-1.0, 1 - 0.25 / radius));
    if (!(step > 0)) return 1024;
    return std::clamp(int(std::ceil(2 * kPi / step)), 8, 1024);
}

MetafileRenderer::Figure MetafileRenderer::EllipsePoints(double l, double t, double r, double b) const {
    const double cx = (l + r) / 2, cy = (t + b) / 2, a = std::fabs(r - l) / 2, bb = std::fabs(b - t) / 2;
    const double scale = to_device_.Scale();
    const int n = SegmentsFor(std::max(a, bb) * scale);
    std::vector<MfPoint> pts(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double th = 2 * kPi * i / n;
        pts[size_t(i)] = OnEllipse(cx, cy, a, bb, th);
    }
    return Transformed(pts);
}

std::vector<MfPoint> MetafileRenderer::ArcPoints(double l, double t, double r, double b, double xs, double ys,
                                                 double xe, double ye) const {
    const double cx = (l + r) / 2, cy = (t + b) / 2;
    const double a = std::max(std::fabs(r - l) / 2, 1e-9), bb = std::max(std::fabs(b - t) / 2, 1e-9);
    const double ts = plane::Atan2((ys - cy) / bb, (xs - cx) / a);
    const double te = plane::Atan2((ye - cy) / bb, (xe - cx) / a);
    // Counter-clockwise as seen on the device; with y growing downwards that is decreasing
    // angle, and a mapping that flips one axis turns the sense round.
    bool clockwise = state_.clockwise;
    if (to_device_.m11 * to_device_.m22 - to_device_.m12 * to_device_.m21 < 0) clockwise = !clockwise;
    double sweep = clockwise ? te - ts : ts - te;
    while (sweep <= 1e-12) sweep += 2 * kPi;
    while (sweep > 2 * kPi + 1e-12) sweep -= 2 * kPi;
    const int full = SegmentsFor(std::max(a, bb) * to_device_.Scale());
    const int n = std::max(2, int(std::ceil(full * sweep / (2 * kPi))));
    std::vector<MfPoint> pts(size_t(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const double th = clockwise ? ts + sweep * i / n : ts - sweep * i / n;
        pts[size_t(i)] = OnEllipse(cx, cy, a, bb, th);
    }
    return pts;
}

std::vector<MfPoint> MetafileRenderer::BezierPoints(MfPoint p0, const std::vector<MfPoint>& c, size_t first,
                                                    size_t curves) const {
    std::vector<MfPoint> out;
    const double scale = to_device_.Scale();
    for (size_t k = 0; k < curves; ++k) {
        const MfPoint p1 = c[first + 3 * k], p2 = c[first + 3 * k + 1], p3 = c[first + 3 * k + 2];
        const double len = plane::Hypotenuse(p1.x - p0.x, p1.y - p0.y) + plane::Hypotenuse(p2.x - p1.x, p2.y - p1.y) +
                           plane::Hypotenuse(p3.x - p2.x, p3.y - p2.y);
        const double dev = len * scale;
        const int n = std::isfinite(dev) ? std::clamp(int(dev / 4) + 2, 2, 128) : 2;
        for (int i = 1; i <= n; ++i) {
            const double u = double(i) / n, v = 1 - u;
            const double w0 = v * v * v, w1 = 3 * v * v * u, w2 = 3 * v * u * u, w3 = u * u * u;
            out.push_back({w0 * p0.x + w1 * p1.x + w2 * p2.x + w3 * p3.x, w0 * p0.y + w1 * p1.y + w2 * p2.y + w3 * p3.y});
        }
        p0 = p3;
    }
    return out;
}

double MetafileRenderer::PenWidthPixels() const {
    if (state_.pen.width <= 0) return 1;
    const double w = state_.pen.width * to_device_.Scale();
    return std::isfinite(w) ? std::min(w, 1e6) : 1;
}

// --- output ----------------------------------------------------------------------------------

void MetafileRenderer::Shape(std::vector<Figure> figures, bool closed, bool fill) {
    if (path_open_) {
        for (Figure& f : figures) {
            if (f.size() > kMaxPathPoints - path_points_) return;
            path_points_ += f.size();
            path_.push_back(std::move(f));
            path_closed_.push_back(closed);
        }
        return;
    }
    if (fill && closed && HasBrush()) FillFigures(figures, state_.brush, state_.winding);
    if (HasPen())
        for (const Figure& f : figures) StrokeFigure(f, closed);
}

void MetafileRenderer::FillFigures(const std::vector<Figure>& figures, const MfBrush& brush, bool winding) {
    if (measuring_) {
        for (const Figure& f : figures)
            for (const MfPoint& p : f) {
                if (!measured_any_) mx0_ = mx1_ = p.x, my0_ = my1_ = p.y, measured_any_ = true;
                mx0_ = std::min(mx0_, p.x), mx1_ = std::max(mx1_, p.x);
                my0_ = std::min(my0_, p.y), my1_ = std::max(my1_, p.y);
            }
        return;
    }
    if (!target_ || exhausted_) return;
    const Clip& c = state_.clip;
    if (c.x0 >= c.x1 || c.y0 >= c.y1) return;
    struct Edge {
        double ytop, ybottom, xtop, slope;
        int dir;
    };
    std::vector<Edge> edges;
    for (const Figure& f : figures) {
        const size_t n = f.size();
        if (n < 2) continue;
        for (size_t i = 0; i < n; ++i) {
            MfPoint a = f[i], b = f[(i + 1) % n];
            if (a.y == b.y) continue;
            int dir = 1;
            if (a.y > b.y) std::swap(a, b), dir = -1;
            edges.push_back({a.y, b.y, a.x, (b.x - a.x) / (b.y - a.y), dir});
        }
    }
    if (edges.empty()) return;
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.ytop < b.ytop; });
    double ymin = edges.front().ytop, ymax = ymin;
    for (const Edge& e : edges) ymax = std::max(ymax, e.ybottom);
    // Rows whose centres lie inside the polygon's extent and the clip.
    const int row0 = ClampToInt(std::ceil(ymin - 0.5), c.y0, c.y1);
    const int row1 = ClampToInt(std::ceil(ymax - 0.5), c.y0, c.y1);
    std::vector<size_t> active;
    std::vector<std::pair<double, int>> crossings;
    size_t next = 0;
    for (int y = row0; y < row1; ++y) {
        const double yc = y + 0.5;
        while (next < edges.size() && edges[next].ytop <= yc) active.push_back(next++);
        crossings.clear();
        size_t keep = 0;
        for (size_t k = 0; k < active.size(); ++k) {
            const Edge& e = edges[active[k]];
            if (e.ybottom <= yc) continue;  // finished
            active[keep++] = active[k];
            double x = e.xtop + (yc - e.ytop) * e.slope;
            if (!(x > -kCoordinateLimit)) x = -kCoordinateLimit;  // NaN too: the sort needs an order
            else if (x > kCoordinateLimit) x = kCoordinateLimit;
            crossings.push_back({x, e.dir});
        }
        active.resize(keep);
        if (!Spend(1 + crossings.size())) return;
        std::sort(crossings.begin(), crossings.end(),
                  [](const std::pair<double, int>& a, const std::pair<double, int>& b) { return a.first < b.first; });
        int count = 0;
        for (size_t k = 0; k + 1 < crossings.size(); ++k) {
            count += winding ? crossings[k].second : 1;
            const bool inside = winding ? count != 0 : (count & 1) != 0;
            if (!inside) continue;
            // Pixels whose centres lie in [xa, xb).
            const double xa = crossings[k].first, xb = crossings[k + 1].first;
            const int p0 = ClampToInt(std::ceil(xa - 0.5), c.x0, c.x1);
            const int p1 = ClampToInt(std::ceil(xb - 0.5), c.x0, c.x1);
            if (p0 < p1) {
                if (!Spend(uint64_t(p1 - p0))) return;
                FillSpan(y, p0, p1, brush);
            }
        }
    }
}

void MetafileRenderer::SolidSpan(uint8_t* row, int x0, int x1, Bgr c) {
    uint8_t* p = row + size_t(x0) * 3;
    size_t n = size_t(x1 - x0);
    if (c.b == c.g && c.g == c.r) {
        std::memset(p, c.b, n * 3);
        return;
    }
    uint8_t pattern[48];
    for (int i = 0; i < 16; ++i) pattern[3 * i] = c.b, pattern[3 * i + 1] = c.g, pattern[3 * i + 2] = c.r;
    for (; n >= 16; n -= 16, p += 48) std::memcpy(p, pattern, 48);
    std::memcpy(p, pattern, n * 3);
}

void MetafileRenderer::FillSpan(int y, int x0, int x1, const MfBrush& brush) {
    uint8_t* row = target_->Row(y);
    switch (brush.style) {
    case MfBrushStyle::Null:
        return;
    case MfBrushStyle::Solid:
        SolidSpan(row, x0, x1, brush.colour);
        return;
    case MfBrushStyle::Hatched:
        for (int x = x0; x < x1; ++x) {
            Bgr c;
            if (HatchBit(brush.hatch, x, y)) c = brush.colour;
            else if (state_.opaque_bk) c = state_.bk;
            else continue;
            row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r;
        }
        return;
    case MfBrushStyle::Pattern: {
        const CPicture* tile = brush.tile.get();
        if (!tile || tile->IsEmpty()) {
            SolidSpan(row, x0, x1, brush.colour);
            return;
        }
        const uint8_t* src = tile->Row(y % tile->Height());
        const int tw = tile->Width();
        for (int x = x0; x < x1; ++x) {
            const uint8_t* s = src + 3 * (x % tw);
            row[3 * x] = s[0], row[3 * x + 1] = s[1], row[3 * x + 2] = s[2];
        }
        return;
    }
    }
}

void MetafileRenderer::Plot(int x, int y, Bgr c) {
    const Clip& k = state_.clip;
    if (x < k.x0 || x >= k.x1 || y < k.y0 || y >= k.y1) return;
    uint8_t* p = target_->Row(y) + 3 * x;
    p[0] = c.b, p[1] = c.g, p[2] = c.r;
}

void MetafileRenderer::ThinLine(MfPoint a, MfPoint b, Bgr colour, MfPenStyle style, bool last_point) {
    const Clip& k = state_.clip;
    if (k.x0 >= k.x1 || k.y0 >= k.y1) return;
    // Cut the segment to the clip (widened by a pixel) first, so a line a file sends a long
    // way off costs no more than the pixels it can touch.
    const double bx0 = k.x0 - 1, by0 = k.y0 - 1, bx1 = k.x1 + 1, by1 = k.y1 + 1;
    double t0 = 0, t1 = 1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - bx0, bx1 - a.x, a.y - by0, by1 - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, r);
        else t1 = std::min(t1, r);
    }
    if (t0 > t1) return;
    if (t1 < 1) last_point = true;  // the true end lies outside: draw up to the cut
    const int x0 = PixelOf(a.x + t0 * dx), y0 = PixelOf(a.y + t0 * dy);
    const int x1 = PixelOf(a.x + t1 * dx), y1 = PixelOf(a.y + t1 * dy);
    const int ax = std::abs(x1 - x0), ay = std::abs(y1 - y0);
    const int steps = std::max(ax, ay);
    const int count = last_point ? steps + 1 : steps;
    if (count <= 0) return;
    if (!Spend(uint64_t(count))) return;
    // Dash patterns of the cosmetic styles, in pixels (on, off, ...).
    static const int kDash[] = {18, 6}, kDot[] = {3, 3}, kDashDot[] = {9, 6, 3, 6}, kDashDotDot[] = {9, 3, 3, 3, 3, 3};
    const int* pattern = nullptr;
    int pattern_len = 0;
    switch (style) {
    case MfPenStyle::Dash: pattern = kDash, pattern_len = 2; break;
    case MfPenStyle::Dot: pattern = kDot, pattern_len = 2; break;
    case MfPenStyle::DashDot: pattern = kDashDot, pattern_len = 4; break;
    case MfPenStyle::DashDotDot: pattern = kDashDotDot, pattern_len = 6; break;
    default: break;
    }
    int phase = 0, left = pattern ? pattern[0] : 0;
    for (int i = 0; i < count; ++i) {
        const int x = steps ? x0 + int(plane::RoundHalfAway(double(x1 - x0) * i / steps)) : x0;
        const int y = steps ? y0 + int(plane::RoundHalfAway(double(y1 - y0) * i / steps)) : y0;
        if (!pattern || (phase & 1) == 0) Plot(x, y, colour);
        else if (state_.opaque_bk) Plot(x, y, state_.bk);
        if (pattern && --left == 0) {
            phase = (phase + 1) % pattern_len;
            left = pattern[phase];
        }
    }
}

void MetafileRenderer::StrokeFigure(const Figure& figure, bool closed) {
    if (figure.empty()) return;
    if (measuring_) {
        FillFigures({figure}, MfBrush(), false);
        return;
    }
    if (!target_ || exhausted_) return;
    const double w = PenWidthPixels();
    const Bgr colour = state_.pen.colour;
    const size_t n = figure.size();
    const size_t segments = closed ? n : n - 1;
    if (w < 1.5) {
        if (n == 1) {
            ThinLine(figure[0], figure[0], colour, state_.pen.style, true);
            return;
        }
        for (size_t i = 0; i < segments; ++i)
            ThinLine(figure[i], figure[(i + 1) % n], colour, state_.pen.style, false);
        return;
    }
    // A wide pen: one quadrilateral per segment and a round join at every vertex, painted
    // together with the winding rule (each piece turned the same way so that they unite).
    const double h = w / 2;
    std::vector<Figure> pieces;
    MfBrush solid;
    solid.colour = colour;
    auto add = [&](Figure f) {
        if (SignedArea(f) < 0) std::reverse(f.begin(), f.end());
        pieces.push_back(std::move(f));
        if (pieces.size() >= kStrokeBatch) {
            FillFigures(pieces, solid, true);
            pieces.clear();
        }
    };
    const int disc = std::clamp(SegmentsFor(h), 8, 64);
    for (size_t i = 0; i < n; ++i) {
        const MfPoint c{figure[i].x + 0.5, figure[i].y + 0.5};
        Figure d(static_cast<size_t>(disc));
        for (int k = 0; k < disc; ++k)
            d[size_t(k)] = OnEllipse(c.x, c.y, h, h, 2 * kPi * k / disc);
        add(std::move(d));
    }
    for (size_t i = 0; i < segments; ++i) {
        const MfPoint a = figure[i], b = figure[(i + 1) % n];
        const double len = plane::Hypotenuse(b.x - a.x, b.y - a.y);
        if (!(len > 0)) continue;
        const double nx = -(b.y - a.y) / len * h, ny = (b.x - a.x) / len * h;
        add({{a.x + 0.5 + nx, a.y + 0.5 + ny}, {b.x + 0.5 + nx, b.y + 0.5 + ny}, {b.x + 0.5 - nx, b.y + 0.5 - ny},
             {a.x + 0.5 - nx, a.y + 0.5 - ny}});
    }
    FillFigures(pieces, solid, true);
}

// --- drawing calls ---------------------------------------------------------------------------

void MetafileRenderer::MoveTo(double x, double y) { state_.position = {x, y}; }

void MetafileRenderer::LineTo(double x, double y) {
    const MfPoint from = state_.position;
    state_.position = {x, y};
    if (path_open_) {
        const MfPoint a = SanePoint(ToDevice(from)), b = SanePoint(ToDevice({x, y}));
        const bool continues = !path_.empty() && !path_closed_.back() && !path_.back().empty() &&
                               path_.back().back().x == a.x && path_.back().back().y == a.y;
        if (path_points_ + 2 > kMaxPathPoints) return;
        if (!continues) {
            path_.push_back({a});
            path_closed_.push_back(false);
            ++path_points_;
        }
        path_.back().push_back(b);
        ++path_points_;
        return;
    }
    Shape({Transformed({from, {x, y}})}, false, false);
}

void MetafileRenderer::Polyline(const std::vector<MfPoint>& points) {
    if (points.empty()) return;
    Shape({Transformed(points)}, false, false);
}

void MetafileRenderer::PolylineTo(const std::vector<MfPoint>& points) {
    for (const MfPoint& p : points) LineTo(p.x, p.y);
}

void MetafileRenderer::Polygon(const std::vector<MfPoint>& points) {
    if (points.size() < 2) return;
    Shape({Transformed(points)}, true, true);
}

void MetafileRenderer::PolyPolygon(const std::vector<std::vector<MfPoint>>& polygons) {
    std::vector<Figure> figures;
    for (const auto& p : polygons)
        if (p.size() >= 2) figures.push_back(Transformed(p));
    if (!figures.empty()) Shape(std::move(figures), true, true);
}

void MetafileRenderer::PolyBezier(const std::vector<MfPoint>& points) {
    if (points.empty()) return;
    std::vector<MfPoint> flat{points[0]};
    const std::vector<MfPoint> rest = BezierPoints(points[0], points, 1, (points.size() - 1) / 3);
    flat.insert(flat.end(), rest.begin(), rest.end());
    Shape({Transformed(flat)}, false, false);
}

void MetafileRenderer::PolyBezierTo(const std::vector<MfPoint>& points) {
    const std::vector<MfPoint> flat = BezierPoints(state_.position, points, 0, points.size() / 3);
    PolylineTo(flat);
}

void MetafileRenderer::Rectangle(double l, double t, double r, double b) {
    const MfPoint a = SanePoint(ToDevice({l, t})), c = SanePoint(ToDevice({r, b}));
    const bool axis_aligned = to_device_.m12 == 0 && to_device_.m21 == 0;
    if (!axis_aligned) {
        Shape({Transformed({{l, t}, {r, t}, {r, b}, {l, b}})}, true, true);
        return;
    }
    const double x0 = std::min(a.x, c.x), x1 = std::max(a.x, c.x), y0 = std::min(a.y, c.y), y1 = std::max(a.y, c.y);
    if (path_open_) {
        Shape({{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}}, true, true);
        return;
    }
    // The interior covers the pixels from the left/top edge up to (not including) the
    // right/bottom edge, and the outline runs along the outermost of those pixels.
    if (HasBrush()) FillFigures({{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}}, state_.brush, false);
    if (HasPen()) {
        const double rx = std::max(x0, x1 - 1), by = std::max(y0, y1 - 1);
        StrokeFigure({{x0, y0}, {rx, y0}, {rx, by}, {x0, by}}, true);
    }
}

void MetafileRenderer::RoundRect(double l, double t, double r, double b, double cw, double ch) {
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    const double rx = std::min(std::fabs(cw) / 2, (r - l) / 2), ry = std::min(std::fabs(ch) / 2, (b - t) / 2);
    if (rx <= 0 || ry <= 0) {
        Rectangle(l, t, r, b);
        return;
    }
    const int quarter = std::max(2, SegmentsFor(std::max(rx, ry) * to_device_.Scale()) / 4);
    std::vector<MfPoint> pts;
    const MfPoint centres[4] = {{r - rx, t + ry}, {l + rx, t + ry}, {l + rx, b - ry}, {r - rx, b - ry}};
    for (int q = 0; q < 4; ++q)
        for (int i = 0; i <= quarter; ++i) {
            const double th = kPi / 2 * (q + double(i) / quarter);
            pts.push_back(OnEllipse(centres[q].x, centres[q].y, rx, -ry, th));
        }
    Shape({Transformed(pts)}, true, true);
}

void MetafileRenderer::Ellipse(double l, double t, double r, double b) {
    Shape({EllipsePoints(l, t, r, b)}, true, true);
}

void MetafileRenderer::Arc(double l, double t, double r, double b, double xs, double ys, double xe, double ye) {
    Shape({Transformed(ArcPoints(l, t, r, b, xs, ys, xe, ye))}, false, false);
}

void MetafileRenderer::ArcTo(double l, double t, double r, double b, double xs, double ys, double xe, double ye) {
    const std::vector<MfPoint> pts = ArcPoints(l, t, r, b, xs, ys, xe, ye);
    PolylineTo(pts);  // a line from the current position to the arc's start, then the arc
}

void MetafileRenderer::Chord(double l, double t, double r, double b, double xs, double ys, double xe, double ye) {
    Shape({Transformed(ArcPoints(l, t, r, b, xs, ys, xe, ye))}, true, true);
}

void MetafileRenderer::Pie(double l, double t, double r, double b, double xs, double ys, double xe, double ye) {
    std::vector<MfPoint> pts = ArcPoints(l, t, r, b, xs, ys, xe, ye);
    pts.push_back({(l + r) / 2, (t + b) / 2});
    Shape({Transformed(pts)}, true, true);
}

void MetafileRenderer::AngleArc(double x, double y, double radius, double start_deg, double sweep_deg) {
    if (!std::isfinite(radius) || !std::isfinite(start_deg) || !std::isfinite(sweep_deg)) return;
    sweep_deg = std::clamp(sweep_deg, -360.0, 360.0);
    const int full = SegmentsFor(std::fabs(radius) * to_device_.Scale());
    const int n = std::max(2, int(std::ceil(full * std::fabs(sweep_deg) / 360)));
    std::vector<MfPoint> pts;
    for (int i = 0; i <= n; ++i) {
        // Angles count counter-clockwise with y pointing up, so y subtracts.
        const double th = (start_deg + sweep_deg * i / n) * kPi / 180;
        pts.push_back(OnEllipse(x, y, radius, -radius, th));
    }
    PolylineTo(pts);
}

void MetafileRenderer::SetPixel(double x, double y, Bgr c) {
    const MfPoint d = SanePoint(ToDevice({x, y}));
    if (measuring_) {
        FillFigures({{d}}, MfBrush(), false);
        return;
    }
    if (!target_ || !Spend(1)) return;
    Plot(PixelOf(d.x), PixelOf(d.y), c);
}

void MetafileRenderer::PatBlt(double x, double y, double w, double h, MfRop rop) {
    const MfPoint a = SanePoint(ToDevice({x, y})), b = SanePoint(ToDevice({x + w, y + h}));
    if (measuring_) {
        FillFigures({{a, b}}, MfBrush(), false);
        return;
    }
    if (!target_ || exhausted_) return;
    const PixelRect p = DeviceRect(a, b);
    const Clip& c = state_.clip;
    const int x0 = std::max(p.x0, c.x0), x1 = std::min(p.x1, c.x1), y0 = std::max(p.y0, c.y0), y1 = std::min(p.y1, c.y1);
    if (x0 >= x1 || y0 >= y1) return;
    if (!Spend(uint64_t(x1 - x0) * uint64_t(y1 - y0))) return;
    MfBrush brush = state_.brush;
    if (rop == MfRop::Blackness || rop == MfRop::Whiteness) {
        brush = MfBrush();
        const uint8_t v = rop == MfRop::Whiteness ? 255 : 0;
        brush.colour = Bgr{v, v, v};
    }
    for (int yy = y0; yy < y1; ++yy) {
        if (rop == MfRop::DstInvert) {
            uint8_t* row = target_->Row(yy);
            for (int i = x0 * 3; i < x1 * 3; ++i) row[i] = uint8_t(~row[i]);
        } else if (rop != MfRop::Nop) {
            FillSpan(yy, x0, x1, brush);
        }
    }
}

void MetafileRenderer::FillRects(const std::vector<MfPoint>& corners, int brush_slot) {
    MfBrush brush = state_.brush;
    if (brush_slot >= 0) {
        if (size_t(brush_slot) >= objects_.size() || objects_[size_t(brush_slot)].kind != Object::Brush) return;
        brush = objects_[size_t(brush_slot)].brush;
    }
    std::vector<Figure> figures;
    for (size_t i = 0; i + 1 < corners.size(); i += 2) {
        const MfPoint a = corners[i], b = corners[i + 1];
        figures.push_back(Transformed({{a.x, a.y}, {b.x, a.y}, {b.x, b.y}, {a.x, b.y}}));
    }
    // Region rectangles never overlap: the winding rule unites them whatever their turn.
    if (brush.style != MfBrushStyle::Null && !figures.empty()) FillFigures(figures, brush, true);
}

void MetafileRenderer::Blit(const CPicture& bitmap, double sx, double sy, double sw, double sh, double dx, double dy,
                            double dw, double dh, MfRop rop) {
    const MfPoint a = SanePoint(ToDevice({dx, dy})), b = SanePoint(ToDevice({dx + dw, dy + dh}));
    if (measuring_) {
        FillFigures({{a, b}}, MfBrush(), false);
        return;
    }
    if (!target_ || exhausted_ || bitmap.IsEmpty()) return;
    if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(sw) || !std::isfinite(sh)) return;
    const PixelRect p = DeviceRect(a, b);
    const int out_w = p.x1 - p.x0, out_h = p.y1 - p.y0;
    if (out_w <= 0 || out_h <= 0 || sw == 0 || sh == 0) return;
    // The image turns round when the destination and the source run in opposite senses.
    const bool flip_x = (b.x < a.x) != (sw < 0);
    const bool flip_y = (b.y < a.y) != (sh < 0);
    const double src_x0 = std::min(sx, sx + sw), src_y0 = std::min(sy, sy + sh);
    const double src_w = std::fabs(sw), src_h = std::fabs(sh);
    const Clip& c = state_.clip;
    const int x0 = std::max(p.x0, c.x0), x1 = std::min(p.x1, c.x1), y0 = std::max(p.y0, c.y0), y1 = std::min(p.y1, c.y1);
    if (x0 >= x1 || y0 >= y1) return;
    if (!Spend(uint64_t(x1 - x0) * uint64_t(y1 - y0))) return;
    // The source column and row of every destination pixel (nearest sample); -1 off the bitmap.
    auto source_index = [](int d, int origin, int extent, bool flip, double s0, double sext, int limit) {
        double u = (d - origin + 0.5) / extent;
        if (flip) u = 1 - u;
        const double s = std::floor(s0 + u * sext);
        return s >= 0 && s < limit ? int(s) : -1;
    };
    std::vector<int> columns(size_t(x1 - x0));
    bool identity = !flip_x && src_w == out_w;
    for (int x = x0; x < x1; ++x) {
        columns[size_t(x - x0)] = source_index(x, p.x0, out_w, flip_x, src_x0, src_w, bitmap.Width());
        if (columns[size_t(x - x0)] < 0 || (x > x0 && columns[size_t(x - x0)] != columns[size_t(x - x0 - 1)] + 1))
            identity = false;
    }
    for (int y = y0; y < y1; ++y) {
        const int sy_row = source_index(y, p.y0, out_h, flip_y, src_y0, src_h, bitmap.Height());
        if (sy_row < 0) continue;
        const uint8_t* s = bitmap.Row(sy_row);
        uint8_t* d = target_->Row(y);
        if (rop == MfRop::SrcCopy && identity) {
            std::memcpy(d + 3 * x0, s + 3 * columns[0], size_t(x1 - x0) * 3);
            continue;
        }
        if (rop == MfRop::SrcCopy) {
            for (int x = x0; x < x1; ++x) {
                const int col = columns[size_t(x - x0)];
                if (col < 0) continue;
                d[3 * x] = s[3 * col], d[3 * x + 1] = s[3 * col + 1], d[3 * x + 2] = s[3 * col + 2];
            }
            continue;
        }
        for (int x = x0; x < x1; ++x) {
            const int col = columns[size_t(x - x0)];
            if (col < 0) continue;
            const uint8_t* sp = s + 3 * col;
            uint8_t* dp = d + 3 * x;
            for (int ch = 0; ch < 3; ++ch) {
                const uint8_t sv = sp[ch], dv = dp[ch];
                uint8_t v = sv;
                switch (rop) {
                case MfRop::SrcAnd: v = sv & dv; break;
                case MfRop::SrcPaint: v = sv | dv; break;
                case MfRop::SrcInvert: v = sv ^ dv; break;
                case MfRop::NotSrcCopy: v = uint8_t(~sv); break;
                case MfRop::DstInvert: v = uint8_t(~dv); break;
                case MfRop::Blackness: v = 0; break;
                case MfRop::Whiteness: v = 255; break;
                case MfRop::Nop: v = dv; break;
                default: break;
                }
                dp[ch] = v;
            }
        }
    }
}

// --- paths -----------------------------------------------------------------------------------

void MetafileRenderer::BeginPath() {
    AbortPath();
    path_open_ = true;
}

void MetafileRenderer::AbortPath() {
    path_.clear();
    path_closed_.clear();
    path_points_ = 0;
    path_open_ = false;
}

void MetafileRenderer::CloseFigure() {
    if (!path_closed_.empty()) path_closed_.back() = true;
}

void MetafileRenderer::FillPath() {
    path_open_ = false;
    if (HasBrush()) FillFigures(path_, state_.brush, state_.winding);
    AbortPath();
}

void MetafileRenderer::StrokePath() {
    path_open_ = false;
    if (HasPen())
        for (size_t i = 0; i < path_.size(); ++i) StrokeFigure(path_[i], path_closed_[i]);
    AbortPath();
}

void MetafileRenderer::StrokeAndFillPath() {
    path_open_ = false;
    if (HasBrush()) FillFigures(path_, state_.brush, state_.winding);
    if (HasPen())
        for (size_t i = 0; i < path_.size(); ++i) StrokeFigure(path_[i], true);
    AbortPath();
}

void MetafileRenderer::SelectClipPath() {
    path_open_ = false;
    bool any = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (const Figure& f : path_)
        for (const MfPoint& p : f) {
            if (!any) x0 = x1 = p.x, y0 = y1 = p.y, any = true;
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        }
    if (any) {
        Clip& c = state_.clip;
        c.x0 = std::max(c.x0, PixelOf(x0)), c.y0 = std::max(c.y0, PixelOf(y0));
        c.x1 = std::min(c.x1, PixelOf(x1)), c.y1 = std::min(c.y1, PixelOf(y1));
        if (c.x1 < c.x0) c.x1 = c.x0;
        if (c.y1 < c.y0) c.y1 = c.y0;
    }
    AbortPath();
}

}  // namespace quorbel
