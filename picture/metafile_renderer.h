// The software renderer behind the metafile codecs: a small device context that draws into a
// white CPicture. It keeps what a metafile player needs — mapping mode with window and viewport
// origin and extent, a world transform, the save/restore stack, an object table of pens and
// brushes, the current position, a path and a rectangular clip — and draws lines, polygons with
// alternate or winding fill, rectangles, ellipses, arcs, chords, pies, Béziers (flattened) and
// device-independent bitmaps. Both record front ends (WMF and EMF) play onto it.
//
// Coordinates go logical -> world transform -> mapping (window to viewport) -> reference
// transform -> picture pixels. The reference transform is the front end's: it places the
// metafile's frame onto the picture (scaling a large metafile down).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/picture.h"

namespace quorbel {

struct MfPoint {
    double x = 0, y = 0;
};

// A 2-D affine transform: x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy.
struct MfTransform {
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
    MfPoint Apply(MfPoint p) const { return {m11 * p.x + m21 * p.y + dx, m12 * p.x + m22 * p.y + dy}; }
    // This transform followed by `then`.
    MfTransform Then(const MfTransform& then) const;
    double Scale() const;  // square root of the absolute determinant
};

enum class MfMapMode { Text = 1, LoMetric, HiMetric, LoEnglish, HiEnglish, Twips, Isotropic, Anisotropic };

enum class MfPenStyle { Solid = 0, Dash, Dot, DashDot, DashDotDot, Null, InsideFrame };
enum class MfBrushStyle { Solid = 0, Null, Hatched, Pattern };

struct MfPen {
    MfPenStyle style = MfPenStyle::Solid;
    double width = 0;  // logical units; 0 draws one pixel wide
    Bgr colour{};
};

struct MfBrush {
    MfBrushStyle style = MfBrushStyle::Solid;
    Bgr colour{};
    int hatch = 0;                           // 0 horizontal .. 5 diagonal cross
    std::shared_ptr<const CPicture> tile;    // pattern brushes
};

// Raster operations of the blits that the renderer knows; any other draws as a copy.
enum class MfRop { SrcCopy, SrcAnd, SrcPaint, SrcInvert, NotSrcCopy, PatCopy, Blackness, Whiteness, DstInvert, Nop };
MfRop RopFromCode(uint32_t code);

class MetafileRenderer {
public:
    // The largest picture side a metafile renders to: a larger frame is scaled down to fit.
    static constexpr int kMaxSide = 2048;

    MetafileRenderer();

    // Drawing into `target`, which becomes width x height and white. False when the picture
    // cannot be made (size check or memory).
    bool Begin(CPicture& target, int width, int height);
    // Nothing is drawn; the extent of every point the records reach is gathered instead.
    void BeginMeasure();
    bool Measured(double& x0, double& y0, double& x1, double& y1) const;

    void SetReference(const MfTransform& t) {
        reference_ = t;
        UpdateTransform();
    }
    // Pixels per millimetre of the recording device (for the metric and English modes).
    void SetDeviceResolution(double px_per_mm_x, double px_per_mm_y);
    // Pixel work allowed for the whole play (spans filled and pixels set, counted together);
    // once spent, drawing stops and Exhausted() says so.
    void SetWorkLimit(uint64_t pixels) { work_left_ = pixels; }
    bool Exhausted() const { return exhausted_; }

    // --- state ---------------------------------------------------------------------------------
    void SetMapMode(int mode);
    void SetWindowOrg(double x, double y);
    void SetWindowExt(double cx, double cy);
    void SetViewportOrg(double x, double y);
    void SetViewportExt(double cx, double cy);
    void OffsetWindowOrg(double dx, double dy);
    void OffsetViewportOrg(double dx, double dy);
    void ScaleWindowExt(double xn, double xd, double yn, double yd);
    void ScaleViewportExt(double xn, double xd, double yn, double yd);
    void SetWorldTransform(const MfTransform& t);
    // 1 identity, 2 left multiply, 3 right multiply, 4 set.
    void ModifyWorldTransform(const MfTransform& t, int mode);
    void SaveDC();
    // Negative: relative to the top of the stack; positive: the absolute level. False when it
    // names no saved state.
    bool RestoreDC(int which);
    void SetPolyFillMode(int mode) { state_.winding = mode == 2; }
    void SetBkMode(int mode) { state_.opaque_bk = mode == 2; }
    void SetBkColor(Bgr c) { state_.bk = c; }
    void SetArcDirection(int direction) { state_.clockwise = direction == 2; }

    // The object table: slots 0 .. size-1. Creating into a slot replaces what it held.
    void ResizeObjectTable(size_t slots);
    size_t ObjectTableSize() const { return objects_.size(); }
    // The lowest free slot (WMF places objects so), or -1 when the table is full.
    int FreeSlot() const;
    bool CreatePen(size_t slot, const MfPen& pen);
    bool CreateBrush(size_t slot, const MfBrush& brush);
    // A slot that is taken by an object the renderer does not draw with (fonts, palettes,
    // regions), so that later indices stay where the metafile expects them.
    bool CreateOther(size_t slot);
    bool SelectObject(size_t slot);
    // Stock objects by their number: white/ltgray/gray/dkgray/black/null brush, white/black/null
    // pen; others are accepted and ignored.
    void SelectStockObject(uint32_t number);
    bool DeleteObject(size_t slot);

    // --- clipping ------------------------------------------------------------------------------
    void IntersectClipRect(double l, double t, double r, double b);
    void ExcludeClipRect(double l, double t, double r, double b);
    // In device units of the recording device (EMF regions).
    void IntersectClipDevice(double l, double t, double r, double b);
    void ResetClip();

    // --- drawing -------------------------------------------------------------------------------
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void Polyline(const std::vector<MfPoint>& points);
    void PolylineTo(const std::vector<MfPoint>& points);
    void Polygon(const std::vector<MfPoint>& points);
    void PolyPolygon(const std::vector<std::vector<MfPoint>>& polygons);
    void PolyBezier(const std::vector<MfPoint>& points);    // start point, then 3 per curve
    void PolyBezierTo(const std::vector<MfPoint>& points);  // 3 per curve from the current position
    void Rectangle(double l, double t, double r, double b);
    void RoundRect(double l, double t, double r, double b, double cw, double ch);
    void Ellipse(double l, double t, double r, double b);
    void Arc(double l, double t, double r, double b, double xs, double ys, double xe, double ye);
    void ArcTo(double l, double t, double r, double b, double xs, double ys, double xe, double ye);
    void Chord(double l, double t, double r, double b, double xs, double ys, double xe, double ye);
    void Pie(double l, double t, double r, double b, double xs, double ys, double xe, double ye);
    void AngleArc(double x, double y, double radius, double start_deg, double sweep_deg);
    void SetPixel(double x, double y, Bgr c);
    // A rectangle painted with the current brush (or black, white, inverted by the operation).
    void PatBlt(double x, double y, double w, double h, MfRop rop);
    // A region's rectangles (logical) filled with a brush slot (-1: the current brush).
    void FillRects(const std::vector<MfPoint>& corners, int brush_slot);
    // Draws the source rectangle of `bitmap` (top-down rows, as CPicture holds them) into the
    // logical destination rectangle, stretched by nearest sample, mirrored when an extent is
    // negative.
    void Blit(const CPicture& bitmap, double sx, double sy, double sw, double sh, double dx, double dy,
              double dw, double dh, MfRop rop);

    // --- paths ---------------------------------------------------------------------------------
    void BeginPath();
    void EndPath() { path_open_ = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    // The path's extent becomes part of the clip (rectangle clipping only).
    void SelectClipPath();

    // Text is not drawn: the front ends count the records they skip.
    void CountText() { ++text_skipped_; }
    int TextSkipped() const { return text_skipped_; }

private:
    struct Object {
        enum Kind { Empty, Pen, Brush, Other } kind = Empty;
        MfPen pen;
        MfBrush brush;
    };
    struct Clip {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open, picture pixels
    };
    struct State {
        MfMapMode map = MfMapMode::Text;
        double wox = 0, woy = 0, wex = 1, wey = 1;
        double vox = 0, voy = 0, vex = 1, vey = 1;
        MfTransform world;
        MfPen pen;                                  // black, one pixel
        MfBrush brush{MfBrushStyle::Solid, Bgr{255, 255, 255}, 0, nullptr};  // white
        bool winding = false;
        bool opaque_bk = true;
        bool clockwise = false;
        Bgr bk{255, 255, 255};
        MfPoint position;  // logical
        Clip clip;
    };
    using Figure = std::vector<MfPoint>;  // picture pixel coordinates

    void UpdateTransform();
    MfPoint ToDevice(MfPoint logical) const { return to_device_.Apply(logical); }
    double PenWidthPixels() const;
    bool HasPen() const { return state_.pen.style != MfPenStyle::Null; }
    bool HasBrush() const { return state_.brush.style != MfBrushStyle::Null; }
    Clip FullClip() const;

    // Output of every shape: closed figures are filled and then outlined, open ones outlined;
    // inside a path they are collected instead.
    void Shape(std::vector<Figure> figures, bool closed, bool fill);
    void FillFigures(const std::vector<Figure>& figures, const MfBrush& brush, bool winding);
    void StrokeFigure(const Figure& figure, bool closed);
    void ThinLine(MfPoint a, MfPoint b, Bgr colour, MfPenStyle style, bool last_point);
    void FillSpan(int y, int x0, int x1, const MfBrush& brush);
    void SolidSpan(uint8_t* row, int x0, int x1, Bgr c);
    void Plot(int x, int y, Bgr c);
    bool Spend(uint64_t pixels);

    Figure Transformed(const std::vector<MfPoint>& logical) const;
    Figure EllipsePoints(double l, double t, double r, double b) const;
    // Logical points of the arc from the start radial to the end radial in the drawing
    // direction, both end points included.
    std::vector<MfPoint> ArcPoints(double l, double t, double r, double b, double xs, double ys, double xe,
                                   double ye) const;
    std::vector<MfPoint> BezierPoints(MfPoint p0, const std::vector<MfPoint>& controls, size_t first,
                                      size_t curves) const;
    int SegmentsFor(double device_radius) const;

    CPicture* target_ = nullptr;
    bool measuring_ = false;
    bool measured_any_ = false;
    double mx0_ = 0, my0_ = 0, mx1_ = 0, my1_ = 0;
    MfTransform reference_;
    MfTransform to_device_;
    double px_per_mm_x_ = 96 / 25.4, px_per_mm_y_ = 96 / 25.4;
    State state_;
    std::vector<State> saved_;
    std::vector<Object> objects_;
    bool path_open_ = false;
    std::vector<Figure> path_;          // picture pixel coordinates
    std::vector<bool> path_closed_;
    size_t path_points_ = 0;
    uint64_t work_left_ = ~uint64_t(0);
    bool exhausted_ = false;
    int text_skipped_ = 0;
    std::vector<int> winding_scratch_;
};

}  // namespace quorbel
