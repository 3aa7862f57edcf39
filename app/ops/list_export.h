// Exporting the archive list as formatted text, comma- or tab-separated text.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/archive_entry.h"
#include "core/progress_sink.h"

namespace quorbel {

enum class ExportKind { FormattedText, Comma, Tab, Html };

namespace html {
class Page;
}
struct ListPrintLayout;

// The column switches "1".."10" of "Options\ListPrinting\" (1 Name, 2 Size, 3 Type, 4 Modified,
// 5 Ratio, 6 Packed, 7 CRC, 8 Attributes, 9 Path, 10 Comment); index 0 is unused.
using ColumnSwitches = std::array<bool, 11>;
ColumnSwitches DefaultColumnSwitches();
ColumnSwitches LoadColumnSwitches();

// The text an archive-list column shows for an entry (columns 1..10).
const std::string& ColumnText(const ArchiveEntry& entry, int column, std::string& scratch);
std::string ColumnTitle(int column);
bool IsRightAligned(int column);

// What the HTML export takes besides the rows: the page's title (the archive's path), the
// on-screen widths of the list's columns 0..10 (empty, or all zero: equal shares) and the
// colours and fonts (the stored ones when null).
struct HtmlExportInfo {
    std::string title;
    std::vector<int> widths;
    const ListPrintLayout* layout = nullptr;
};

// The list-export page: one table, a column per switched-on column with its share of the
// width in percent, a title row in the column-title font and colours, then one row per entry
// on alternating backgrounds.
std::unique_ptr<html::Page> BuildListPage(const std::vector<const ArchiveEntry*>& rows,
                                          const ColumnSwitches& columns,
                                          const ListPrintLayout& layout, const HtmlExportInfo& info);

// The export of `rows` with the switched-on columns, lines ending in `line_end` (the HTML page
// always ends its lines in CR LF). Progress every ⌊√rows⌋ + 1 rows; false when the user
// aborted (out is then incomplete).
bool ExportList(const std::vector<const ArchiveEntry*>& rows, const ColumnSwitches& columns,
                ExportKind kind, const std::string& line_end, std::string& out,
                ProgressSink& sink, const HtmlExportInfo* html = nullptr);

// Writes the export to a file, byte for byte; 1 done, 2 aborted, 5 cannot create.
int ExportListToFile(const std::string& path, const std::vector<const ArchiveEntry*>& rows,
                     const ColumnSwitches& columns, ExportKind kind, ProgressSink& sink,
                     const HtmlExportInfo* html = nullptr);

// The file name the export proposes: the archive's path with its extension replaced by "HTM",
// "TXT" (formatted and tab-separated text) or "CSV".
std::string ProposedExportName(const std::string& archive_path, ExportKind kind);

}  // namespace quorbel
