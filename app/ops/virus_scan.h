// Scanning archive members with the user's own command-line virus scanner: the members are
// unpacked into a private scratch folder, the scanner runs on that folder, its output and exit
// status give the verdict, and the folder goes on every way out.
#pragma once

#include <string>
#include <vector>

namespace quorbel {

class ArchiveHandler;
class ProgressSink;

inline constexpr const char* kAntivirusKey = "Options\\Antivirus";

struct ScannerSettings {
    std::string path;        // "Path"
    std::string parameters;  // "Parameters"
    bool run_minimized = false;  // "bRunMinimized": kept, no effect on Linux

    static ScannerSettings Load();
    void Store() const;
    // The scan command is offered only for a scanner that is an executable file.
    bool Available() const;
};

struct KnownScanner {
    const char* program;
    const char* parameters;
};
// ClamAV's two programs first, then the DOS and Windows scanners (run through wine where it
// exists), then the empty row.
const std::vector<KnownScanner>& KnownScanners();
// The template a chosen list item gives: its row's, or "*.*" for an item without a row.
std::string KnownScannerTemplate(int item);

// Where "%f" puts the scanner's report: a per-user folder (0700), made when missing.
std::string ScanReportPath();

// The scanner's arguments: the template split into arguments first, then in each argument
// "%d" and "*.*" become the folder and "%f" the report file, in one pass.
std::vector<std::string> ScannerArguments(const std::string& parameters,
                                          const std::string& folder, const std::string& report);

struct ScanResult {
    enum class Verdict { Clean, Found, Completed, Failed, NotStarted, Cancelled, NotExtracted };
    Verdict verdict = Verdict::Failed;
    int exit_status = -1;
    std::string output;   // what the scanner printed
    std::string message;  // the verdict in words, for the message box or the terminal
};

// Unpacks `indices` (all files when empty) and runs the scanner on them. Two members with the
// same name land in separate sub-folders, so each is written and scanned.
ScanResult ScanForViruses(ArchiveHandler& handler, const std::vector<int>& indices,
                          const ScannerSettings& settings, ProgressSink& sink);

}  // namespace quorbel
