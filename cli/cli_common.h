// Pieces every quorbel-cli command uses.
#pragma once

#include <memory>
#include <string>

#include "cli/terminal_progress.h"
#include "cli/text_out.h"
#include "core/archive_handler.h"

namespace quorbel::cli {

// The terminal progress sink with Ctrl-C as its cancel button (and QUORBEL_ABORT_AFTER=N, a
// scripted cancel after N progress calls, for tests).
std::unique_ptr<TerminalProgress> MakeProgress();

// Opens an archive by its content; none, with the reason on `err`, when no format reads it.
std::unique_ptr<ArchiveHandler> OpenOrReport(const std::string& path, ProgressSink& sink,
                                             TextOut& err);

}  // namespace quorbel::cli
