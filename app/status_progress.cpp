#include "app/status_progress.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QToolButton>

#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

// How long an operation may keep the event loop waiting before the sink lets it run.
constexpr qint64 kTurnEveryMs = 40;

}  // namespace

CProgressBar::CProgressBar(QWidget* parent) : QWidget(parent) {
    setMinimumWidth(120);
    LoadSettings();
}

void CProgressBar::LoadSettings() {
    RegistryAccess reg;
    const auto root = RegistryRoot::CurrentUser;
    const char* key = layout::kProgressBarKey;
    auto value = [&](const char* name, int fallback) {
        return int(reg.ReadInteger(root, key, name, fallback));
    };
    enabled_ = value("bEnable", 1) != 0;
    gradient_ = value("bEnableGradient", 1) != 0;
    first_ = QColor(value("Color0_Red", 0) & 255, value("Color0_Green", 0) & 255,
                    value("Color0_Blue", 0) & 255);
    second_ = QColor(value("Color1_Red", 255) & 255, value("Color1_Green", 0) & 255,
                     value("Color1_Blue", 0) & 255);
}

void CProgressBar::SetPercent(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == percent_) return;
    percent_ = percent;
    update();
}

void CProgressBar::paintEvent(QPaintEvent*) {
    if (!enabled_) return;
    QPainter p(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(frame);
    const int filled = (frame.width() - 1) * percent_ / 100;
    if (filled > 0) {
        const QRect bar(frame.left() + 1, frame.top() + 1, filled, frame.height() - 1);
        QLinearGradient g(bar.topLeft(), QPointF(frame.right(), frame.top()));
        g.setColorAt(0, first_);
        g.setColorAt(1, gradient_ ? second_ : first_);
        p.fillRect(bar, g);
    }
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(14);
    p.setFont(font);
    p.setPen(palette().color(QPalette::WindowText));
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.setPen(Qt::white);
    p.drawText(frame, Qt::AlignCenter, QString::number(percent_) + "%");
}

CStatusProgress::CStatusProgress(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    text_ = new QLabel(this);
    text_->setMinimumWidth(200);
    bar_ = new CProgressBar(this);
    cancel_ = new QToolButton(this);
    cancel_->setText(UiText("Cancel", "Annuler"));
    cancel_->setToolTip(UiText("Stop the current operation", "Arrêter l'opération en cours"));
    row->addWidget(text_, 1);
    row->addWidget(bar_);
    row->addWidget(cancel_);
    bar_->hide();
    cancel_->hide();
    connect(cancel_, &QToolButton::clicked, this, [this] { RequestCancel(); });
    since_turn_.start();
}

int CStatusProgress::SetPos(int64_t position, bool redraw) {
    if (abort_after_ >= 0 && ++calls_ > abort_after_) RequestCancel();
    return ProgressSink::SetPos(position, redraw);
}

int CStatusProgress::Percent() const { return bar_->Percent(); }
QString CStatusProgress::ShownText() const { return text_->text(); }
void CStatusProgress::ReloadSettings() { bar_->LoadSettings(); }

void CStatusProgress::Refresh() {
    const bool busy = Depth() > 0;
    if (busy != busy_) {
        busy_ = busy;
        bar_->setVisible(busy);
        cancel_->setVisible(busy);
        if (!busy) text_->clear();
        emit busyChanged(busy);
        since_turn_.restart();
    }
    if (busy) {
        const int64_t span = Maximum() - Minimum();
        const int percent = span > 0 ? int((Position() - Minimum()) * 100 / span) : 0;
        bar_->SetPercent(percent);
        text_->setText(Q(Text()));
    }
    ProgressSink::Refresh();
    const qint64 waited = since_turn_.elapsed();
    if (!busy || waited >= kTurnEveryMs) {
        longest_gap_ms_ = std::max(longest_gap_ms_, waited);
        QApplication::processEvents();
        since_turn_.restart();
    }
}

}  // namespace quorbel
