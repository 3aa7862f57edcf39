// The command groups of quorbel-cli. Each returns the process exit code: 0 done, 1 failed
// (message on `err`), 2 bad usage (usage line on `err`).
#pragma once

#include <string>
#include <vector>

#include "cli/text_out.h"

namespace quorbel::cli {

// Global options already removed from `args`; args[0] is the command word.
int RunReadCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);

// add, create, delete, rename, comment, uuencode, span: the commands that write archives.
int RunWriteCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);
bool IsWriteCommand(const std::string& command);

// args[0] is "convert": SOURCE... --format F [--out DIR] [--no-rename]; exit 1 when a line failed.
int RunConvertCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);
// print ARCHIVE --pdf OUT.pdf: the printed list as a PDF file. Only quorbel-cli-print has it:
// painting needs Qt Gui, whose loading (fonts, X11, OpenGL) would otherwise be paid by every
// command at start-up.
int RunPrintCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);
// quorbel-cli's print: replaces this process by quorbel-cli-print from the same folder with the
// same arguments; returns (1, message on `err`) only when that program cannot be started.
int HandOverToPrinter(char** argv, TextOut& err);
inline constexpr const char* kPrinterProgram = "quorbel-cli-print";

// args[0] is "settings"; args[1] is get, set, list or delete.
int RunSettingsCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);

// sfx, scan, checkout: self-extractors, the virus scanner, check-outs.
int RunProgramsCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);
bool IsProgramsCommand(const std::string& command);
// picture and thumbnails: the picture library's dispatcher and the pictures view's thumbnails.
int RunPictureCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err);
bool IsPictureCommand(const std::string& command);

}  // namespace quorbel::cli
