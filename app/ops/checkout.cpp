#include "app/ops/checkout.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>

#include "app/ops/desktop_entry.h"
#include "core/archive_handler.h"
#include "core/messages.h"
#include "core/safe_path.h"
#include "core/status.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

constexpr const char* kGroupParentName = "dorvex-quorbel-checkout";
constexpr const char* kRecordKey = "CheckOut";
constexpr const char* kMenuTitle = "Quorbel CheckOut Folder";

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
}

std::string StemOf(const std::string& file_name) {
    size_t dot = file_name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? file_name : file_name.substr(0, dot);
}

// The folders of `path` (absolute) that do not exist yet, outermost first.
void MissingFolders(const std::string& path, std::vector<std::string>& out,
                    std::set<std::string>& seen) {
    std::vector<std::string> chain;
    for (std::string p = path; !p.empty() && p != "/" && p != "."; p = FolderOfPath(p)) {
        if (Exists(p)) break;
        chain.push_back(p);
        if (FolderOfPath(p) == p) break;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (seen.insert(*it).second) out.push_back(*it);
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return bool(out);
}

std::string DirectoryFileName(const std::string& group) {
    return std::string(kGroupParentName) + "-" + group + ".directory";
}
std::string MenuFileName(const std::string& group) {
    return std::string(kGroupParentName) + "-" + group + ".menu";
}

std::string DirectoryText(const std::string& name) {
    return "[Desktop Entry]\nType=Directory\nName=" + xdg::EscapeValue(name) + "\n";
}

// The applications menu shows the group below "Quorbel CheckOut Folder"; the entries are named
// by their desktop-file ids (the path below applications/ with '/' turned into '-').
std::string MenuText(const std::string& group, const std::vector<std::string>& ids) {
    // Menu readers do not validate: no document type declaration, as the installation's menu.
    std::string menu =
        "<Menu>\n  <Name>Applications</Name>\n  <Menu>\n    <Name>" +
        xdg::XmlText(kMenuTitle) + "</Name>\n    <Directory>" + kGroupParentName +
        ".directory</Directory>\n    <Menu>\n      <Name>" + xdg::XmlText(group) +
        "</Name>\n      <Directory>" + xdg::XmlText(DirectoryFileName(group)) +
        "</Directory>\n      <Include>\n";
    for (const auto& id : ids) menu += "        <Filename>" + xdg::XmlText(id) + "</Filename>\n";
    return menu + "      </Include>\n    </Menu>\n  </Menu>\n</Menu>\n";
}

std::string Serialize(const CheckOutRecord& r) {
    std::string out;
    auto put = [&](char tag, const std::string& value) {
        out += tag;
        out += value;
        out += '\0';
    };
    put('O', r.output_folder);
    put('G', r.group_folder);
    put('P', r.group_parent);
    for (const auto& f : r.files) put('F', f);
    for (const auto& f : r.folders) put('D', f);
    for (const auto& e : r.entries) put('E', e);
    return out;
}

}  // namespace

std::string CheckOutRecord::GroupName() const { return FileNameOfPath(group_folder); }

bool CheckOutRecord::Store() const {
    std::string bytes = Serialize(*this);
    return AppRegistry().WriteBinary(kRecordKey, archive,
                                     std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

CheckOutRecord CheckOutRecord::Load(const std::string& archive) {
    CheckOutRecord r;
    auto bytes = AppRegistry().ReadBinary(kRecordKey, archive);
    if (!bytes) return r;
    r.archive = archive;
    std::string all(bytes->begin(), bytes->end());
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) break;
        std::string item = all.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        std::string value = item.substr(1);
        switch (item[0]) {
        case 'O': r.output_folder = value; break;
        case 'G': r.group_folder = value; break;
        case 'P': r.group_parent = value; break;
        case 'F': r.files.push_back(value); break;
        case 'D': r.folders.push_back(value); break;
        case 'E': r.entries.push_back(value); break;
        default: break;
        }
    }
    return r;
}

void CheckOutRecord::Forget(const std::string& archive) {
    AppRegistry().DeleteValue(kRecordKey, archive);
}

bool ValidGroupName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string CheckOutGroupParent() {
    return xdg::DataHome() + "/applications/" + kGroupParentName;
}

std::string DefaultCheckOutFolder(const std::string& archive) {
    const std::string name = FileNameOfPath(archive);
    return archive.substr(0, archive.size() - name.size()) + StemOf(name);
}

std::string DefaultGroupName(const std::string& archive) { return StemOf(FileNameOfPath(archive)); }

std::string CheckOutEntryText(const std::string& file) {
    std::string exec = IsExecutableFile(file) ? xdg::ExecArgument(file)
                                              : "xdg-open " + xdg::ExecArgument(file);
    return "[Desktop Entry]\nType=Application\nName=" + xdg::EscapeValue(FileNameOfPath(file)) +
           "\nExec=" + exec + "\nPath=" + xdg::EscapeValue(FolderOfPath(file)) +
           "\nTerminal=false\n";
}

CheckOutResult CheckOut(ArchiveHandler& handler, const std::string& output_folder,
                        const std::string& group_name, Launcher* launcher) {
    CheckOutResult result;
    CheckOutRecord& record = result.record;
    if (!ValidGroupName(group_name)) {
        result.status = kStatusFailed;
        result.message = "\"" + group_name + "\" cannot be a menu group name.";
        return result;
    }
    record.archive = handler.ArchivePath();
    record.output_folder = output_folder;
    record.group_parent = CheckOutGroupParent();
    record.group_folder = record.group_parent + "/" + group_name;

    // What exists before the extraction stays the user's: only the folders made now are ours.
    std::set<std::string> seen;
    MissingFolders(output_folder, record.folders, seen);
    for (const auto& e : handler.Entries()) {
        if (!e.is_file) continue;
        auto relative = SafeRelativePath(e.full_name);
        if (relative) MissingFolders(FolderOfPath(output_folder + "/" + *relative), record.folders, seen);
    }

    ProgressSink& sink = *handler.Sink();
    handler.Extraction().use_folder_names = true;
    result.status = handler.ExtractAll(output_folder, true, true);
    record.files = handler.ExtractedFiles();
    std::vector<std::string> made;
    for (const auto& f : record.folders)
        if (Exists(f)) made.push_back(f);
    record.folders = made;
    if (result.status != kStatusOk) result.message = handler.LastMessage();

    if (!MakeFolders(record.group_folder)) {
        if (result.status == kStatusOk) {
            result.status = kStatusCannotCreate;
            result.message = FormatText(MessageTemplate(kMsgCannotCreate).c_str(),
                                        record.group_folder.c_str());
        }
        return result;
    }
    // The group folder and the parent go with the entries, so they are removed through them.
    if (result.status != kStatusOk) return result;

    sink.Begin();
    sink.SetText(StringById(text_id::kCreatingShortcuts));
    sink.SetRange(0, int64_t(record.files.size()));
    std::vector<std::string> ids;
    int counter = 0;
    for (size_t i = 0; i < record.files.size(); ++i) {
        if (!sink.SetPos(int64_t(i))) {
            result.status = kStatusAborted;
            break;
        }
        const std::string& file = record.files[i];
        const std::string name = FileNameOfPath(file);
        std::string entry = record.group_folder + "/" + name + ".desktop";
        while (Exists(entry))
            entry = record.group_folder + "/" + name + " (" + std::to_string(counter++) + ").desktop";
        if (!WriteText(entry, CheckOutEntryText(file))) continue;
        record.entries.push_back(entry);
        ids.push_back(std::string(kGroupParentName) + "-" + group_name + "-" + FileNameOfPath(entry));
    }
    sink.End(0);

    const std::string directories = xdg::DataHome() + "/desktop-directories";
    const std::string merged = xdg::ConfigHome() + "/menus/applications-merged";
    if (MakeFolders(directories) && MakeFolders(merged)) {
        const std::string parent_dir = directories + "/" + kGroupParentName + ".directory";
        if (!Exists(parent_dir)) WriteText(parent_dir, DirectoryText(kMenuTitle));
        const std::string group_dir = directories + "/" + DirectoryFileName(group_name);
        if (WriteText(group_dir, DirectoryText(group_name))) record.entries.push_back(group_dir);
        const std::string menu = merged + "/" + MenuFileName(group_name);
        if (WriteText(menu, MenuText(group_name, ids))) record.entries.push_back(menu);
    }
    if (launcher && result.status == kStatusOk) launcher->OpenFolder(record.group_folder);
    return result;
}

std::vector<std::string> CleanUpCheckOut(const CheckOutRecord& record) {
    std::vector<std::string> left;
    auto remove_file = [&](const std::string& path) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) left.push_back(path);
    };
    auto remove_folder = [&](const std::string& path) {
        if (rmdir(path.c_str()) != 0 && errno != ENOENT) left.push_back(path);
    };
    for (const auto& e : record.entries) remove_file(e);
    if (!record.group_folder.empty()) remove_folder(record.group_folder);
    // The parent and its .directory belong to every check-out: only an empty parent goes.
    if (!record.group_parent.empty() && rmdir(record.group_parent.c_str()) == 0)
        unlink((xdg::DataHome() + "/desktop-directories/" + kGroupParentName + ".directory").c_str());
    for (const auto& f : record.files) remove_file(f);
    for (auto it = record.folders.rbegin(); it != record.folders.rend(); ++it) remove_folder(*it);
    return left;
}

}  // namespace quorbel
