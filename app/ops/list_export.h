// Exporting the archive list as formatted text, comma- or tab-separated text.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/archive_entry.h"
#include "core/progress_sink.h"

namespace quorbel {

enum class ExportKind { FormattedText, Comma, Tab };

// The column switches "1".."10" of "Options\ListPrinting\" (1 Name, 2 Size, 3 Type, 4 Modified,
// 5 Ratio, 6 Packed, 7 CRC, 8 Attributes, 9 Path, 10 Comment); index 0 is unused.
using ColumnSwitches = std::array<bool, 11>;
ColumnSwitches DefaultColumnSwitches();
ColumnSwitches LoadColumnSwitches();

// The text an archive-list column shows for an entry (columns 1..10).
const std::string& ColumnText(const ArchiveEntry& entry, int column, std::string& scratch);
std::string ColumnTitle(int column);
bool IsRightAligned(int column);

// The export of `rows` with the switched-on columns, lines ending in `line_end`. Progress
// every ⌊√rows⌋ + 1 rows; false when the user aborted (out is then incomplete).
bool ExportList(const std::vector<const ArchiveEntry*>& rows, const ColumnSwitches& columns,
                ExportKind kind, const std::string& line_end, std::string& out,
                ProgressSink& sink);

// Writes the export to a file, byte for byte; 1 done, 2 aborted, 5 cannot create.
int ExportListToFile(const std::string& path, const std::vector<const ArchiveEntry*>& rows,
                     const ColumnSwitches& columns, ExportKind kind, ProgressSink& sink);

}  // namespace quorbel
