// The pieces of freedesktop.org desktop entries the window-free operations write too (the
// check-out's menu group), shared with the installation's registrations.
#pragma once

#include <string>
#include <string_view>

namespace quorbel::xdg {

// $XDG_DATA_HOME, $XDG_CONFIG_HOME and $XDG_STATE_HOME, with the base-directory defaults below
// $HOME (a relative value is ignored, as the rules say).
std::string DataHome();
std::string ConfigHome();
std::string StateHome();

// Escapes of a string value in a desktop entry.
std::string EscapeValue(const std::string& text);

// One argument of an Exec line: quoted when it holds a reserved character, '%' doubled, then
// escaped as a string value, so the desktop hands the program exactly `argument`.
std::string ExecArgument(const std::string& argument);

// `& < > "` escaped, for text and attribute values of XML and HTML (the .menu files, the
// exported pages).
std::string XmlText(std::string_view text);

}  // namespace quorbel::xdg
