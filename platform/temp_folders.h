// The program's temporary folders: each archive handler gets two private scratch folders below
// "<temporary folder>/Quorbel".
#pragma once

#include <string>
#include <sys/types.h>

namespace quorbel {

// $TMPDIR, else /tmp.
std::string SystemTempPath();

// Creates a new scratch folder (mode 0700) below base/Quorbel and returns its path, or "" when
// it cannot be created. The name carries the time, a per-process counter and the process id,
// and the folder is created exclusively, so two processes never share one.
std::string CreateScratchFolder(const std::string& base);

// The process id recorded in a scratch folder's name, or -1 when the name is not one of ours.
pid_t ScratchFolderOwner(const std::string& folder_name);

// Removes a folder and everything in it; true when it is gone.
bool RemoveTree(const std::string& path);

}  // namespace quorbel
