// The list of recently opened archives, "Recent File List\" "File1".."File10".
#pragma once

#include <string>
#include <vector>

namespace quorbel {

// The stored entries in order, skipping empty values.
std::vector<std::string> LoadRecentFiles();
// Keeps, in order, the entries that name existing files and writes them back numbered from 1
// without gaps.
void PruneRecentFiles();
// Puts a path at the head of the list (once), keeping at most ten.
void AddRecentFile(const std::string& path);

}  // namespace quorbel
