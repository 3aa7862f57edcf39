// The program's icons: freedesktop icon names from the desktop's theme, with small icons of our
// own carried in the program (":/icons/<size>/<name>.png") for names the theme does not have.
#pragma once

#include <QIcon>
#include <QString>
#include <vector>

namespace quorbel {

// The program's own icon name, also the name of the files an installation puts into the
// hicolor theme and the Icon= of its desktop entries.
inline constexpr const char* kProgramIconName = "dorvex-quorbel";

// The theme's icon of that name, else ours (every size we carry), else a null icon.
QIcon ThemeIcon(const char* name);
// Only what the program carries of that name.
QIcon BundledIcon(const QString& name);
// The program's icon, always ours: a theme may hold an older copy under the same name.
QIcon ProgramIcon();

// The sizes we carry of the program's icon, and the resource path of one of them.
std::vector<int> ProgramIconSizes();
QString ProgramIconResource(int size);

}  // namespace quorbel
