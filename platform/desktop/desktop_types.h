// The desktop library, libquorbel-desktop.so: what the desktop knows about file types, read
// with Qt Core. The platform's shell services (platform/shell.h) load it on first use. Each
// entry point writes the answer's UTF-8 bytes into `out` (at most `capacity` of them) and
// returns the answer's whole length, so a caller whose buffer was too small asks again.
#pragma once

#include <cstddef>

namespace quorbel {

inline constexpr const char* kDesktopLibraryName = "libquorbel-desktop.so";

using DesktopQueryFn = size_t (*)(const char* argument, char* out, size_t capacity);

}  // namespace quorbel

extern "C" {
// The MIME type's comment for a file name's extension; "" for none or the fallback type.
size_t QuorbelMimeTypeComment(const char* file_name, char* out, size_t capacity);
// The icon-theme name of that type.
size_t QuorbelMimeIconName(const char* file_name, char* out, size_t capacity);
// The Name of the desktop entry the desktop opens the file with by default.
size_t QuorbelAssociatedProgramName(const char* file_name, char* out, size_t capacity);
// The desktop entry file mimeapps.list names as the default for a MIME type.
size_t QuorbelDefaultDesktopEntry(const char* mime_type, char* out, size_t capacity);
}
