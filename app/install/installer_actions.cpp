#include "app/install/installer_actions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/install/registrations.h"
#include "app/install/xdg_integration.h"
#include "app/settings_layout.h"
#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/status.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/resources.h"

namespace quorbel {

namespace {

const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dorvex Quorbel";

std::string LowerCase(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// One carried archive and where its members go.
struct Carried {
    int id;
    std::string folder;
};

std::vector<Carried> CarriedArchives(const std::string& folder, bool english) {
    return {{english ? kEnglishHelpResource : kFrenchHelpResource, folder + "/help/local"},
            {kGeneralHelpResource, folder + "/help"},
            {kCompanionResource, folder}};
}

// Opens a carried archive; none with `message` set when the program lacks it or it is damaged.
std::unique_ptr<ZipArchive> OpenCarried(int id, ProgressSink& sink, std::string& message) {
    auto bytes = LoadResource("ZIP", id);
    if (!bytes) {
        message = FormatText(MessageTemplate(kMsgCannotOpen).c_str(),
                             ("resource " + std::to_string(id)).c_str());
        return nullptr;
    }
    auto zip = std::make_unique<ZipArchive>();
    zip->SetSink(&sink);
    if (zip->OpenFromMemory(std::move(*bytes), "resource " + std::to_string(id)) != kStatusOk) {
        message = zip->LastMessage();
        return nullptr;
    }
    ExtractOptions& options = zip->Extraction();
    options.overwrite = true;
    options.skip_older = false;
    options.use_folder_names = true;
    return zip;
}

// Copies the running program into place through a temporary file, executable.
bool CopyProgram(const std::string& source, const std::string& target, ProgressSink& sink,
                 std::string& message) {
    sink.SetRange(0, FileSize(source));
    if (CopyFileSafely(source, target, 0755, 1 << 16,
                       [&sink](int64_t done) { sink.SetPos(done); return true; }) == 1)
        return true;
    message = FormatText(MessageTemplate(kMsgCannotCopy).c_str(), source.c_str(), target.c_str());
    return false;
}

// Removes the folders below `top` (deepest first) and `top` itself where they are empty.
void RemoveEmptyFolders(const std::string& top) {
    std::error_code ec;
    std::vector<std::string> folders;
    for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) folders.push_back(it->path().string());
    std::sort(folders.rbegin(), folders.rend());
    for (const std::string& f : folders) rmdir(f.c_str());
    rmdir(top.c_str());
}

}  // namespace

std::string ProposedInstallFolder() {
    RegistryAccess reg;
    const std::string recorded = reg.ReadText(RegistryRoot::CurrentUser, layout::kProgramPathKey,
                                              layout::kProgramPathValue, "");
    if (!recorded.empty() && FileExists(recorded)) return FolderOfPath(recorded);
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/opt/dorvex/quorbel";
}

std::string InstallFolderFor(const std::string& chosen) {
    const std::string folder = WithoutTrailingSlash(chosen);
    if (LowerCase(FileNameOfPath(folder)) == "quorbel") return folder;
    return folder == "/" ? "/quorbel" : folder + "/quorbel";
}

long long InstallationSize(const std::string& running_program) {
    long long total = std::max<int64_t>(0, FileSize(running_program));
    for (int id : {kEnglishHelpResource, kGeneralHelpResource, kCompanionResource}) {
        std::string message;
        if (auto zip = OpenCarried(id, SilentSink(), message))
            total += std::max<int64_t>(0, zip->TotalUnpacked());
    }
    return total;
}

std::string LicenseText() {
    auto bytes = LoadResource("TEXT", kLicenseResource);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

bool InstallOrRemove(bool install, const std::string& folder_in, bool english,
                     const std::string& running_program, ProgressSink& sink, std::string& message) {
    const std::string folder = WithoutTrailingSlash(folder_in);
    SetLanguage(english ? Language::English : Language::French);
    ProgressScope scope(&sink);
    if (install) {
        for (const std::string& f : {folder, folder + "/help/local", folder + "/help"})
            if (!MakeFolders(f)) {
                message = FormatText(MessageTemplate(kMsgCannotCreate).c_str(), f.c_str());
                return false;
            }
    }
    // The carried archives: their member lists also name what removal deletes.
    for (const Carried& carried : CarriedArchives(folder, english)) {
        auto zip = OpenCarried(carried.id, sink, message);
        if (!zip) return false;
        const int status = zip->ExtractAll(carried.folder, true, install);
        if (status != kStatusOk) {
            message = zip->LastMessage();
            return false;
        }
    }
    const std::string program = folder + "/" + kInstalledProgramName;
    if (install) {
        std::string copy_message;
        // A failed copy is reported and the installation goes on, as the files are in place.
        if (!CopyProgram(running_program, program, sink, copy_message)) Prompts().ShowMessage(copy_message);
    } else {
        unlink(program.c_str());
    }

    RemoveMenuGroup();
    if (install) InstallMenuGroup(folder, english);
    // The entries name the program's icon; the icon theme of the user's data folder holds it.
    if (install) xdg::WriteProgramIcons();
    else xdg::RemoveProgramIcons();

    RegistryAccess reg;
    const auto user = RegistryRoot::CurrentUser;
    const auto machine = RegistryRoot::LocalMachine;
    if (install) {
        reg.WriteText(user, layout::kProgramPathKey, layout::kProgramPathValue, program);
        reg.WriteText(machine, kUninstallKey, "DisplayName", "Dorvex Quorbel");
        reg.WriteText(machine, kUninstallKey, "UninstallString",
                      FormatText("%s /UNINSTALL", program.c_str()));
        AppRegistry app;
        app.WriteText(layout::kFolders, layout::kHelpPath, folder + "/help");
        app.WriteInteger("", layout::kLanguage, english ? 1 : 2);
        CurrentLauncher().StartProgram({program, "/FIRSTTIME"}, folder);
    } else {
        RemoveEmptyFolders(folder + "/help");
        RemoveEmptyFolders(folder);
        reg.DeleteKey(machine, kUninstallKey);
        reg.DeleteKey(user, "Software\\Dorvex\\Quorbel");
        // The recorded path is ours too; the next start then knows nothing is installed.
        reg.DeleteValue(user, layout::kProgramPathKey, layout::kProgramPathValue);
    }
    return true;
}

bool Uninstall(bool show_result, const std::string& running_program, UserPrompts& prompts,
               ProgressSink& sink) {
    RegistryAccess reg;
    const std::string recorded = reg.ReadText(RegistryRoot::CurrentUser, layout::kProgramPathKey,
                                              layout::kProgramPathValue, "");
    AppRegistry app;
    const bool english = app.ReadBool("Options", "bEnglish", true);
    if (recorded.empty() || !FileExists(recorded)) {
        prompts.ShowMessage(StringById(text_id::kNotInstalled));
        return false;
    }
    const std::string folder = FolderOfPath(recorded);
    if (!prompts.AskYesNo(FormatText(StringById(text_id::kUninstallQuestion).c_str(), folder.c_str())))
        return false;
    RegisterFileTypes(false, recorded);
    RegisterContextMenu(false, recorded);
    std::string message;
    if (!InstallOrRemove(false, folder, english, recorded, sink, message)) {
        if (!message.empty()) prompts.ShowMessage(message);
        prompts.ShowMessage(FormatText(StringById(text_id::kUninstallFailed).c_str(), folder.c_str()));
        return false;
    }
    if (show_result) {
        // The message names the file left behind to reinstall from; when the running program
        // was the installed one it is gone, and only the first sentence is true.
        std::string text = StringById(text_id::kUninstalled);
        if (FileExists(running_program)) {
            text = FormatText(text.c_str(), running_program.c_str());
        } else {
            const size_t end = text.find(". ");
            text = end == std::string::npos ? text : text.substr(0, end + 1);
        }
        prompts.ShowMessage(text);
    }
    return true;
}

}  // namespace quorbel
