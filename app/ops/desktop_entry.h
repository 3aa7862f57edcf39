// The pieces of freedesktop.org desktop entries the window-free operations write too (the
// check-out's menu group), shared with the installation's registrations.
#pragma once

#include <string>

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

// Escapes of text inside an XML element (the .menu files).
std::string XmlText(const std::string& text);

}  // namespace quorbel::xdg
