#include "app/install/registrations.h"

#include <algorithm>
#include <vector>

#include "app/install/xdg_integration.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

constexpr RegistryRoot kClasses = RegistryRoot::ClassesRoot;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

const std::string kTypeKey = std::string(kDocumentTypeName) + "\\";
const std::string kCommandKey = std::string(kDocumentTypeName) + "\\Shell\\Open\\Command\\";
const std::string kIconKey = std::string(kDocumentTypeName) + "\\DefaultIcon\\";
constexpr const char* kShellNewKey = ".zip\\ShellNew\\";

const std::string kClassKey = std::string("CLSID\\") + kShellExtensionClsid + "\\";
const std::string kServerKey = kClassKey + "InProcServer32\\";
constexpr const char* kOwnHandlers = "Quorbel\\shellex\\ContextMenuHandlers\\";
constexpr const char* kOwnHandler = "Quorbel\\shellex\\ContextMenuHandlers\\QuorbelMenu\\";
constexpr const char* kAllFilesHandler = "*\\shellex\\ContextMenuHandlers\\QuorbelMenu\\";
constexpr const char* kDirectoryHandlers = "Directory\\shellex\\ContextMenuHandlers\\";
constexpr const char* kDirectoryHandler = "Directory\\shellex\\ContextMenuHandlers\\QuorbelMenu\\";
constexpr const char* kFolderHandler = "Folder\\shellex\\ContextMenuHandlers\\Quorbel\\";
constexpr const char* kMachineFolderHandler =
    "Software\\CLASSES\\Folder\\shellex\\ContextMenuHandlers\\Quorbel\\";
constexpr const char* kApprovedKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved\\";
constexpr const char* kHandlerName = "QuorbelMenu";

struct DataType {
    std::string extension;
    int icon_index;
    bool on;
};

std::vector<DataType> ReadDataTypes() {
    AppRegistry app;
    std::vector<DataType> types;
    for (const char* ext : kArchiveDataTypes)
        types.push_back({ext, kArchiveIconIndex, app.ReadBool(kDataTypeKey, ext, true)});
    for (const char* ext : kPictureDataTypes)
        types.push_back({ext, kPictureIconIndex, app.ReadBool(kDataTypeKey, ext, false)});
    return types;
}

// There are no 8.3 names here: the short path is the path itself.
const std::string& ShortPath(const std::string& path) { return path; }

std::string WithExtension(const std::string& path, const std::string& extension) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    size_t name = slash == std::string::npos ? 0 : slash + 1;
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot <= name) return path + extension;
    return path.substr(0, dot) + extension;
}

std::string CompanionPath(const std::string& program_path) {
    size_t slash = program_path.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : program_path.substr(0, slash)) +
           "/quorbel-shell";
}

}  // namespace

bool RegisterFileTypes(bool do_register, const std::string& program_path) {
    RegistryAccess reg;
    const std::string& program = ShortPath(program_path);
    std::vector<std::string> mime_types;
    bool ok = true;
    for (const DataType& type : ReadDataTypes()) {
        if (type.extension.find('*') != std::string::npos) continue;
        const std::string ext_key = "." + type.extension + "\\";
        if (do_register && type.on) {
            ok = reg.WriteText(kClasses, ext_key, "", kDocumentTypeName) && ok;
            ok = reg.WriteText(kClasses, kTypeKey, "", kDocumentTypeText) && ok;
            ok = reg.WriteText(kClasses, kCommandKey, "", program + " %1") && ok;
            ok = reg.WriteText(kClasses, kIconKey, "", program + "," + std::to_string(type.icon_index)) && ok;
            const std::string mime = xdg::MimeTypeForExtension(type.extension);
            if (!mime.empty() && std::find(mime_types.begin(), mime_types.end(), mime) == mime_types.end())
                mime_types.push_back(mime);
        } else if (reg.ReadText(kClasses, ext_key, "") == kDocumentTypeName) {
            ok = reg.DeleteKey(kClasses, ext_key) && ok;
        }
    }
    AppRegistry app;
    const bool zip_on = app.ReadBool(kDataTypeKey, "ZIP", true);
    if (zip_on) {
        ok = reg.DeleteKey(kClasses, kShellNewKey) && ok;
        if (do_register) ok = reg.WriteText(kClasses, kShellNewKey, "Command", program + " /NEW") && ok;
    }
    if (!do_register) {
        ok = reg.DeleteKey(kClasses, kDocumentTypeName) && ok;
        return xdg::RemoveDocumentEntry() && ok;
    }
    return xdg::WriteDocumentEntry(program_path, mime_types, zip_on) && ok;
}

bool RegisterContextMenu(bool do_register, const std::string& program_path) {
    RegistryAccess reg;
    AppRegistry app;
    bool ok = true;
    if (do_register && app.ReadBool(kShellExtKey, kShellExtEnable, true)) {
        const std::string& program = ShortPath(program_path);
        ok = reg.WriteText(kClasses, kClassKey, "", kShellExtensionName) && ok;
        ok = reg.WriteText(kClasses, kServerKey, "", WithExtension(program, ".dll")) && ok;
        ok = reg.WriteText(kClasses, kServerKey, "ThreadingModel", "Apartment") && ok;
        ok = reg.WriteText(kClasses, kOwnHandlers, "", kHandlerName) && ok;
        ok = reg.WriteText(kClasses, kOwnHandler, "", kShellExtensionClsid) && ok;
        ok = reg.WriteText(kClasses, kAllFilesHandler, "", kShellExtensionClsid) && ok;
        ok = reg.WriteText(kClasses, kDirectoryHandlers, "", kHandlerName) && ok;
        ok = reg.WriteText(kClasses, kDirectoryHandler, "", kShellExtensionClsid) && ok;
        ok = reg.WriteText(kClasses, kFolderHandler, "", kShellExtensionClsid) && ok;
        ok = reg.WriteText(kMachine, kMachineFolderHandler, "", kShellExtensionClsid) && ok;
        ok = reg.WriteText(kMachine, kApprovedKey, kShellExtensionClsid, kShellExtensionName) && ok;
        return xdg::WriteContextMenus(CompanionPath(program_path)) && ok;
    }
    ok = reg.DeleteKey(kClasses, kClassKey) && ok;
    ok = reg.DeleteKey(kClasses, kOwnHandler) && ok;
    ok = reg.DeleteKey(kClasses, kAllFilesHandler) && ok;
    ok = reg.DeleteKey(kClasses, kDirectoryHandler) && ok;
    ok = reg.DeleteKey(kClasses, kFolderHandler) && ok;
    ok = reg.DeleteKey(kMachine, kMachineFolderHandler) && ok;
    ok = reg.DeleteKey(kClasses, kOwnHandlers) && ok;
    ok = reg.DeleteKey(kClasses, "Quorbel\\") && ok;
    ok = reg.DeleteValue(kMachine, kApprovedKey, kShellExtensionClsid) && ok;
    // The shared key stays; only our handler name leaves its default value.
    if (reg.ReadText(kClasses, kDirectoryHandlers, "", "") == kHandlerName)
        ok = reg.DeleteValue(kClasses, kDirectoryHandlers, "") && ok;
    return xdg::RemoveContextMenus() && ok;
}

bool InstallMenuGroup(const std::string& install_folder, bool english) {
    bool ok = xdg::RemoveMenuGroupFiles();
    return xdg::WriteMenuGroup(install_folder, english) && ok;
}

bool RemoveMenuGroup() { return xdg::RemoveMenuGroupFiles(); }

}  // namespace quorbel
