// What the desktop knows about file types.
#pragma once

#include <string>

namespace quorbel {

// The desktop's description of a file type, found from a file name's extension ("ZIP
// archive"); empty when the desktop knows no type for it.
std::string MimeTypeComment(const std::string& file_name);

// The icon-theme name of that type ("application-zip"); "" when unknown.
std::string MimeIconName(const std::string& file_name);

}  // namespace quorbel
