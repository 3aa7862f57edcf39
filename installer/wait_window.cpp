#include "installer/wait_window.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <QStyle>

namespace quorbel::installer {

namespace {
// The window is laid out in dialog units, which follow the font: a quarter of the average
// character width across, an eighth of the line height down.
struct DialogUnits {
    explicit DialogUnits(const QFontMetrics& metrics)
        : x(metrics.averageCharWidth()), y(metrics.height()) {}
    int X(int units) const { return units * x / 4; }
    int Y(int units) const { return units * y / 8; }
    QRect Rect(int left, int top, int width, int height) const {
        return QRect(X(left), Y(top), X(width), Y(height));
    }
    int x, y;
};
}  // namespace

WaitWindow::WaitWindow()
    : QFrame(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      icon_(new QLabel(this)),
      text_(new QLabel(QStringLiteral("Please wait, preparing setup..."), this)) {
    // No caption, but a raised border in place of the modal frame.
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setWindowTitle(QStringLiteral("Quorbel Setup"));
    DialogUnits du(fontMetrics());
    setFixedSize(du.X(128), du.Y(28));

    QIcon icon = QIcon::fromTheme(QStringLiteral("system-software-install"),
                                  style()->standardIcon(QStyle::SP_ComputerIcon));
    QRect icon_box = du.Rect(4, 4, 18, 20);
    int side = std::min(icon_box.width(), icon_box.height());
    icon_->setGeometry(icon_box);
    icon_->setAlignment(Qt::AlignCenter);
    icon_->setPixmap(icon.pixmap(side, side));
    setWindowIcon(icon);

    // Wide enough for the whole text whatever the font: the dialog-unit box is a minimum.
    QRect text_box = du.Rect(28, 10, 100, 8);
    text_box.setWidth(std::max(text_box.width(), text_->sizeHint().width()));
    text_box.setHeight(std::max(text_box.height(), text_->sizeHint().height()));
    text_->setGeometry(text_box);
    if (text_box.right() + du.X(4) > width()) setFixedWidth(text_box.right() + du.X(4));
    Centre();
}

void WaitWindow::Centre() {
    QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!where) return;
    QRect area = where->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

}  // namespace quorbel::installer
