// list, test, extract and stat: the commands that read archives.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include <unistd.h>

#include "app/ops/list_export.h"
#include "app/ops/search.h"
#include "app/ops/statistics_text.h"
#include "app/ops/test_report.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/terminal_progress.h"
#include "core/messages.h"
#include "core/text_format.h"
#include "core/settings.h"
#include "formats/format_table.h"
#include "platform/file_system.h"

namespace quorbel::cli {

namespace {
constexpr const char* kUsage =
    "usage: quorbel-cli list ARCHIVE [--columns all|N,N,...] [--csv | --tsv | --html]\n"
    "       quorbel-cli search ARCHIVE [--name PATTERNS] [--text TEXT] [--path FOLDER]\n"
    "                              [--match-case] [--match-words] [--columns all|N,N,...]\n"
    "       quorbel-cli test ARCHIVE\n"
    "       quorbel-cli extract ARCHIVE [MEMBER...] [-d DIR] [--flat | --folder-names]\n"
    "                           [--overwrite | --no-overwrite] [--skip-older | --no-skip-older]\n"
    "       quorbel-cli stat ARCHIVE\n";

int Usage(TextOut& err) {
    err << kUsage;
    return 2;
}

std::vector<const ArchiveEntry*> FileRows(const ArchiveHandler& handler) {
    std::vector<const ArchiveEntry*> rows;
    for (const ArchiveEntry& e : handler.Entries())
        if (e.allocated && e.is_file) rows.push_back(&e);
    return rows;
}

bool ParseColumns(const std::string& list, ColumnSwitches& on) {
    on.fill(false);
    if (list == "all") {
        for (int c = 1; c <= 10; ++c) on[size_t(c)] = true;
        return true;
    }
    size_t start = 0;
    bool any = false;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char* end = nullptr;
        long c = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || c < 1 || c > 10) return false;
        on[size_t(c)] = any = true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return any;
}

int List(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string archive;
    ColumnSwitches columns = LoadColumnSwitches();
    ExportKind kind = ExportKind::FormattedText;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--columns" && i + 1 < args.size()) {
            if (!ParseColumns(args[++i], columns)) return Usage(err);
        } else if (args[i] == "--csv") {
            kind = ExportKind::Comma;
        } else if (args[i] == "--tsv") {
            kind = ExportKind::Tab;
        } else if (args[i] == "--html") {
            kind = ExportKind::Html;
        } else if (args[i].rfind("--", 0) == 0 || !archive.empty()) {
            return Usage(err);
        } else {
            archive = args[i];
        }
    }
    if (archive.empty()) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(archive, *progress, err);
    if (!handler) return 1;
    std::string text;
    HtmlExportInfo html;
    html.title = handler->ArchivePath();
    if (!ExportList(FileRows(*handler), columns, kind, "\n", text, *progress, &html)) {
        err << MessageTemplate(kMsgAborted) << "\n";
        return 1;
    }
    out << text;
    return 0;
}

int Search(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string archive;
    SearchQuery query;
    ColumnSwitches columns = LoadColumnSwitches();
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == "--name" && has_value) {
            query.names = args[++i];
        } else if (a == "--text" && has_value) {
            query.text = args[++i];
        } else if (a == "--path" && has_value) {
            query.path = args[++i];
        } else if (a == "--columns" && has_value) {
            if (!ParseColumns(args[++i], columns)) return Usage(err);
        } else if (a == "--match-case") {
            query.match_case = true;
        } else if (a == "--match-words") {
            query.match_words = true;
        } else if (a.rfind("--", 0) == 0 || !archive.empty()) {
            return Usage(err);
        } else {
            archive = a;
        }
    }
    if (archive.empty()) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(archive, *progress, err);
    if (!handler) return 1;
    const SearchResult result = SearchEntries(*handler, query, *progress);
    std::vector<const ArchiveEntry*> rows;
    for (int index : result.matches) rows.push_back(&handler->Entry(size_t(index)));
    std::string text;
    ExportList(rows, columns, ExportKind::FormattedText, "\n", text, SilentSink());
    out << text;
    out << FormatText(StringById(text_id::kSearchFound).c_str(), int(rows.size())) << "\n";
    if (result.not_searched > 0)
        out << FormatText(StringById(text_id::kNotSearched).c_str(), result.not_searched,
                          SizeShortText(int64_t(query.size_cap)).c_str())
            << "\n";
    if (result.aborted) {
        err << MessageTemplate(kMsgAborted) << "\n";
        return 1;
    }
    return 0;
}

int Test(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    if (args.size() != 2 || args[1].rfind("--", 0) == 0) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(args[1], *progress, err);
    if (!handler) return 1;
    TestReport report = RunTest(*handler, std::time(nullptr));
    out << report.text << "\n";
    return report.errors == 0 && !report.aborted ? 0 : 1;
}

int Stat(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    if (args.size() != 2 || args[1].rfind("--", 0) == 0) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(args[1], *progress, err);
    if (!handler) return 1;
    // The view's lines end in CR LF; a terminal wants LF alone.
    for (char c : StatisticsText(*handler))
        if (c != '\r') out << c;
    out << "\n";
    return 0;
}

int Extract(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    ExtractOptions options = LoadExtractOptions();
    std::string archive, dest;
    std::vector<std::string> members;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-d") {
            if (i + 1 >= args.size()) return Usage(err);
            dest = args[++i];
        } else if (a == "--flat") {
            options.use_folder_names = false;
        } else if (a == "--folder-names") {
            options.use_folder_names = true;
        } else if (a == "--overwrite") {
            options.overwrite = true;
        } else if (a == "--no-overwrite") {
            options.overwrite = false;
        } else if (a == "--skip-older") {
            options.skip_older = true;
        } else if (a == "--no-skip-older") {
            options.skip_older = false;
        } else if (a.rfind("--", 0) == 0) {
            return Usage(err);
        } else if (archive.empty()) {
            archive = a;
        } else {
            members.push_back(a);
        }
    }
    if (archive.empty()) return Usage(err);
    if (dest.empty()) dest = std::filesystem::current_path().string();
    auto progress = MakeProgress();
    auto handler = OpenOrReport(archive, *progress, err);
    if (!handler) return 1;
    handler->SetExtraction(options);

    int status = kStatusOk;
    if (members.empty()) {
        status = handler->ExtractAll(dest, options.use_folder_names, true);
    } else {
        if (!MakeFolders(dest)) {
            handler->SetMessage(kMsgCannotCreate, dest);
            status = kStatusCannotCreate;
        }
        for (size_t m = 0; m < members.size() && status == kStatusOk; ++m) {
            std::string name = members[m];
            for (char& c : name)
                if (c == '/') c = '\\';
            int index = handler->FindEntry(name);
            if (index >= 0) {
                status = handler->ExtractEntryAt(index, dest, options.use_folder_names, nullptr, true);
                continue;
            }
            // A folder name extracts everything below it.
            while (!name.empty() && name.back() == '\\') name.pop_back();
            FolderNode* node = handler->LookupFolder(name, false);
            if (!name.empty() && node != &handler->Root() &&
                handler->FolderPathOf(node).size() == name.size()) {
                status = handler->ExtractTree(node, dest);
                continue;
            }
            handler->SetLastMessage(FormatText(StringById(text_id::kNoSuchMember).c_str(), members[m].c_str()));
            status = kStatusFailed;
        }
    }
    for (const std::string& line : handler->SkippedReport()) out << line << "\n";
    if (status != kStatusOk) {
        err << handler->LastMessage() << "\n";
        return 1;
    }
    return 0;
}
}  // namespace

int RunReadCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    const std::string& command = args[0];
    if (command == "list") return List(args, out, err);
    if (command == "search") return Search(args, out, err);
    if (command == "test") return Test(args, out, err);
    if (command == "extract") return Extract(args, out, err);
    if (command == "stat") return Stat(args, out, err);
    return Usage(err);
}

}  // namespace quorbel::cli
