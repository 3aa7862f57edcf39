// What the desktop knows about file types.
#pragma once

#include <string>

namespace quorbel {

// The desktop's description of a file type, found from a file name's extension ("ZIP
// archive"); empty when the desktop knows no type for it.
std::string MimeTypeComment(const std::string& file_name);

// The icon-theme name of that type ("application-zip"); "" when unknown.
std::string MimeIconName(const std::string& file_name);

// The name of the program the desktop opens this file with by default (the "Name" of the
// desktop entry that mimeapps.list names for the file's type); "" when there is none.
std::string AssociatedProgramName(const std::string& file_name);

// The desktop entry file ("org.example.App.desktop") that is the default for a MIME type, from
// the mimeapps.list files in XDG order; "" when none names one.
std::string DefaultDesktopEntry(const std::string& mime_type);

}  // namespace quorbel
