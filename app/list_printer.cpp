#include "app/list_printer.h"

#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "app/ops/member_path.h"
#include "core/messages.h"

namespace quorbel {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QColor ColorOf(uint32_t c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

// The gap between a band and the table.
constexpr int kBandGapMm = 2;

}  // namespace

QFont FontOf(const LogFont& f) {
    QFont font(Q(f.face));
    const int height = f.height < 0 ? -f.height : f.height;
    font.setPointSizeF(height ? height * 72.0 / 96.0 : 10.5);
    font.setBold(f.weight >= 600);
    font.setItalic(f.italic != 0);
    font.setUnderline(f.underline != 0);
    font.setStrikeOut(f.strike_out != 0);
    return font;
}

LogFont LogFontOf(const QFont& font, const LogFont& base) {
    LogFont f = base;
    f.face = font.family().toStdString();
    f.height = int32_t(font.pointSizeF() > 0 ? font.pointSizeF() * 96.0 / 72.0 + 0.5 : base.height);
    f.weight = font.bold() ? 700 : 400;
    f.italic = font.italic() ? 1 : 0;
    f.underline = font.underline() ? 1 : 0;
    f.strike_out = font.strikeOut() ? 1 : 0;
    return f;
}

ListPrinter::ListPrinter(const ListPrintLayout& layout, std::vector<const ArchiveEntry*> rows,
                         std::string file_name, std::time_t now)
    : layout_(layout), rows_(std::move(rows)), file_name_(std::move(file_name)), now_(now),
      logo_(QStringLiteral(":/print/dorvex-quorbel.png")) {
    for (int c = 1; c <= 10; ++c)
        if (IsColumnPrinted(layout_, c)) columns_.push_back(c);
    std::string scratch;
    for (int c : columns_) titles_.push_back(ColumnTitle(c));
    texts_.reserve(rows_.size());
    for (const ArchiveEntry* e : rows_) {
        std::vector<std::string> line;
        // A line break in a note would leave its cell; it is written as the exports write it.
        for (int c : columns_) line.push_back(EscapeControlCharacters(ColumnText(*e, c, scratch)));
        texts_.push_back(std::move(line));
    }
}

void ListPrinter::Measure(QPagedPaintDevice& device, ProgressSink& sink) {
    page_width_ = device.width();
    page_height_ = device.height();
    per_mm_ = device.widthMM() > 0 ? double(device.width()) / device.widthMM() : 1.0;
    left_ = Units(layout_.margin_left + 1);
    right_ = page_width_ - Units(layout_.margin_right + 1);
    top_ = Units(layout_.margin_top);
    bottom_ = page_height_ - Units(layout_.margin_bottom);
    padding_ = Units(layout_.margin_cell);
    table_top_ = top_ + (layout_.header.enabled ? Units(layout_.header.height) + Units(kBandGapMm) : 0);
    table_bottom_ = bottom_ - (layout_.footer.enabled ? Units(layout_.footer.height) + Units(kBandGapMm) : 0);

    ProgressScope scope(&sink);
    sink.SetTextById(text_id::kIdealColumnSize);
    sink.SetRange(0, int64_t(texts_.size()));
    const QFontMetrics title_metrics(FontOf(layout_.tab_header_font), &device);
    const QFontMetrics text_metrics(FontOf(layout_.text_font), &device);
    widths_.assign(columns_.size(), 0);
    for (size_t k = 0; k < columns_.size(); ++k)
        widths_[k] = title_metrics.horizontalAdvance(Q(titles_[k]));
    const size_t step = size_t(std::sqrt(double(texts_.size()))) + 1;
    for (size_t r = 0; r < texts_.size(); ++r) {
        if (r % step == 0) sink.SetPos(int64_t(r));
        for (size_t k = 0; k < columns_.size(); ++k)
            widths_[k] = std::max(widths_[k], text_metrics.horizontalAdvance(Q(texts_[r][k])));
    }
    int total = 0;
    for (int& w : widths_) total += (w += 2 * padding_);
    // The table spans the width between the margins: wider columns give up room in proportion
    // (their texts are cut with an ellipsis), narrower ones share what is left over.
    const int available = std::max(1, right_ - left_);
    if (total > 0)
        for (int& w : widths_) w = int(int64_t(w) * available / total);

    sink.SetTextById(text_id::kIdealLineHeight);
    title_height_ = title_metrics.height() + 2 * padding_;
    row_height_ = std::max(1, text_metrics.height() + 2 * padding_);
    rows_per_page_ = std::max(1, (table_bottom_ - table_top_ - title_height_) / row_height_);
    pages_ = std::max<int>(1, int((texts_.size() + size_t(rows_per_page_) - 1) / size_t(rows_per_page_)));
}

void ListPrinter::PaintBand(QPainter& painter, const PrintBand& band, int top, bool header,
                            int page) const {
    const int height = Units(band.height);
    QRect area(left_, top, right_ - left_, height);
    painter.setFont(FontOf(band.font));
    painter.setPen(ColorOf(band.color));
    painter.setBackgroundMode(Qt::TransparentMode);
    if (header && !logo_.isNull() && height > 0) {
        const int logo_width = logo_.width() * height / std::max(1, logo_.height());
        painter.drawImage(QRect(left_, top, logo_width, height), logo_);
        area.setLeft(left_ + logo_width + left_);
    }
    if (!header) {
        QFont small = FontOf(band.font);
        small.setPointSizeF(small.pointSizeF() * 0.8);
        painter.save();
        painter.setFont(small);
        painter.drawText(area, Qt::AlignRight | Qt::AlignBottom, Q(StringById(text_id::kPrintFooterLine)));
        painter.restore();
    }
    const struct {
        const std::string& text;
        Qt::Alignment align;
    } parts[] = {{band.left, Qt::AlignLeft}, {band.center, Qt::AlignHCenter}, {band.right, Qt::AlignRight}};
    for (const auto& part : parts) {
        if (part.text.empty()) continue;
        painter.drawText(area, int(part.align | Qt::AlignVCenter) | Qt::TextSingleLine,
                         Q(FillTemplate(part.text, file_name_, now_, page, pages_)));
    }
    QPen line(Qt::black);
    line.setWidth(2);
    painter.setPen(line);
    const int y = header ? top + height : top;
    painter.drawLine(left_, y, right_, y);
}

void ListPrinter::PaintPage(QPainter& painter, int page) const {
    if (layout_.header.enabled) PaintBand(painter, layout_.header, top_, true, page);
    if (layout_.footer.enabled)
        PaintBand(painter, layout_.footer, bottom_ - Units(layout_.footer.height), false, page);
    if (columns_.empty()) return;

    auto paint_row = [&](int y, int height, const std::vector<std::string>& cells, const QColor& back,
                         const QColor& fore) {
        int x = left_;
        painter.setPen(fore);
        for (size_t k = 0; k < columns_.size(); ++k) {
            const QRect cell(x, y, widths_[k], height);
            painter.fillRect(cell, back);
            const QRect inner = cell.adjusted(padding_, 0, -padding_, 0);
            const bool right = IsRightAligned(columns_[k]);
            const QString text = painter.fontMetrics().elidedText(Q(cells[k]), Qt::ElideRight, inner.width());
            painter.drawText(inner, int((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter), text);
            x += widths_[k];
        }
    };
    painter.setFont(FontOf(layout_.tab_header_font));
    paint_row(table_top_, title_height_, titles_, ColorOf(layout_.tab_header_background_color),
              ColorOf(layout_.tab_header_text_color));
    painter.setFont(FontOf(layout_.text_font));
    const size_t first = size_t(page - 1) * size_t(rows_per_page_);
    const size_t last = std::min(texts_.size(), first + size_t(rows_per_page_));
    int y = table_top_ + title_height_;
    for (size_t r = first; r < last; ++r, y += row_height_)
        paint_row(y, row_height_, texts_[r], ColorOf(layout_.text_background_color[r % 2]),
                  ColorOf(layout_.text_color));
}

bool ListPrinter::Print(QPagedPaintDevice& device, ProgressSink& sink) {
    ProgressScope scope(&sink);
    Measure(device, sink);
    QPainter painter;
    if (!painter.begin(&device)) return false;
    sink.SetRange(0, pages_);
    for (int page = 1; page <= pages_; ++page) {
        sink.SetText(FormatText(StringById(text_id::kPrintStatus).c_str(), page, pages_));
        if (sink.SetPos(page - 1) == 0) {
            painter.end();
            return false;
        }
        if (page > 1) device.newPage();
        PaintPage(painter, page);
    }
    painter.end();
    return true;
}

}  // namespace quorbel
