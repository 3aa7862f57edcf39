#include "app/install/xdg_integration.h"

#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/app_icons.h"
#include "app/install/help_topics.h"
#include "app/install/registrations.h"
#include "core/messages.h"

namespace quorbel::xdg {

namespace {

namespace fs = std::filesystem;

constexpr const char* kThunarIdPrefix = "dorvex-quorbel-";
constexpr const char* kScriptMarker = "# dorvex-quorbel context menu";
constexpr const char* kNautilusPrefix = "Quorbel - ";

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

// Temporary file beside the target, then rename: a desktop that watches the folder never reads
// half a file.
bool WriteFileAtomic(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::error_code ec;
    fs::create_directories(FolderOf(path), ec);
    const std::string temp = path + ".tmp-" + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            ok = false;
            break;
        }
        done += size_t(put);
    }
    ok = ok && fchmod(fd, mode) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}

// Writes only when the content differs, so a refresh at every start leaves the files alone.
bool UpdateFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::string current;
    struct stat st {};
    if (ReadWholeFile(path, current) && current == text && stat(path.c_str(), &st) == 0 &&
        (st.st_mode & 07777) == mode)
        return true;
    return WriteFileAtomic(path, text, mode);
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// --- mimeapps.list ----------------------------------------------------------------------------

struct Line {
    std::string body;
    std::string end;  // "\n", "\r\n", or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.body = text.substr(pos);
            pos = text.size();
        } else {
            line.body = text.substr(pos, nl - pos);
            line.end = "\n";
            pos = nl + 1;
        }
        if (!line.body.empty() && line.body.back() == '\r') {
            line.body.pop_back();
            line.end = "\r" + line.end;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool IsBlank(const Line& line) { return Trim(line.body).empty(); }

bool IsHeader(const Line& line, std::string* name = nullptr) {
    std::string body = Trim(line.body);
    if (body.size() < 2 || body.front() != '[' || body.back() != ']') return false;
    if (name) *name = body.substr(1, body.size() - 2);
    return true;
}

std::vector<std::string> SplitList(const std::string& value) {
    std::vector<std::string> items;
    std::stringstream s(value);
    std::string item;
    while (std::getline(s, item, ';')) {
        item = Trim(item);
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

struct Section {
    std::string name;  // "" for the lines before the first group
    bool has_header = false;
    bool dropped = false;
    std::vector<Line> lines;  // the header first when there is one
};

}  // namespace


std::string DocumentEntryPath() { return DataHome() + "/applications/" + kDesktopId; }
std::string MimeAppsPath() { return ConfigHome() + "/mimeapps.list"; }
std::string ServiceMenuPath() { return DataHome() + "/kio/servicemenus/" + kDesktopId; }
std::string NautilusScriptsFolder() { return DataHome() + "/nautilus/scripts"; }
std::string ThunarActionsPath() { return ConfigHome() + "/Thunar/uca.xml"; }
std::string MenuMergePath() {
    return ConfigHome() + "/menus/applications-merged/dorvex-quorbel.menu";
}

std::string MimeTypeForExtension(const std::string& extension) {
    static const QMimeDatabase database;
    std::string upper = extension;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& name : {Lower(extension), upper}) {
        QMimeType type = database.mimeTypeForFile(QString::fromStdString("x." + name),
                                                  QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault()) return type.name().toStdString();
    }
    return "";
}

std::string MergeMimeApps(const std::string& text, const std::string& desktop_id,
                          const std::vector<std::string>& wanted) {
    std::vector<Section> sections(1);
    for (Line& line : SplitLines(text)) {
        std::string name;
        if (IsHeader(line, &name)) {
            sections.push_back({name, true, false, {}});
        }
        sections.back().lines.push_back(std::move(line));
    }

    const char* kGroups[] = {"Default Applications", "Added Associations"};
    bool seen[2] = {false, false};
    bool changed = false;
    for (Section& section : sections) {
        int group = -1;
        for (int g = 0; g < 2; ++g)
            if (section.has_header && section.name == kGroups[g]) group = g;
        if (group < 0) continue;
        std::vector<std::string> pending;
        if (!seen[group]) pending = wanted;
        seen[group] = true;
        bool removed = false;
        std::vector<Line> kept;
        for (size_t i = 0; i < section.lines.size(); ++i) {
            Line& line = section.lines[i];
            size_t eq = line.body.find('=');
            if (i == 0 || eq == std::string::npos || Trim(line.body).front() == '#') {
                kept.push_back(std::move(line));
                continue;
            }
            const std::string key = Trim(line.body.substr(0, eq));
            const std::string value = line.body.substr(eq + 1);
            std::vector<std::string> items = SplitList(value);
            const bool is_wanted = std::find(wanted.begin(), wanted.end(), key) != wanted.end();
            std::vector<std::string> result = items;
            if (is_wanted) {
                pending.erase(std::remove(pending.begin(), pending.end(), key), pending.end());
                auto ours = std::find(result.begin(), result.end(), desktop_id);
                if (group == 0) {
                    if (ours != result.end()) result.erase(ours);
                    result.insert(result.begin(), desktop_id);
                } else if (ours == result.end()) {
                    result.insert(result.begin(), desktop_id);
                }
            } else {
                result.erase(std::remove(result.begin(), result.end(), desktop_id), result.end());
            }
            if (result == items) {
                kept.push_back(std::move(line));
                continue;
            }
            changed = true;
            if (result.empty()) {
                removed = true;
                continue;
            }
            // Keep the line's own style of a trailing separator.
            const bool trailing = Trim(value).empty() || Trim(value).back() == ';';
            std::string joined;
            for (size_t k = 0; k < result.size(); ++k) joined += (k ? ";" : "") + result[k];
            line.body = key + "=" + joined + (trailing ? ";" : "");
            kept.push_back(std::move(line));
        }
        if (!pending.empty()) {
            changed = true;
            // New lines go after the group's last entry, before the blank lines that part it
            // from the next group.
            size_t at = kept.size();
            while (at > 1 && IsBlank(kept[at - 1])) --at;
            if (at > 0 && kept[at - 1].end.empty()) kept[at - 1].end = "\n";
            std::vector<Line> added;
            for (const std::string& type : pending) added.push_back({type + "=" + desktop_id + ";", "\n"});
            kept.insert(kept.begin() + std::ptrdiff_t(at), added.begin(), added.end());
        }
        section.lines = std::move(kept);
        // A group we emptied goes too.
        if (removed && std::all_of(section.lines.begin() + 1, section.lines.end(), IsBlank)) {
            section.lines.clear();
            section.dropped = true;
        }
    }
    const bool append[2] = {!seen[0] && !wanted.empty(), !seen[1] && !wanted.empty()};
    if (!changed && !append[0] && !append[1]) return text;

    // A group dropped at the end of the file takes the blank line that parted it from the
    // group before, as it was added.
    size_t last_kept = sections.size();
    while (last_kept > 0 && sections[last_kept - 1].lines.empty()) --last_kept;
    bool tail_dropped = false;
    for (size_t s = last_kept; s < sections.size(); ++s) tail_dropped |= sections[s].dropped;
    if (tail_dropped && last_kept > 0 && sections[last_kept - 1].lines.size() > 1 &&
        IsBlank(sections[last_kept - 1].lines.back()))
        sections[last_kept - 1].lines.pop_back();

    // Groups the file does not have yet go at its end, parted by a blank line.
    for (int g = 0; g < 2; ++g) {
        if (!append[g]) continue;
        Section added{kGroups[g], true, false, {}};
        size_t last = sections.size();
        while (last > 0 && sections[last - 1].lines.empty()) --last;
        if (last > 0) {
            Line& tail = sections[last - 1].lines.back();
            if (tail.end.empty()) tail.end = "\n";
            if (!IsBlank(tail)) added.lines.push_back({"", "\n"});
        }
        added.lines.push_back({"[" + std::string(kGroups[g]) + "]", "\n"});
        for (const std::string& type : wanted) added.lines.push_back({type + "=" + desktop_id + ";", "\n"});
        sections.push_back(std::move(added));
    }

    std::string out;
    for (const Section& section : sections)
        for (const Line& line : section.lines) out += line.body + line.end;
    return out;
}

bool MergeThunarActions(const std::string& text, const std::string& our_actions,
                        std::string& merged) {
    if (Trim(text).empty()) {
        if (our_actions.empty()) {
            merged = text;
            return true;
        }
        merged = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n" + our_actions + "</actions>\n";
        return true;
    }
    std::string t = text;
    const std::string marker = std::string("<unique-id>") + kThunarIdPrefix;
    const std::string open = "<action>", close = "</action>";
    size_t pos = 0;
    while ((pos = t.find(open, pos)) != std::string::npos) {
        size_t end = t.find(close, pos);
        if (end == std::string::npos) break;
        end += close.size();
        if (t.substr(pos, end - pos).find(marker) == std::string::npos) {
            pos = end;
            continue;
        }
        // Take the element's whole line when it stands alone on it.
        size_t from = pos;
        while (from > 0 && (t[from - 1] == ' ' || t[from - 1] == '\t')) --from;
        size_t to = end;
        if (from == 0 || t[from - 1] == '\n') {
            if (to < t.size() && t[to] == '\r') ++to;
            if (to < t.size() && t[to] == '\n') ++to;
        } else {
            from = pos;
        }
        t.erase(from, to - from);
        pos = from;
    }
    if (!our_actions.empty()) {
        size_t closing = t.rfind("</actions>");
        if (closing != std::string::npos) {
            size_t line = closing;
            while (line > 0 && (t[line - 1] == ' ' || t[line - 1] == '\t')) --line;
            if (line == 0 || t[line - 1] == '\n')
                t.insert(line, our_actions);
            else
                t.insert(closing, "\n" + our_actions);
        } else {
            size_t empty = t.find("<actions/>");
            if (empty == std::string::npos) return false;
            t.replace(empty, std::string("<actions/>").size(), "<actions>\n" + our_actions + "</actions>");
        }
    }
    merged = t;
    return true;
}

namespace {

std::vector<ShellMenuItem> MenuItemsIn(Language language) {
    const bool fr = language == Language::French;
    return {
        {0, "add", fr ? "Ajouter à..." : "Add to...", false},
        {1, "add-zip", fr ? "Ajouter à <nom>.zip" : "Add to <name>.zip", false},
        {2, "extract", fr ? "Extraire vers..." : "Extract to...", true},
        {3, "extract-here", fr ? "Extraire ici (dans un dossier)" : "Extract here (into folder)", true},
        {4, "make-sfx", fr ? "Créer un programme auto-extractible" : "Make a self-extracting program", true},
        {5, "open", fr ? "Ouvrir avec Quorbel" : "Open with Quorbel", true},
    };
}

std::string ArchivePatterns() {
    std::string patterns;
    for (const char* ext : kArchiveDataTypes) {
        std::string e(ext);
        patterns += (patterns.empty() ? "*." : ";*.") + Lower(e) + ";*." + e;
    }
    return patterns;
}

std::string ServiceMenuText(const std::string& companion) {
    const std::string exec = ExecArgument(companion);
    std::string actions, groups;
    for (const ShellMenuItem& item : ShellMenuItems()) {
        actions += item.id + ";";
        groups += "\n[Desktop Action " + item.id + "]\nName=" + EscapeValue(item.label) +
                  "\nExec=" + exec + " " + std::to_string(item.type) + " %F\n";
    }
    // The validator knows no "Service" type; the file manager only reads MimeType and Actions.
    return "[Desktop Entry]\nType=Application\nName=Quorbel\nNoDisplay=true\nExec=" + exec +
           " 5 %F\nMimeType=application/octet-stream;inode/directory;\nActions=" + actions + "\n" +
           groups;
}

std::string ThunarActionsText(const std::string& companion) {
    std::string out;
    const std::string archives = ArchivePatterns();
    for (const ShellMenuItem& item : ShellMenuItems()) {
        out += "<action>\n\t<icon></icon>\n\t<name>" + XmlText(item.label) +
               "</name>\n\t<submenu></submenu>\n\t<unique-id>" + kThunarIdPrefix + item.id +
               "</unique-id>\n\t<command>" +
               XmlText(ShellQuote(companion) + " " + std::to_string(item.type) + " %F") +
               "</command>\n\t<description>Quorbel</description>\n\t<range></range>\n\t<patterns>" +
               XmlText(item.archives_only ? archives : "*") + "</patterns>\n";
        out += item.archives_only ? "\t<other-files/>\n"
                                  : "\t<directories/>\n\t<audio-files/>\n\t<image-files/>\n"
                                    "\t<other-files/>\n\t<text-files/>\n\t<video-files/>\n";
        out += "</action>\n";
    }
    return out;
}

bool UpdateThunarActions(const std::string& ours) {
    const std::string path = ThunarActionsPath();
    std::string text;
    const bool present = ReadWholeFile(path, text);
    if (!present && ours.empty()) return true;
    std::string merged;
    if (!MergeThunarActions(text, ours, merged)) return false;
    if (present && merged == text) return true;
    return WriteFileAtomic(path, merged);
}

bool UpdateMimeApps(const std::vector<std::string>& wanted) {
    const std::string path = MimeAppsPath();
    std::string text;
    const bool present = ReadWholeFile(path, text);
    if (!present && wanted.empty()) return true;
    const std::string merged = MergeMimeApps(text, kDesktopId, wanted);
    if (present && merged == text) return true;
    // A file that held nothing but our lines goes with them.
    if (present && Trim(merged).find_first_not_of("\r\n") == std::string::npos) return RemoveFile(path);
    return WriteFileAtomic(path, merged);
}

std::string EntryText(const std::string& name, const std::vector<std::string>& exec,
                      const std::string& working_folder, const char* icon) {
    std::string line;
    for (const std::string& arg : exec) line += (line.empty() ? "" : " ") + ExecArgument(arg);
    return "[Desktop Entry]\nType=Application\nName=" + EscapeValue(name) + "\nExec=" + line +
           "\nPath=" + EscapeValue(working_folder) + "\nTerminal=false\nIcon=" + icon + "\n";
}

std::string DirectoryText(const std::string& name, const char* icon) {
    return "[Desktop Entry]\nType=Directory\nName=" + EscapeValue(name) + "\nIcon=" + icon + "\n";
}

// The help pages show the desktop's help icon; everything else shows ours.
constexpr const char* kHelpIcon = "help-browser";

enum class HelpGroup { Help, Windows, Options };

HelpGroup GroupOf(const HelpTopic& topic) {
    std::string page = topic.page;
    if (page.rfind("local/windows/", 0) == 0) return HelpGroup::Windows;
    if (page.rfind("local/options/", 0) == 0) return HelpGroup::Options;
    return HelpGroup::Help;
}

std::string HelpEntryName(size_t index) {
    char name[64];
    std::snprintf(name, sizeof name, "dorvex-quorbel-help-%02zu.desktop", index + 1);
    return name;
}

const char* kProgramEntry = "dorvex-quorbel-program.desktop";
const char* kUninstallEntry = "dorvex-quorbel-uninstall.desktop";
const char* kReinstallEntry = "dorvex-quorbel-reinstall.desktop";

struct DirectoryFile {
    const char* file;
    const char* name;
    const char* icon;
};
constexpr DirectoryFile kDirectories[] = {
    {"dorvex-quorbel.directory", "Dorvex Quorbel", kProgramIconName},
    {"dorvex-quorbel-help.directory", "Help", kHelpIcon},
    {"dorvex-quorbel-help-windows.directory", "Windows", kHelpIcon},
    {"dorvex-quorbel-help-options.directory", "Options", kHelpIcon},
};

std::string ApplicationsFolder() { return DataHome() + "/applications"; }
std::string DirectoriesFolder() { return DataHome() + "/desktop-directories"; }

std::string IncludeList(const std::vector<std::string>& files, const std::string& indent) {
    std::string out = indent + "<Include>\n";
    for (const std::string& f : files) out += indent + "  <Filename>" + XmlText(f) + "</Filename>\n";
    return out + indent + "</Include>\n";
}

std::string MenuText() {
    std::vector<std::string> groups[3];
    for (size_t i = 0; i < std::size(kHelpTopics); ++i)
        groups[int(GroupOf(kHelpTopics[i]))].push_back(HelpEntryName(i));
    auto sub_menu = [&](const char* name, const char* directory, const std::vector<std::string>& files,
                        const std::string& indent, const std::string& inner) {
        return indent + "<Menu>\n" + indent + "  <Name>" + name + "</Name>\n" + indent +
               "  <Directory>" + directory + "</Directory>\n" + IncludeList(files, indent + "  ") +
               inner + indent + "</Menu>\n";
    };
    const std::string windows =
        sub_menu(kDirectories[2].name, kDirectories[2].file, groups[1], "      ", "");
    const std::string options =
        sub_menu(kDirectories[3].name, kDirectories[3].file, groups[2], "      ", "");
    const std::string help =
        sub_menu(kDirectories[1].name, kDirectories[1].file, groups[0], "    ", windows + options);
    const std::string top = sub_menu(kDirectories[0].name, kDirectories[0].file,
                                     {kProgramEntry, kUninstallEntry, kReinstallEntry}, "  ", help);
    // Menu readers do not validate, so the file carries no document type declaration.
    return "<!-- Quorbel's menu group: written by its installation, removed by its removal. -->\n"
           "<Menu>\n  <Name>Applications</Name>\n" +
           top + "</Menu>\n";
}

std::string NautilusScriptPath(const std::string& label) {
    return NautilusScriptsFolder() + "/" + kNautilusPrefix + label;
}

}  // namespace

std::vector<ShellMenuItem> ShellMenuItems() { return MenuItemsIn(CurrentLanguage()); }

bool WriteDocumentEntry(const std::string& program_path, const std::vector<std::string>& mime_types,
                        bool new_archive) {
    const std::string program = ExecArgument(program_path);
    std::string text = "[Desktop Entry]\nType=Application\nName=Quorbel\nExec=" + program +
                       " %f\nPath=" + EscapeValue(FolderOf(program_path)) +
                       "\nTerminal=false\nIcon=" + kProgramIconName +
                       "\n"
                       // The menu group has its own visible entry; this one carries the types.
                       "NoDisplay=true\n";
    if (!mime_types.empty()) {
        text += "MimeType=";
        for (const std::string& type : mime_types) text += type + ";";
        text += "\n";
    }
    if (new_archive) {
        text += "Actions=new-archive;\n\n[Desktop Action new-archive]\nName=" +
                EscapeValue(StringById(text_id::kNewArchive, Language::English)) + "\nName[fr]=" +
                EscapeValue(StringById(text_id::kNewArchive, Language::French)) + "\nExec=" + program +
                " /NEW\n";
    }
    bool ok = UpdateFile(DocumentEntryPath(), text);
    return UpdateMimeApps(mime_types) && ok;
}

bool RemoveDocumentEntry() {
    bool ok = UpdateMimeApps({});
    return RemoveFile(DocumentEntryPath()) && ok;
}

bool WriteContextMenus(const std::string& companion) {
    bool ok = UpdateFile(ServiceMenuPath(), ServiceMenuText(companion), 0755);
    // The other language's scripts would show up as a second set of items.
    const Language other =
        CurrentLanguage() == Language::French ? Language::English : Language::French;
    const std::vector<ShellMenuItem> current = ShellMenuItems();
    for (const ShellMenuItem& item : MenuItemsIn(other)) {
        bool same = std::any_of(current.begin(), current.end(),
                                [&](const ShellMenuItem& c) { return c.label == item.label; });
        if (!same) {
            std::string text;
            if (ReadWholeFile(NautilusScriptPath(item.label), text) &&
                text.find(kScriptMarker) != std::string::npos)
                ok = RemoveFile(NautilusScriptPath(item.label)) && ok;
        }
    }
    for (const ShellMenuItem& item : current) {
        const std::string script = std::string("#!/bin/sh\n") + kScriptMarker +
                                   ": removed when Quorbel's context menu is switched off.\nexec " +
                                   ShellQuote(companion) + " " + std::to_string(item.type) +
                                   " \"$@\"\n";
        ok = UpdateFile(NautilusScriptPath(item.label), script, 0755) && ok;
    }
    return UpdateThunarActions(ThunarActionsText(companion)) && ok;
}

bool RemoveContextMenus() {
    bool ok = RemoveFile(ServiceMenuPath());
    for (Language language : {Language::English, Language::French}) {
        for (const ShellMenuItem& item : MenuItemsIn(language)) {
            const std::string path = NautilusScriptPath(item.label);
            std::string text;
            // A script of that name that is not ours is the user's.
            if (ReadWholeFile(path, text) && text.find(kScriptMarker) != std::string::npos)
                ok = RemoveFile(path) && ok;
        }
    }
    return UpdateThunarActions("") && ok;
}

std::vector<std::string> MenuGroupFiles() {
    const std::string apps = ApplicationsFolder() + "/";
    std::vector<std::string> files = {apps + kProgramEntry, apps + kUninstallEntry,
                                      apps + kReinstallEntry};
    for (size_t i = 0; i < std::size(kHelpTopics); ++i) files.push_back(apps + HelpEntryName(i));
    for (const DirectoryFile& d : kDirectories) files.push_back(DirectoriesFolder() + "/" + d.file);
    files.push_back(MenuMergePath());
    return files;
}

bool WriteMenuGroup(const std::string& install_folder, bool english) {
    const std::string apps = ApplicationsFolder() + "/";
    const std::string program = install_folder + "/quorbel";
    bool ok = WriteFileAtomic(apps + kProgramEntry,
                              EntryText("Quorbel", {program}, install_folder, kProgramIconName));
    ok = WriteFileAtomic(apps + kUninstallEntry, EntryText("Uninstall Quorbel", {program, "/UNINSTALL"},
                                                           install_folder, kProgramIconName)) && ok;
    ok = WriteFileAtomic(apps + kReinstallEntry, EntryText("Re-install Quorbel", {program, "/INSTALL"},
                                                           install_folder, kProgramIconName)) && ok;
    int numbers[3] = {0, 0, 0};
    for (size_t i = 0; i < std::size(kHelpTopics); ++i) {
        const HelpTopic& topic = kHelpTopics[i];
        // Each sub-group counts from 1, so the titles sort in the group's own order.
        const int number = ++numbers[int(GroupOf(topic))];
        char title[256];
        std::snprintf(title, sizeof title, english ? topic.english : topic.french, number);
        const std::string page = install_folder + "/help/" + topic.page;
        ok = WriteFileAtomic(apps + HelpEntryName(i), EntryText(title, {"xdg-open", page}, FolderOf(page), kHelpIcon)) &&
             ok;
    }
    for (const DirectoryFile& d : kDirectories)
        ok = WriteFileAtomic(DirectoriesFolder() + "/" + d.file, DirectoryText(d.name, d.icon)) && ok;
    return WriteFileAtomic(MenuMergePath(), MenuText()) && ok;
}

namespace {
std::string IconSizeFolder(int size) {
    return DataHome() + "/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size);
}
}  // namespace

std::vector<std::string> ProgramIconPaths() {
    std::vector<std::string> paths;
    for (int size : ProgramIconSizes())
        paths.push_back(IconSizeFolder(size) + "/apps/" + kProgramIconName + ".png");
    return paths;
}

bool WriteProgramIcons() {
    const std::vector<int> sizes = ProgramIconSizes();
    bool ok = !sizes.empty();
    for (int size : sizes) {
        QFile carried(ProgramIconResource(size));
        if (!carried.open(QIODevice::ReadOnly)) {
            ok = false;
            continue;
        }
        const QByteArray png = carried.readAll();
        ok = UpdateFile(IconSizeFolder(size) + "/apps/" + kProgramIconName + ".png",
                        std::string(png.constData(), size_t(png.size()))) && ok;
    }
    // A theme cache older than its folder makes the desktop look at the folder again.
    const std::string theme = DataHome() + "/icons/hicolor";
    if (ok) (void)utimensat(AT_FDCWD, theme.c_str(), nullptr, 0);
    return ok;
}

bool RemoveProgramIcons() {
    bool ok = true;
    for (int size : ProgramIconSizes()) {
        const std::string apps = IconSizeFolder(size) + "/apps";
        ok = RemoveFile(apps + "/" + kProgramIconName + ".png") && ok;
        // Folders another program still uses are not empty and stay.
        if (rmdir(apps.c_str()) == 0) rmdir(IconSizeFolder(size).c_str());
    }
    return ok;
}

bool RemoveMenuGroupFiles() {
    bool ok = true;
    for (const std::string& file : MenuGroupFiles()) ok = RemoveFile(file) && ok;
    return ok;
}

}  // namespace quorbel::xdg
