#include "installer/setup_steps.h"

#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "installer/resource_archive.h"
#include "platform/process.h"
#include "platform/temp_folders.h"

namespace quorbel::installer {

UnpackedProgram UnpackProgram(const std::string& temp_root) {
    UnpackedProgram unpacked;
    std::string templ = JoinPath(temp_root, "quorbel-setup-XXXXXX");
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return unpacked;
    unpacked.folder = buf.data();
    std::string written;
    ExtractResourceArchive(kProgramResource, unpacked.folder, "", false, &written);
    // Only the program member itself is started, and only when it was written whole: whatever
    // else the archive held (or failed to hold) is never run in its place.
    std::string program = JoinPath(unpacked.folder, kProgramName);
    struct stat st{};
    if (written.empty() || stat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return unpacked;
    if (chmod(program.c_str(), 0755) != 0) return unpacked;
    unpacked.program = program;
    return unpacked;
}

int RunInstall(const UnpackedProgram& unpacked) {
    if (unpacked.program.empty()) return -1;
    // The path goes as its own argument: a temporary folder with spaces needs no quoting.
    return RunAndWait({unpacked.program, kInstallSwitch});
}

void RemoveUnpacked(const UnpackedProgram& unpacked) {
    if (!unpacked.program.empty()) unlink(unpacked.program.c_str());
    if (!unpacked.folder.empty()) RemoveTree(unpacked.folder);
}

}  // namespace quorbel::installer
