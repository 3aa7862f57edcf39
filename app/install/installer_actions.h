// Installing and removing the program: the files it carries, the copy of itself, the menu
// group and the records that tell a later start it is installed.
#pragma once

#include <string>

namespace quorbel {

class ProgressSink;
class UserPrompts;

// Ids of the archives the program carries (type "ZIP"), and of its licence text (type "TEXT").
inline constexpr int kGeneralHelpResource = 268;
inline constexpr int kCompanionResource = 270;
inline constexpr int kEnglishHelpResource = 271;
inline constexpr int kFrenchHelpResource = 272;
inline constexpr int kLicenseResource = 1;

// The name of the installed program inside the installation folder.
inline constexpr const char* kInstalledProgramName = "quorbel";

// The folder the wizard proposes: the recorded program's folder when it exists, else
// ~/.local/opt/dorvex/quorbel.
std::string ProposedInstallFolder();
// The "..." button's rule: a chosen folder whose last name is not "quorbel" (any case) gets
// "quorbel" appended.
std::string InstallFolderFor(const std::string& chosen);
// Bytes the installation writes: the running program plus the unpacked size of what it carries.
long long InstallationSize(const std::string& running_program);

// The common body of installation and removal. Installing writes the help pages of the chosen
// language, the general help and the companion files, copies `running_program`, makes the
// menu group, writes the records and starts the installed program with "/FIRSTTIME". Removing
// deletes exactly those files, the folders left empty by that, the menu group and our records.
// False with `message` set when a step failed.
bool InstallOrRemove(bool install, const std::string& folder, bool english,
                     const std::string& running_program, ProgressSink& sink, std::string& message);

// "/UNINSTALL": asks, unregisters, removes, and reports through `prompts`. Returns success.
bool Uninstall(bool show_result, const std::string& running_program, UserPrompts& prompts,
               ProgressSink& sink);

// The licence text the program carries ("" when missing).
std::string LicenseText();

}  // namespace quorbel
