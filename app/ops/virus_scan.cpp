#include "app/ops/virus_scan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

#include "app/ops/desktop_entry.h"
#include "core/archive_handler.h"
#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/safe_path.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/external/run_program.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/temp_folders.h"

namespace quorbel {

namespace {

// Removes the scratch folder on every way out.
struct ScratchGuard {
    std::string path;
    ~ScratchGuard() {
        if (!path.empty()) RemoveTree(path);
    }
};

// Restores the handler's extract options the user chose once the scan is done.
struct OptionsGuard {
    ArchiveHandler& handler;
    ExtractOptions saved;
    ~OptionsGuard() { handler.Extraction() = saved; }
};

bool IsClamAv(const std::string& program) {
    const std::string name = FileNameOfPath(program);
    return name == "clamscan" || name == "clamdscan";
}

// Sub-folder numbers for members whose paths would meet: a second file of the same path, or a
// file where another member needs a folder, goes one sub-folder further.
class Slots {
public:
    int Place(const std::string& relative) {
        for (size_t k = 0;; ++k) {
            if (k == slots_.size()) slots_.emplace_back();
            Slot& s = slots_[k];
            if (s.files.count(relative) || s.folders.count(relative)) continue;
            bool blocked = false;
            for (std::string p = FolderOfPath(relative); p != "." && !blocked; p = FolderOfPath(p))
                blocked = s.files.count(p) > 0;
            if (blocked) continue;
            s.files.insert(relative);
            for (std::string p = FolderOfPath(relative); p != "."; p = FolderOfPath(p))
                s.folders.insert(p);
            return int(k);
        }
    }

private:
    struct Slot {
        std::set<std::string> files, folders;
    };
    std::vector<Slot> slots_;
};

}  // namespace

ScannerSettings ScannerSettings::Load() {
    AppRegistry reg;
    ScannerSettings s;
    s.path = reg.ReadText(kAntivirusKey, "Path");
    s.parameters = reg.ReadText(kAntivirusKey, "Parameters");
    s.run_minimized = reg.ReadBool(kAntivirusKey, "bRunMinimized", false);
    return s;
}

void ScannerSettings::Store() const {
    AppRegistry reg;
    reg.WriteText(kAntivirusKey, "Path", path);
    reg.WriteText(kAntivirusKey, "Parameters", parameters);
    reg.WriteBool(kAntivirusKey, "bRunMinimized", run_minimized);
}

bool ScannerSettings::Available() const {
    if (path.empty()) return false;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

const std::vector<KnownScanner>& KnownScanners() {
    static const std::vector<KnownScanner> table = {
        {"clamscan", "-r --no-summary %d"},
        {"clamdscan", "--fdpass --multiscan --no-summary %d"},
        {"SCAN95.EXE", "*.* /autoscan /nosplash"},
        {"SCAN32.EXE", "%d /autoscan /nosplash"},
        {"NAVW32.EXE", "*.* /s"},
        {"N32SCAN.EXE", "*.* /s"},
        {"N32SCANW.EXE", "*.* /s"},
        {"NAVWNT.EXE", "*.* /s"},
        {"WSCAN.EXE", "%wscan"},
        {"SCAN.EXE", "/nomem *.* /all /sub /report %f"},
        {"TBSCAN.EXE", "*.* ln=%f lo nb nm"},
        {"F-PROT.EXE", "/NOBOOT /NOMEM /LIST *.* /REPORT=%f"},
        {"IM.EXE", "/N /UN /B /VL /RF=%f /P%d"},
        {"", ""},
    };
    return table;
}

std::string KnownScannerTemplate(int item) {
    const auto& table = KnownScanners();
    if (item < 0 || size_t(item) >= table.size() || !*table[size_t(item)].program) return "*.*";
    return table[size_t(item)].parameters;
}

std::string ScanReportPath() {
    const std::string folder = xdg::StateHome() + "/dorvex/quorbel";
    MakeFolders(folder);
    chmod(folder.c_str(), 0700);
    return folder + "/scan-report.txt";
}

std::vector<std::string> ScannerArguments(const std::string& parameters,
                                          const std::string& folder, const std::string& report) {
    // "*.*" holds no '%', so cutting at it first keeps the fill a single pass.
    const std::vector<std::pair<std::string, std::string>> tokens = {{"%d", folder}, {"%f", report}};
    std::vector<std::string> args;
    for (const auto& raw : SplitCommandTemplate(parameters)) {
        std::string arg;
        size_t start = 0;
        for (size_t at; (at = raw.find("*.*", start)) != std::string::npos; start = at + 3)
            arg += FillPlaceholders(raw.substr(start, at - start), tokens) + folder;
        args.push_back(arg + FillPlaceholders(raw.substr(start), tokens));
    }
    return args;
}

ScanResult ScanForViruses(ArchiveHandler& handler, const std::vector<int>& indices,
                          const ScannerSettings& settings, ProgressSink& sink) {
    using Verdict = ScanResult::Verdict;
    ScanResult result;
    std::vector<int> chosen;
    if (indices.empty()) {
        for (size_t i = 0; i < handler.EntryCount(); ++i)
            if (handler.Entry(i).is_file) chosen.push_back(int(i));
    } else {
        for (int i : indices)
            if (i >= 0 && size_t(i) < handler.EntryCount() && handler.Entry(size_t(i)).is_file)
                chosen.push_back(i);
    }

    ScratchGuard scratch{CreateScratchFolder(LoadHandlerOptions().temporary_directory)};
    if (scratch.path.empty()) {
        result.message = FormatText(MessageTemplate(kMsgCannotCreate).c_str(), "Quorbel");
        return result;
    }

    // The scan's own extraction: every member written, nothing asked, nothing skipped.
    OptionsGuard options{handler, handler.Extraction()};
    handler.Extraction().overwrite = true;
    handler.Extraction().skip_older = false;
    handler.Extraction().use_folder_names = true;
    ProgressSink* previous = handler.Sink();
    handler.SetSink(&sink);
    struct SinkGuard {
        ArchiveHandler& h;
        ProgressSink* s;
        ~SinkGuard() { h.SetSink(s); }
    } sink_guard{handler, previous};

    Slots slots;
    sink.Begin();
    sink.SetRange(0, int64_t(chosen.size()));
    for (size_t n = 0; n < chosen.size(); ++n) {
        const ArchiveEntry& e = handler.Entry(size_t(chosen[n]));
        sink.SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), e.full_name.c_str()));
        if (!sink.SetPos(int64_t(n))) {
            sink.End(0);
            result.verdict = Verdict::Cancelled;
            return result;
        }
        auto relative = SafeRelativePath(e.full_name);
        if (!relative) {
            result.verdict = Verdict::NotExtracted;
            result.message = FormatText(StringById(text_id::kScanNotExtracted).c_str(), e.full_name.c_str());
            sink.End(0);
            return result;
        }
        const std::string dest = scratch.path + "/" + std::to_string(slots.Place(*relative));
        std::string written;
        int status = handler.ExtractEntryAt(chosen[n], dest, true, &written, true);
        if (status == kStatusAborted) {
            sink.End(0);
            result.verdict = Verdict::Cancelled;
            return result;
        }
        struct stat st;
        if (status != kStatusOk || written.empty() || lstat(written.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
            result.verdict = status != kStatusOk ? Verdict::Failed : Verdict::NotExtracted;
            result.message = status != kStatusOk
                                 ? handler.LastMessage()
                                 : FormatText(StringById(text_id::kScanNotExtracted).c_str(),
                                              e.full_name.c_str());
            sink.End(0);
            return result;
        }
    }

    const bool windows = IsMzProgram(settings.path);
    const std::string folder = windows ? WindowsPath(scratch.path) : scratch.path;
    const std::string report_path = ScanReportPath();
    const std::string report = windows ? WindowsPath(report_path) : report_path;
    sink.SetText(FormatText(StringById(61523).c_str(), FileNameOfPath(settings.path).c_str()));
    ProgramRequest request;
    request.program = settings.path;
    request.arguments = ScannerArguments(settings.parameters, folder, report);
    request.sink = &sink;
    ProgramResult run = RunProgram(request);
    sink.End(0);
    result.output = run.output;
    result.exit_status = run.exit_status;
    const std::string name = FileNameOfPath(settings.path);
    switch (run.outcome) {
    case ProgramResult::Outcome::kNotStarted:
        result.verdict = Verdict::NotStarted;
        result.message = FormatText(StringById(text_id::kScanNotStarted).c_str(), name.c_str(),
                                    run.start_error.c_str());
        return result;
    case ProgramResult::Outcome::kCancelled:
        result.verdict = Verdict::Cancelled;
        return result;
    case ProgramResult::Outcome::kKilled:
        result.verdict = Verdict::Failed;
        result.message = FormatText(StringById(text_id::kProgramFailed).c_str(), name.c_str(),
                                    run.Describe().c_str(), run.output.c_str());
        return result;
    case ProgramResult::Outcome::kExited: break;
    }
    if (IsClamAv(settings.path) && (run.exit_status == 0 || run.exit_status == 1)) {
        result.verdict = run.exit_status == 0 ? Verdict::Clean : Verdict::Found;
        result.message = StringById(run.exit_status == 0 ? text_id::kScanClean : text_id::kScanFound);
    } else if (run.exit_status == 0) {
        result.verdict = Verdict::Completed;
        result.message = StringById(text_id::kScanComplete);
    } else {
        result.verdict = Verdict::Failed;
        result.message = FormatText(StringById(text_id::kScanEndedWithCode).c_str(), name.c_str(),
                                    run.exit_status);
    }
    return result;
}

}  // namespace quorbel
