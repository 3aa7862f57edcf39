// The files a freedesktop.org desktop reads in place of the shell's registry keys: desktop
// entries, mimeapps.list, file-manager context menus and the applications-menu group. Every
// file we write carries "dorvex-quorbel" in its name or its id, so removal touches only ours.
#pragma once

#include <string>
#include <vector>

#include "app/ops/desktop_entry.h"

namespace quorbel::xdg {

// Quorbel's desktop-file id; also the name of the KDE service menu and the .menu merge file.
inline constexpr const char* kDesktopId = "dorvex-quorbel.desktop";


std::string DocumentEntryPath();    // <data>/applications/dorvex-quorbel.desktop
std::string MimeAppsPath();         // <config>/mimeapps.list
std::string ServiceMenuPath();      // <data>/kio/servicemenus/dorvex-quorbel.desktop
std::string NautilusScriptsFolder();  // <data>/nautilus/scripts
std::string ThunarActionsPath();    // <config>/Thunar/uca.xml
std::string MenuMergePath();        // <config>/menus/applications-merged/dorvex-quorbel.menu


// The MIME type the shared database gives a file named "x.<extension>" (tried in lower and then
// upper case); "" when the extension names no type of its own.
std::string MimeTypeForExtension(const std::string& extension);

// mimeapps.list as text: for every type in `wanted`, `desktop_id` becomes the first default in
// [Default Applications] and is listed in [Added Associations]; from every other line of those
// groups `desktop_id` is taken out, dropping a line (and a group) that is left empty. Lines we
// do not change are kept byte for byte.
std::string MergeMimeApps(const std::string& text, const std::string& desktop_id,
                          const std::vector<std::string>& wanted);

// uca.xml as text with our <action> elements (their unique ids start "dorvex-quorbel-")
// replaced by `our_actions` (empty: removed); the user's actions stay byte for byte. A missing
// file (empty text) becomes a new document. False when the text has no <actions> element to
// merge into.
bool MergeThunarActions(const std::string& text, const std::string& our_actions,
                        std::string& merged);

// A context-menu item of the file managers: the shell command type it sends and its label.
struct ShellMenuItem {
    int type;
    std::string id;     // action name in desktop files, suffix of the Thunar unique id
    std::string label;
    bool archives_only;  // offered on archives only (extract, open)
};
// Types 0-3 and 5, labelled in the current interface language.
std::vector<ShellMenuItem> ShellMenuItems();

// Writes or removes the document entry (Exec=<program> %f, the MIME types, and the "New
// Archive" action when `new_archive` is set) and its mimeapps.list lines.
bool WriteDocumentEntry(const std::string& program_path, const std::vector<std::string>& mime_types,
                        bool new_archive);
bool RemoveDocumentEntry();

// The three file-manager menus, each item starting `companion` with its type and the paths.
bool WriteContextMenus(const std::string& companion);
bool RemoveContextMenus();

// The program's icon in the hicolor theme below DataHome(): one PNG file per carried size,
// <data>/icons/hicolor/<n>x<n>/apps/dorvex-quorbel.png. Removal deletes those files and the
// size folders they leave empty.
std::vector<std::string> ProgramIconPaths();
bool WriteProgramIcons();
bool RemoveProgramIcons();

// Every file of the menu group, in the order they are written.
std::vector<std::string> MenuGroupFiles();
bool WriteMenuGroup(const std::string& install_folder, bool english);
bool RemoveMenuGroupFiles();

}  // namespace quorbel::xdg
