// The document-type, "New" menu and context-menu registrations, and the menu group of an
// installation. The records are the designed keys of our own hives; what a Linux desktop reads
// is mirrored into the XDG files (see xdg_integration.h).
#pragma once

#include <string>

namespace quorbel {

// The one document type every registered extension points to.
inline constexpr const char* kDocumentTypeName = "Quorbel.Document";
inline constexpr const char* kDocumentTypeText = "Quorbel File";
inline constexpr const char* kShellExtensionClsid = "{5A7C3E10-2B4D-4F61-9E28-7D0C1B3A6F45}";
inline constexpr const char* kShellExtensionName = "Quorbel Shell Extension";

// Per-extension switches: the program key's sub-key "DataType", one integer per extension.
inline constexpr const char* kDataTypeKey = "DataType";
// The context-menu options, read by the file-manager integration.
inline constexpr const char* kShellExtKey = "ShellExt";
inline constexpr const char* kShellExtEnable = "bEnable";

inline constexpr int kArchiveIconIndex = 4;
inline constexpr int kPictureIconIndex = 3;

// Switched on unless "DataType" says otherwise.
inline constexpr const char* kArchiveDataTypes[] = {
    "ZIP", "ARJ", "LHA", "LZH", "RAR", "UUE", "UU", "XXE", "BHX", "B64", "HQX", "MIM",
    "TAR", "TAZ", "TGZ", "GZ",  "Z",   "TZ",  "ZOO", "JAR", "J",   "ACE", "CAB"};
// Switched off unless "DataType" says otherwise. "CLP" is listed twice, as it always was; the
// second pass only writes the same records again.
inline constexpr const char* kPictureDataTypes[] = {
    "BMP", "DIB", "TGA", "TPIC", "VDA", "ICB", "VST", "PCX", "PNG", "JPG", "JPE", "JPEG", "GLC", "GLS",
    "TIF", "TIFF", "EMF", "WMF", "CLP", "IFF", "LBM", "MAC", "PBM", "PGM", "PPM", "PSD", "CLP"};

// Registers (or, with do_register false, removes) the document type for every switched-on
// extension in HKEY_CLASSES_ROOT, the ".zip" "New" entry, and their XDG mirror: Quorbel's desktop
// entry and its lines in mimeapps.list. `program_path` is the program the commands start.
// False when a record could not be written; what could be written stays written.
bool RegisterFileTypes(bool do_register, const std::string& program_path);

// Registers the context-menu handler when registering and "ShellExt" "bEnable" (default 1) is
// set, else removes our records (keys shared with other programs stay). Mirrored into the KDE
// service menu, the Nautilus scripts and the Thunar custom actions, which call the
// "quorbel-shell" companion beside `program_path`.
bool RegisterContextMenu(bool do_register, const std::string& program_path);

// The menu group of an installation in `install_folder`: entries for Quorbel, "Uninstall
// Quorbel", "Re-install Quorbel" and every help topic (titles in English or French), their
// .directory files and the .menu merge file. Any previous group is removed first.
bool InstallMenuGroup(const std::string& install_folder, bool english);
// Deletes exactly the files InstallMenuGroup writes, nothing else.
bool RemoveMenuGroup();

}  // namespace quorbel
