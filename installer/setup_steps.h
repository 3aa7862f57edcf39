// The installer's work between showing and hiding its wait window: unpack the main program
// (resource "ZIP" 108) into a private folder, run it with "/INSTALL", delete it again.
#pragma once

#include <string>

namespace quorbel::installer {

inline constexpr int kProgramResource = 108;
// The member of resource 108 that is the main program.
inline constexpr const char* kProgramName = "quorbel";
inline constexpr const char* kInstallSwitch = "/INSTALL";

struct UnpackedProgram {
    std::string folder;   // the private scratch folder; "" when none could be made
    std::string program;  // the unpacked main program; "" when it was not unpacked whole
};

// Makes a new folder below temp_root (mkdtemp, mode 0700: no fixed name in a shared folder that
// another user could take first), unpacks resource 108 into it and makes the program 0755.
UnpackedProgram UnpackProgram(const std::string& temp_root);

// Starts the unpacked program with the single argument "/INSTALL" (no shell) and waits for it
// to end; its exit code, or -1 when there was nothing to start or it could not be started.
int RunInstall(const UnpackedProgram& unpacked);

// Deletes the unpacked program and the scratch folder with anything left in it.
void RemoveUnpacked(const UnpackedProgram& unpacked);

}  // namespace quorbel::installer
