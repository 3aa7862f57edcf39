// Printing the archive list: header and footer bands with their templates, the column-title
// row and the rows on alternating backgrounds, page after page. One painting routine serves
// the printer, the print preview and the PDF the command line writes; every length comes from
// millimetres through the device's own resolution.
#pragma once

#include <QFont>
#include <QImage>
#include <ctime>
#include <string>
#include <vector>

#include "app/ops/list_layout.h"
#include "core/archive_entry.h"
#include "core/progress_sink.h"

class QPagedPaintDevice;
class QPainter;

namespace quorbel {

// A stored font as Qt draws it. The stored height is the character height in pixels of a
// 96-dpi screen, so the point size is |height| × 72 / 96 (14 → 10.5 points); a height of 0
// is the default 10.5 points. Weight, italic, underline, strike-out and the face carry over.
QFont FontOf(const LogFont& font);
// The stored record of a chosen font (the inverse of FontOf, other fields kept from `base`).
LogFont LogFontOf(const QFont& font, const LogFont& base);

class ListPrinter {
public:
    ListPrinter(const ListPrintLayout& layout, std::vector<const ArchiveEntry*> rows,
                std::string file_name, std::time_t now);

    // Measures the columns and the line height on `device` and counts the pages.
    void Measure(QPagedPaintDevice& device, ProgressSink& sink);
    int PageCount() const { return pages_; }
    int RowsPerPage() const { return rows_per_page_; }

    // Draws page `page` (1-based) of the measured layout.
    void PaintPage(QPainter& painter, int page) const;

    // Measures, then paints every page on `device` with "Page : %d / %d" on the sink; false
    // when the user stopped or the device could not be painted on.
    bool Print(QPagedPaintDevice& device, ProgressSink& sink);

private:
    int Units(int millimetres) const { return int(millimetres * per_mm_); }
    void PaintBand(QPainter& painter, const PrintBand& band, int top, bool header, int page) const;

    ListPrintLayout layout_;
    std::vector<const ArchiveEntry*> rows_;
    std::string file_name_;
    std::time_t now_;
    QImage logo_;

    std::vector<int> columns_;                // list columns 1..10 printed, in order
    std::vector<std::string> titles_;
    std::vector<std::vector<std::string>> texts_;
    std::vector<int> widths_;                 // device units, padding included
    double per_mm_ = 1;
    int page_width_ = 0, page_height_ = 0;
    int left_ = 0, right_ = 0, top_ = 0, bottom_ = 0, padding_ = 0;
    int table_top_ = 0, table_bottom_ = 0;
    int title_height_ = 0, row_height_ = 0;
    int rows_per_page_ = 1, pages_ = 1;
};

}  // namespace quorbel
