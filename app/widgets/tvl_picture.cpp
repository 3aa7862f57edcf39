#include "app/widgets/tvl_picture.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "picture/picture.h"

namespace quorbel {

namespace {

QCursor& ApplicationCursor() {
    static QCursor cursor(Qt::CrossCursor);
    return cursor;
}

// One axis of the layout: which picture pixels are shown where, and whether a scroll bar is
// needed.
struct AxisLayout {
    int source_start = 0, source_length = 0;
    int destination_start = 0, destination_length = 0;
    bool scrolls = false;
};

AxisLayout LayOutAxis(int picture, int client_start, int client_length, int zoom, int origin,
                      bool centre) {
    AxisLayout a;
    const int64_t zoomed = int64_t(picture) * zoom / CTvlPicture::kZoomOne;
    if (zoomed <= client_length) {
        a.source_length = picture;
        a.destination_length = int(zoomed);
        a.destination_start = client_start + int((client_length - zoomed) / 2);
        return a;
    }
    // Enough picture pixels to cover the client extent; the last one may be cut.
    int64_t span = (int64_t(client_length) * CTvlPicture::kZoomOne + zoom - 1) / zoom;
    span = std::clamp<int64_t>(span, 1, picture);
    int64_t start = centre ? origin - span / 2 : origin;
    start = std::clamp<int64_t>(start, 0, picture - span);
    a.source_start = int(start);
    a.source_length = int(span);
    a.destination_start = client_start;
    a.destination_length = int(std::min<int64_t>(client_length, span * zoom / CTvlPicture::kZoomOne));
    a.scrolls = true;
    return a;
}

// The fit zoom of one axis.
int FitAxis(int picture, int client, bool powers_of_two) {
    if (picture <= 0) return CTvlPicture::kZoomOne;
    if (!powers_of_two) return int(std::min<int64_t>(int64_t(client) * CTvlPicture::kZoomOne / picture, INT32_MAX / 4));
    int zoom = CTvlPicture::kZoomOne;
    while (zoom > 1 && int64_t(picture) * zoom / CTvlPicture::kZoomOne > client) zoom /= 2;
    return zoom;
}

inline QRgb BoardAt(int x, int y) {
    return ((x + y) & 1) ? CTvlPicture::kBoardLight : CTvlPicture::kBoardDark;
}

// a × colour + (255 − a) × board, rounded, per channel.
inline QRgb Blend(int b, int g, int r, int alpha, QRgb board) {
    auto mix = [alpha](int over, int under) { return (over * alpha + under * (255 - alpha) + 127) / 255; };
    return qRgb(mix(r, qRed(board)), mix(g, qGreen(board)), mix(b, qBlue(board)));
}

}  // namespace

QImage PictureToImage(const CPicture& picture) {
    const int w = picture.Width(), h = picture.Height();
    if (w <= 0 || h <= 0) return {};
    const bool alpha = picture.HasAlpha();
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = picture.Row(y);
        const uint8_t* alpha_row = alpha ? picture.AlphaRow(y) : nullptr;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = alpha_row ? alpha_row[x] : 255;
            out[x] = qRgba(row[3 * x + 2], row[3 * x + 1], row[3 * x], a);
        }
    }
    return image;
}

CTvlPicture::CTvlPicture(QWidget* parent)
    : QWidget(parent), hbar_(new QScrollBar(Qt::Horizontal, this)),
      vbar_(new QScrollBar(Qt::Vertical, this)) {
    hbar_->hide();
    vbar_->hide();
    connect(hbar_, &QScrollBar::valueChanged, this, &CTvlPicture::OnScroll);
    connect(vbar_, &QScrollBar::valueChanged, this, &CTvlPicture::OnScroll);
    setCursor(ApplicationCursor());
    // Every pixel of the client area is painted by us.
    setAttribute(Qt::WA_OpaquePaintEvent);
    Relayout(true);
}

CTvlPicture::~CTvlPicture() = default;

void CTvlPicture::SetApplicationCursor(const QCursor& cursor) { ApplicationCursor() = cursor; }

void CTvlPicture::SetPicture(const CPicture* picture, bool relayout) {
    picture_ = picture;
    const QSize size = picture ? QSize(picture->Width(), picture->Height()) : QSize();
    if (size != last_size_) {
        last_size_ = size;
        zoom_ = kZoomOne;
        origin_x_ = origin_y_ = 0;
        Relayout(true);
    } else if (relayout) {
        Relayout(false);
    }
    frame_dirty_ = true;
    update();
    emit pictureChanged();
}

void CTvlPicture::SetClickCallback(ClickCallback callback, void* context) {
    callback_ = callback;
    context_ = context;
}

void CTvlPicture::SetFitToWindow(bool on) {
    if (fit_ == on) return;
    fit_ = on;
    if (!on) zoom_ = kZoomOne;
    Relayout(true);
    emit pictureChanged();
}

void CTvlPicture::SetFitPowersOfTwo(bool on) {
    if (fit_powers_of_two_ == on) return;
    fit_powers_of_two_ = on;
    Relayout(true);
    emit pictureChanged();
}

void CTvlPicture::SetBorder(bool on) {
    if (border_ == on) return;
    border_ = on;
    Relayout(true);
}

void CTvlPicture::SetZoom(int zoom) {
    zoom = std::clamp(zoom, kZoomFloor * 2, kZoomCeiling / 2);
    // A zoom chosen by hand replaces fitting.
    fit_ = false;
    zoom_ = zoom;
    Relayout(true);
    emit pictureChanged();
}

int CTvlPicture::Granularity() const { return std::max(1, kZoomOne / std::max(1, zoom_)); }

QPoint CTvlPicture::ToPicture(QPoint point) const {
    const int64_t x = int64_t(point.x() - destination_.left()) * kZoomOne / zoom_ + source_.left();
    const int64_t y = int64_t(point.y() - destination_.top()) * kZoomOne / zoom_ + source_.top();
    return {int(x), int(y)};
}

bool CTvlPicture::ZoomAt(QPoint point, bool zoom_in) {
    if (!picture_ || last_size_.isEmpty()) return false;
    const int64_t zoom = zoom_in ? int64_t(zoom_) * 2 : zoom_ / 2;
    if (zoom >= kZoomCeiling || zoom <= kZoomFloor) return false;
    const QPoint at = ToPicture(point);
    origin_x_ = std::clamp(at.x(), 0, last_size_.width() - 1);
    origin_y_ = std::clamp(at.y(), 0, last_size_.height() - 1);
    zoom_ = int(zoom);
    // A step by hand replaces fitting, which would undo it at the next layout.
    fit_ = false;
    centre_on_origin_ = true;
    Relayout(true);
    emit pictureChanged();
    return true;
}

bool CTvlPicture::ZoomStep(bool zoom_in) {
    const QPoint centre = destination_.intersected(client_).center();
    return ZoomAt(centre, zoom_in);
}

void CTvlPicture::ScrollTo(int x, int y) {
    origin_x_ = std::max(0, x);
    origin_y_ = std::max(0, y);
    Relayout(true);
    emit pictureChanged();
}

void CTvlPicture::Relayout(bool force) {
    const QRect outer = rect();
    const QSize picture = last_size_;
    const int bar_w = vbar_->sizeHint().width(), bar_h = hbar_->sizeHint().height();
    const int inset = border_ ? kBorderWidth : 0;
    const bool had_h = hbar_->isVisibleTo(this), had_v = vbar_->isVisibleTo(this);
    bool need_h = false, need_v = false;
    QRect client;
    if (picture.isEmpty()) {
        client = outer.adjusted(inset, inset, -inset, -inset);
    } else {
        // The bars take room from the client area; one bar can make the other necessary.
        for (int pass = 0; pass < 3; ++pass) {
            client = outer.adjusted(inset, inset, -inset - (need_v ? bar_w : 0),
                                    -inset - (need_h ? bar_h : 0));
            if (fit_) {
                const QRect whole = outer.adjusted(inset, inset, -inset, -inset);
                zoom_ = std::max(kZoomFloor,
                                 std::min(FitAxis(picture.width(), whole.width(), fit_powers_of_two_),
                                          FitAxis(picture.height(), whole.height(), fit_powers_of_two_)));
            }
            const bool h = int64_t(picture.width()) * zoom_ / kZoomOne > client.width();
            const bool v = int64_t(picture.height()) * zoom_ / kZoomOne > client.height();
            if (h == need_h && v == need_v) break;
            need_h = h;
            need_v = v;
        }
    }
    if (client.width() < 0) client.setWidth(0);
    if (client.height() < 0) client.setHeight(0);
    if (!force && client == client_ && had_h == need_h && had_v == need_v) return;
    client_ = client;

    if (picture.isEmpty()) {
        source_ = destination_ = QRect();
    } else {
        const AxisLayout x = LayOutAxis(picture.width(), client.left(), client.width(), zoom_,
                                        origin_x_, centre_on_origin_);
        const AxisLayout y = LayOutAxis(picture.height(), client.top(), client.height(), zoom_,
                                        origin_y_, centre_on_origin_);
        source_ = QRect(x.source_start, y.source_start, x.source_length, y.source_length);
        destination_ = QRect(x.destination_start, y.destination_start, x.destination_length,
                             y.destination_length);
        origin_x_ = x.scrolls ? x.source_start : 0;
        origin_y_ = y.scrolls ? y.source_start : 0;
    }
    centre_on_origin_ = false;
    margins_visible_ = !destination_.contains(client_);
    hbar_->setGeometry(outer.left(), outer.bottom() - bar_h + 1,
                       outer.width() - (need_v ? bar_w : 0), bar_h);
    vbar_->setGeometry(outer.right() - bar_w + 1, outer.top(), bar_w,
                       outer.height() - (need_h ? bar_h : 0));
    hbar_->setVisible(need_h);
    vbar_->setVisible(need_v);
    UpdateScrollBars();
    frame_dirty_ = true;
    update();
}

void CTvlPicture::UpdateScrollBars() {
    laying_out_ = true;
    const int step = 10 * Granularity();
    if (hbar_->isVisibleTo(this)) {
        hbar_->setRange(0, last_size_.width() - source_.width());
        hbar_->setPageStep(source_.width());
        hbar_->setSingleStep(step);
        hbar_->setValue(origin_x_);
    }
    if (vbar_->isVisibleTo(this)) {
        vbar_->setRange(0, last_size_.height() - source_.height());
        vbar_->setPageStep(source_.height());
        vbar_->setSingleStep(step);
        vbar_->setValue(origin_y_);
    }
    laying_out_ = false;
}

void CTvlPicture::OnScroll() {
    if (laying_out_) return;
    const int g = Granularity();
    const int x = hbar_->isVisibleTo(this) ? hbar_->value() / g * g : origin_x_;
    const int y = vbar_->isVisibleTo(this) ? vbar_->value() / g * g : origin_y_;
    if (x == origin_x_ && y == origin_y_) return;
    ScrollTo(x, y);
}

void CTvlPicture::Compose() {
    frame_dirty_ = false;
    if (client_.isEmpty()) {
        frame_ = QImage();
        return;
    }
    frame_ = QImage(client_.size(), QImage::Format_RGB32);
    if (!picture_ || last_size_.isEmpty()) {
        frame_.fill(palette().color(QPalette::Window));
        return;
    }
    const bool alpha = picture_->HasAlpha();
    const QRect shown = destination_.intersected(client_);
    // Source column of every client column inside the picture, computed once per frame.
    std::vector<int> column(size_t(client_.width()), -1);
    for (int x = shown.left(); x <= shown.right(); ++x)
        column[size_t(x - client_.left())] = std::min(
            last_size_.width() - 1,
            int(int64_t(x - destination_.left()) * kZoomOne / zoom_ + source_.left()));
    for (int cy = 0; cy < client_.height(); ++cy) {
        const int y = cy + client_.top();
        auto* out = reinterpret_cast<QRgb*>(frame_.scanLine(cy));
        const bool in_rows = y >= shown.top() && y <= shown.bottom();
        const int sy = in_rows ? std::min(last_size_.height() - 1,
                                          int(int64_t(y - destination_.top()) * kZoomOne / zoom_ +
                                              source_.top()))
                               : 0;
        const uint8_t* row = in_rows ? picture_->Row(sy) : nullptr;
        const uint8_t* alpha_row = in_rows && alpha ? picture_->AlphaRow(sy) : nullptr;
        for (int cx = 0; cx < client_.width(); ++cx) {
            const int x = cx + client_.left();
            const int sx = column[size_t(cx)];
            if (!row || sx < 0) {
                out[cx] = BoardAt(x, y);
                continue;
            }
            const uint8_t* p = row + 3 * sx;
            const int a = alpha_row ? alpha_row[sx] : 255;
            out[cx] = a == 255 ? qRgb(p[2], p[1], p[0]) : Blend(p[0], p[1], p[2], a, BoardAt(x, y));
        }
    }
}

void CTvlPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (border_) {
        // A sunken frame: two edge colours, then black around the client area.
        QRect r = client_.adjusted(-kBorderWidth, -kBorderWidth, kBorderWidth - 1, kBorderWidth - 1);
        const QColor colours[] = {palette().color(QPalette::Mid), palette().color(QPalette::Midlight),
                                  Qt::black};
        for (const QColor& c : colours) {
            painter.setPen(c);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(r);
            r.adjust(1, 1, -1, -1);
        }
    }
    // The corner between the two bars.
    if (hbar_->isVisible() && vbar_->isVisible())
        painter.fillRect(QRect(vbar_->x(), hbar_->y(), vbar_->width(), hbar_->height()),
                         palette().color(QPalette::Window));
    if (frame_dirty_) Compose();
    painter.setClipRect(client_);
    if (!frame_.isNull()) painter.drawImage(client_.topLeft(), frame_);
    DrawOverlay(painter);
}

void CTvlPicture::DrawOverlay(QPainter&) {}

void CTvlPicture::resizeEvent(QResizeEvent*) { Relayout(false); }

void CTvlPicture::Click(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const bool left = event->button() == Qt::LeftButton;
    const bool right = event->button() == Qt::RightButton;
    // Only the displayed picture answers the mouse; elsewhere the click goes to the parent.
    if (!picture_ || (!left && !right) || !client_.contains(point) ||
        !destination_.intersected(client_).contains(point)) {
        event->ignore();
        return;
    }
    event->accept();
    if (callback_) {
        const QPoint at = ToPicture(point);
        callback_(context_, at.x(), at.y(), left, right);
        return;
    }
    ZoomAt(point, left);
}

void CTvlPicture::mousePressEvent(QMouseEvent* event) { Click(event); }
void CTvlPicture::mouseDoubleClickEvent(QMouseEvent* event) { Click(event); }

void CTvlPicture::wheelEvent(QWheelEvent* event) {
    QScrollBar* bar = vbar_->isVisible() ? vbar_ : hbar_->isVisible() ? hbar_ : nullptr;
    if (!bar) {
        event->ignore();
        return;
    }
    QApplication::sendEvent(bar, event);
}

}  // namespace quorbel
