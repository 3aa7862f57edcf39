// The desktop's trash (the freedesktop.org Trash standard), standing in for the recycle bin.
#pragma once

#include <string>

namespace quorbel {

// The home trash: $XDG_DATA_HOME/Trash (XDG_DATA_HOME defaulting to ~/.local/share).
std::string HomeTrashFolder();

// Moves a file or folder into the home trash with its .trashinfo record, so the desktop can
// restore it. Across file systems the data is copied and the original removed. Returns the
// path of the trashed copy, or "" on failure (the original is then untouched).
std::string MoveToTrash(const std::string& path);

}  // namespace quorbel
