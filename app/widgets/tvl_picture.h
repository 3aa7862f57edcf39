// The picture display control: shows a CPicture that its owner keeps, with zoom (fixed point,
// 256 = 100 %), fit to the window, scroll bars and a checkerboard wherever the picture does not
// cover the control or lets it show through (the alpha plane is blended onto the board).
// We compose the finished pixels ourselves; Qt only puts them on the screen.
#pragma once

#include <QImage>
#include <QWidget>

class QScrollBar;

namespace quorbel {

class CPicture;

// The picture's pixels as an image (alpha from the alpha plane when it has one).
QImage PictureToImage(const CPicture& picture);

class CTvlPicture : public QWidget {
    Q_OBJECT
public:
    // Called for a click inside the displayed picture, with picture coordinates.
    using ClickCallback = void (*)(void* context, int x, int y, bool zoom_in, bool zoom_out);

    static constexpr int kZoomOne = 256;
    // A zoom step may not reach these (1/32 and 32 times).
    static constexpr int kZoomFloor = 8;
    static constexpr int kZoomCeiling = 8192;
    // Inset of the client area inside the sunken border.
    static constexpr int kBorderWidth = 3;
    // The checkerboard's two colours, alternating per pixel and per row.
    static constexpr QRgb kBoardDark = 0xff000000;
    static constexpr QRgb kBoardLight = 0xff008080;  // blue 128, green 128, red 0

    explicit CTvlPicture(QWidget* parent = nullptr);
    ~CTvlPicture() override;

    // Shows `picture` (nullptr: none); the owner keeps it alive while it is shown. A picture of
    // another size than the last one starts at 100 % from the top left corner; the same size
    // only repaints (the pixels may have changed).
    void SetPicture(const CPicture* picture, bool relayout = true);
    const CPicture* Picture() const { return picture_; }

    void SetClickCallback(ClickCallback callback, void* context);

    void SetFitToWindow(bool on);
    bool FitToWindow() const { return fit_; }
    // With fit: never enlarge, shrink to 1/2, 1/4, ... only.
    void SetFitPowersOfTwo(bool on);
    bool FitPowersOfTwo() const { return fit_powers_of_two_; }
    void SetBorder(bool on);
    bool Border() const { return border_; }

    int Zoom() const { return zoom_; }
    // Sets the zoom directly (clamped to the step limits' range) keeping the origin.
    void SetZoom(int zoom);
    // One zoom step about `point` (widget coordinates), as a click does: the point becomes the
    // centre of the view. False when the step would reach 32 × or 1/32, or without a picture.
    bool ZoomAt(QPoint point, bool zoom_in);
    // The same about the centre of the client area.
    bool ZoomStep(bool zoom_in);

    // Top left picture pixel of the view, and the scroll position in picture pixels.
    QPoint Origin() const { return {origin_x_, origin_y_}; }
    void ScrollTo(int x, int y);
    QRect ClientRect() const { return client_; }
    QRect SourceRect() const { return source_; }
    QRect DestinationRect() const { return destination_; }
    bool MarginsVisible() const { return margins_visible_; }
    QScrollBar* HorizontalBar() const { return hbar_; }
    QScrollBar* VerticalBar() const { return vbar_; }
    // Picture coordinates of a widget point (meaningful inside the destination rectangle).
    QPoint ToPicture(QPoint point) const;
    // The scroll granularity: max(1, 256 / zoom) picture pixels.
    int Granularity() const;

    // The cursor every picture control shows (the application's choice).
    static void SetApplicationCursor(const QCursor& cursor);

    // Recomputes zoom (when fitting), rectangles and scroll bars; `force` also when the size
    // and zoom did not change.
    virtual void Relayout(bool force);
    virtual void UpdateScrollBars();

signals:
    // The picture, the zoom or the view position changed.
    void pictureChanged();

protected:
    // Called at the end of every paint, on top of the picture; empty here.
    virtual void DrawOverlay(QPainter& painter);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void Click(QMouseEvent* event);
    void Compose();
    void OnScroll();

    const CPicture* picture_ = nullptr;
    int origin_x_ = 0, origin_y_ = 0;
    int zoom_ = kZoomOne;
    QRect client_, source_, destination_;
    QScrollBar* hbar_;
    QScrollBar* vbar_;
    bool margins_visible_ = false;
    QSize last_size_;
    bool fit_ = false, fit_powers_of_two_ = false, border_ = true;
    bool centre_on_origin_ = false;
    bool laying_out_ = false;
    ClickCallback callback_ = nullptr;
    void* context_ = nullptr;
    // The client area's finished pixels, rebuilt when the layout or the picture changed.
    QImage frame_;
    bool frame_dirty_ = true;
};

}  // namespace quorbel
