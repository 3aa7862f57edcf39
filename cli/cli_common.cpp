#include "cli/cli_common.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "cli/commands.h"
#include "core/messages.h"
#include "formats/format_table.h"
#include "platform/own_library.h"

namespace quorbel::cli {

TextOut& StandardOut() {
    static TextOut out(stdout);
    return out;
}

TextOut& StandardError() {
    static TextOut err(stderr);
    return err;
}

std::unique_ptr<TerminalProgress> MakeProgress() {
    auto progress = std::make_unique<TerminalProgress>(isatty(STDERR_FILENO) == 1);
    progress->CatchInterrupt();
    if (const char* n = std::getenv("QUORBEL_ABORT_AFTER")) progress->AbortAfter(std::atol(n));
    return progress;
}

std::unique_ptr<ArchiveHandler> OpenOrReport(const std::string& path, ProgressSink& sink,
                                             TextOut& err) {
    int status = kStatusFailed;
    std::string message;
    auto handler = OpenArchiveFile(path, status, &sink, &message);
    if (!handler) err << message << "\n";
    return handler;
}

int HandOverToPrinter(char** argv, TextOut& err) {
    const std::string path = ProgramFolder() + "/" + kPrinterProgram;
    StandardOut().Flush();
    execv(path.c_str(), argv);
    const int error = errno;
    err << FormatText(MessageTemplate(kMsgCannotOpen).c_str(), path.c_str()) << " (" << std::strerror(error)
        << ")\n";
    return 1;
}

}  // namespace quorbel::cli
