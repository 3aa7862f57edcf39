// Our own shared libraries, found at run time rather than linked: a program pays for what they
// pull in (libmspack, Qt Core and its ICU) only once it uses them.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace quorbel {

// The folder of the running program ("" when it cannot be read).
std::string ProgramFolder();

// The places `file_name` is looked for, in order: $`env_variable` alone when it is set; else
// beside the program (an installation puts it there), in ../lib next to the program's folder
// (the build tree), and last the bare name (the loader's own search).
std::vector<std::string> OwnLibraryCandidates(const char* file_name, const char* env_variable);

// The first candidate that loads and has every one of `symbols`; nullptr when none does, with
// `why` saying what went wrong with the first that failed.
void* OpenOwnLibrary(const std::vector<std::string>& candidates, std::initializer_list<const char*> symbols,
                     std::string& why);

}  // namespace quorbel
