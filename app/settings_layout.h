// Where the application keeps what it remembers, in one place. Paths are relative to the
// program key unless they are marked absolute; see platform/registry_access.h.
#pragma once

namespace quorbel::layout {

inline constexpr const char* kLanguage = "Language";  // value of the program key itself

inline constexpr const char* kFolders = "Folders";
inline constexpr const char* kOpenPath = "OpenPath";
inline constexpr const char* kNewPath = "NewPath";
inline constexpr const char* kSaveAsPath = "SaveAs";
inline constexpr const char* kAddPath = "AddPath";
inline constexpr const char* kHelpPath = "Help";

inline constexpr const char* kRecentFiles = "Recent File List";
inline constexpr int kRecentFileCount = 10;

inline constexpr const char* kAntivirus = "Options\\Antivirus";
inline constexpr const char* kViewerHistory = "Viewer";

// Absolute keys below HKEY_CURRENT_USER.
inline constexpr const char* kProgramPathKey = "Software\\Dorvex\\Software";
inline constexpr const char* kProgramPathValue = "Quorbel";
inline constexpr const char* kToolBarKey = "Software\\Dorvex\\Tovel\\ToolBar";
inline constexpr const char* kProgressBarKey = "Software\\Dorvex\\Tovel\\ProgressBar";

// The files an installation puts beside the program; the first one missing means the
// installation is incomplete.
inline constexpr const char* kCompanionFiles[] = {"quorbel-shell", "help/index.htm",
                                                  "help/local/index.htm", "libquorbel-cabinet.so",
                                                  "libquorbel-desktop.so"};

}  // namespace quorbel::layout
