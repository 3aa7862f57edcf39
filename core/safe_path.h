// The one place that decides where an archive member may be written.
#pragma once

#include <optional>
#include <string>

namespace quorbel {

// A stored member name ('\' or '/' separated) as a relative path with '/' separators that
// stays below the destination: leading separators and a drive prefix ("C:") are dropped, "."
// and empty components vanish, ".." removes the previous component. None when the name still
// climbs out of the destination, or nothing is left of it.
std::optional<std::string> SafeRelativePath(const std::string& stored_name);

// True when `path` (which may not exist yet) resolves, through any symbolic links among its
// existing parents, to a place inside `root`.
bool StaysInside(const std::string& root, const std::string& path);

// True when the folder `folder` (which may not exist yet) resolves to `root` itself or to a
// place inside it. Enough for a file whose name in that folder is replaced, never followed.
// A folder that is `root` itself, or lies below it through plain folders, is inside without
// resolving anything.
bool FolderStaysInside(const std::string& root, const std::string& folder);

}  // namespace quorbel
