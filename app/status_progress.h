// The status bar's progress sink: the operation's text, a gradient bar with its percentage and
// a cancel button. Long loops call the sink, and the sink keeps the window alive: each refresh
// lets the event loop take a turn (at most every few milliseconds), so painting, the cancel
// button and the second-instance hand-over keep working during an operation.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QWidget>

#include "core/progress_sink.h"

class QLabel;
class QToolButton;

namespace quorbel {

class CProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit CProgressBar(QWidget* parent = nullptr);
    void SetPercent(int percent);
    int Percent() const { return percent_; }
    QSize sizeHint() const override { return {256, 20}; }
    // The "Software\Dorvex\Tovel\ProgressBar\" settings.
    void LoadSettings();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int percent_ = 0;
    bool enabled_ = true, gradient_ = true;
    QColor first_ = Qt::black, second_ = Qt::red;
};

class CStatusProgress : public QWidget, public ProgressSink {
    Q_OBJECT
public:
    explicit CStatusProgress(QWidget* parent = nullptr);

    void Refresh() override;
    int SetPos(int64_t position, bool redraw = true) override;

    // Stops by itself after `calls` SetPos calls (scripted cancellation in tests).
    void AbortAfter(long calls) { abort_after_ = calls; calls_ = 0; }
    // The longest time the event loop went without a turn while an operation ran (benchmarks).
    qint64 LongestGapMs() const { return longest_gap_ms_; }
    void ResetLongestGap() { longest_gap_ms_ = 0; }
    int Percent() const;
    QString ShownText() const;
    void ReloadSettings();

signals:
    // An operation started (true) or the outermost one ended (false).
    void busyChanged(bool busy);

private:
    QLabel* text_;
    CProgressBar* bar_;
    QToolButton* cancel_;
    QElapsedTimer since_turn_;
    bool busy_ = false;
    long abort_after_ = -1, calls_ = 0;
    qint64 longest_gap_ms_ = 0;
};

}  // namespace quorbel
