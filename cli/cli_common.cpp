#include "cli/cli_common.h"

#include <cstdlib>

#include <unistd.h>

#include "formats/format_table.h"

namespace quorbel::cli {

std::unique_ptr<TerminalProgress> MakeProgress() {
    auto progress = std::make_unique<TerminalProgress>(isatty(STDERR_FILENO) == 1);
    progress->CatchInterrupt();
    if (const char* n = std::getenv("QUORBEL_ABORT_AFTER")) progress->AbortAfter(std::atol(n));
    return progress;
}

std::unique_ptr<ArchiveHandler> OpenOrReport(const std::string& path, ProgressSink& sink,
                                             std::ostream& err) {
    int status = kStatusFailed;
    std::string message;
    auto handler = OpenArchiveFile(path, status, &sink, &message);
    if (!handler) err << message << "\n";
    return handler;
}

}  // namespace quorbel::cli
