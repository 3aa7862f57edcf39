#include "fuzz/fuzz_support.h"

#include <string>
#include <vector>

#include "app/ops/list_export.h"
#include "app/ops/list_layout.h"
#include "app/ops/search.h"
#include "app/ops/statistics_text.h"
#include "app/ops/test_report.h"
#include "core/archive_handler.h"
#include "core/progress_sink.h"
#include "core/settings.h"

namespace quorbel::fuzz {

void ExerciseOpenArchive(ArchiveHandler& handler) {
    std::vector<const ArchiveEntry*> rows;
    for (size_t i = 0; i < handler.EntryCount(); ++i) rows.push_back(&handler.Entry(i));
    ColumnSwitches all;
    all.fill(true);
    std::string out;
    for (ExportKind kind : {ExportKind::FormattedText, ExportKind::Comma, ExportKind::Tab}) {
        out.clear();
        ExportList(rows, all, kind, "\n", out, SilentSink());
    }
    // The HTML page of every name and note, and searches by name, folder and content.
    static const ListPrintLayout layout = ResetListPrintLayout();
    HtmlExportInfo html;
    html.layout = &layout;
    ExportList(rows, all, ExportKind::Html, "\n", out, SilentSink(), &html);
    SearchQuery query;
    query.names = "*.t?t *a*";
    query.text = "+ab -x /c";
    query.match_words = true;
    query.size_cap = 1 << 20;
    SearchEntries(handler, query, SilentSink());
    if (!handler.Folders().empty()) query.path = handler.FolderPathOf(handler.Folders().front().node);
    query.text = "ab";
    query.match_words = false;
    SearchEntries(handler, query, SilentSink());
    out = StatisticsText(handler);
    for (const auto& folder : handler.Folders()) out = handler.FolderPathOf(folder.node);

    SetProgramPassword("");
    RunTest(handler, 0);
    SetProgramPassword("fuzz");
    RunTest(handler, 0);
    SetProgramPassword("");
}

void OpenAndExercise(ArchiveHandler& handler, const uint8_t* data, size_t size,
                     const std::string& name) {
    if (handler.OpenFromMemory(std::vector<uint8_t>(data, data + size), name) == 1)
        ExerciseOpenArchive(handler);
    handler.Close();
}

}  // namespace quorbel::fuzz
