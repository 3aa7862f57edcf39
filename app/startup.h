// The window-free decisions of start-up: which switch the command line is, whether the
// installation is complete, and which leftovers of earlier runs may be removed.
#pragma once

#include <string>
#include <vector>

namespace quorbel {

enum class StartSwitch { None, Install, FirstTime, Uninstall, ShellCommand, Debug, New };

// The whole command-line text compared, ignoring case, with each switch: "/install" is the
// install switch, "/INSTALL now" is not a switch at all.
StartSwitch ClassifyCommandLine(const std::string& text);

// The command line as one text: the arguments joined by blanks (one argument, a path with
// blanks in it, stays as it is).
std::string CommandLineText(const std::vector<std::string>& arguments);

struct InstallVerdict {
    bool needed = false;
    std::string program_path;    // the recorded program when it exists, else the running one
    std::string program_folder;
    std::string missing;         // what made the installation incomplete, for the log
};

// Reads the recorded program path and looks for the companion files beside it.
InstallVerdict CheckInstallation(StartSwitch start, const std::string& running_program);

// "TemporaryDirectory" (or the system's) joined with "Quorbel".
std::string ProgramTempFolder();

// Keeps freed memory in the process for the next allocation of its size instead of handing it
// back to the system at once: the pictures view unpacks and decodes one large picture after
// another, and each one's pages would otherwise be faulted in anew (most of its time).
// Blocks of 64 MB and more still come from the system and go back to it.
void KeepFreedMemoryForReuse();

// Removes the scratch folders of processes that are gone, so a second process never deletes
// the work of a running one. Returns how many were removed.
int EmptyProgramTempFolder(const std::string& folder);

}  // namespace quorbel
