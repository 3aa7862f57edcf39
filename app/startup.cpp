#include "app/startup.h"

#include <malloc.h>

#include <cerrno>
#include <filesystem>

#include <signal.h>

#include "app/settings_layout.h"
#include "core/settings.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/temp_folders.h"

namespace quorbel {

namespace {

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

bool ProcessAlive(pid_t pid) {
    if (pid <= 0) return false;
    return kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

StartSwitch ClassifyCommandLine(const std::string& text) {
    static const struct {
        const char* text;
        StartSwitch value;
    } kSwitches[] = {{"/INSTALL", StartSwitch::Install},   {"/FIRSTTIME", StartSwitch::FirstTime},
                     {"/UNINSTALL", StartSwitch::Uninstall}, {"/SHELLCOMMAND", StartSwitch::ShellCommand},
                     {"/DEBUG", StartSwitch::Debug},         {"/NEW", StartSwitch::New}};
    for (const auto& s : kSwitches)
        if (EqualsIgnoringCase(text, s.text)) return s.value;
    return StartSwitch::None;
}

std::string CommandLineText(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& a : arguments) {
        if (!text.empty()) text += ' ';
        text += a;
    }
    return text;
}

InstallVerdict CheckInstallation(StartSwitch start, const std::string& running_program) {
    InstallVerdict verdict;
    const bool checks = start != StartSwitch::Install && start != StartSwitch::Uninstall &&
                        start != StartSwitch::Debug;
    RegistryAccess reg;
    const std::string recorded = reg.ReadText(RegistryRoot::CurrentUser, layout::kProgramPathKey,
                                              layout::kProgramPathValue, "");
    const bool recorded_exists = !recorded.empty() && FileExists(recorded) && !IsFolder(recorded);
    verdict.program_path = recorded_exists ? recorded : running_program;
    verdict.program_folder = FolderOfPath(verdict.program_path);
    if (checks && !recorded_exists) {
        verdict.needed = true;
        verdict.missing = recorded.empty() ? "no recorded program" : recorded;
    }
    if (checks && !verdict.needed && start != StartSwitch::ShellCommand) {
        for (const char* companion : layout::kCompanionFiles) {
            const std::string path = verdict.program_folder + "/" + companion;
            if (!FileExists(path)) {
                verdict.needed = true;
                verdict.missing = path;
                break;
            }
        }
    }
    if (start == StartSwitch::Debug) verdict.needed = false;
    if (start == StartSwitch::Install) verdict.needed = true;
    return verdict;
}

std::string ProgramTempFolder() {
    const HandlerOptions& options = LoadHandlerOptions();
    const std::string base =
        options.temporary_directory.empty() ? SystemTempPath() : options.temporary_directory;
    return base + "/Quorbel";
}

int EmptyProgramTempFolder(const std::string& folder) {
    // Only an absolute path is ever emptied: a relative one would depend on where we started.
    if (folder.empty() || folder[0] != '/') return 0;
    std::error_code ec;
    int removed = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec)) {
        if (!item.is_directory(ec) || item.is_symlink(ec)) continue;
        const pid_t owner = ScratchFolderOwner(item.path().filename().string());
        if (owner < 0 || ProcessAlive(owner)) continue;
        if (RemoveTree(item.path().string())) ++removed;
    }
    return removed;
}

void KeepFreedMemoryForReuse() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

}  // namespace quorbel
