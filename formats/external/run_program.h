// Starting an outside program (an archiver, a virus scanner, a self-extractor maker) and waiting
// for it. No shell is involved: every element of the argument vector reaches the program as
// exactly one argument, so a file name with blanks, quotes or '%' is never re-read.
//
// Command templates written for the Windows command line ("a -y %Archive "%File"") are split
// into arguments first (SplitCommandTemplate) and only then filled (FillPlaceholders), one
// argument at a time, so nothing a placeholder inserts is ever taken for syntax.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/progress_sink.h"

namespace quorbel {

// What a finished RunProgram tells.
struct ProgramResult {
    enum class Outcome {
        kNotStarted,  // the program could not be started (missing, not executable, no wine)
        kExited,      // it ended by itself: exit_status holds its code
        kKilled,      // a signal ended it (signal_number)
        kCancelled,   // the user stopped it through the progress sink; its group was killed
    };
    Outcome outcome = Outcome::kNotStarted;
    int exit_status = -1;
    int signal_number = 0;
    // Standard output and standard error together, in the order written (the last 64 KB when
    // the program says more).
    std::string output;
    // Why the start failed (errno text, or the missing wine), for kNotStarted.
    std::string start_error;

    bool Succeeded() const { return outcome == Outcome::kExited && exit_status == 0; }
    // "could not start", "killed", "Aborted" or "exit status N": what the failure message shows.
    std::string Describe() const;
};

struct ProgramRequest {
    // The program: a path, or a bare name looked up on PATH.
    std::string program;
    std::vector<std::string> arguments;
    // The child's own working folder; the caller's stays as it is. Empty: the caller's.
    std::string working_folder;
    // Polled while waiting: once SetPos answers 0 (Cancel) the child's whole process group is
    // killed. None: the silent sink.
    ProgressSink* sink = nullptr;
    // False: start and return at once (outcome kExited with status 0 once started); the child
    // is never left as our zombie.
    bool wait = true;
};

// Starts the program with stdin reading /dev/null and stdout and stderr captured, in a process
// group of its own, and waits for it. A Windows program (an "MZ" file) is started through
// `wine` when wine is on PATH; otherwise it is not started and start_error says so. The caller
// writes path arguments for such a program with WindowsPath.
ProgramResult RunProgram(const ProgramRequest& request);

// The full path of an executable program: a path containing '/' as it is, a bare name searched
// on PATH. Empty when there is no such file or it cannot be executed.
std::string FindExecutable(const std::string& program);

// True when the file starts with the "MZ" signature of DOS and Windows programs.
bool IsMzProgram(const std::string& path);

// How wine names a Linux path: "Z:" followed by the absolute path with '\' separators.
std::string WindowsPath(const std::string& path);

// Splits a command template into arguments the way the Windows command line does: blanks and
// tabs separate, double quotes group (blanks inside stay) and are removed; "" inside quotes is
// one quote. Placeholders are left as they are.
std::vector<std::string> SplitCommandTemplate(const std::string& text);

// Replaces placeholders in one argument in a single left-to-right pass: at each position the
// first placeholder of `values` that matches is replaced by its value and the scan goes on after
// the inserted text, which is never examined again. Placeholders without a value stay literal.
std::string FillPlaceholders(const std::string& argument,
                             const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace quorbel
