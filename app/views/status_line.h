// The status-line text of an archive window: the selection, and the archive's totals.
#pragma once

#include <string>
#include <vector>

#include "core/archive_handler.h"

namespace quorbel {

// "Selected : %d files (%s), Total : %d, Compressed Size : %s, Uncompressed Size : %s" with
// the selected entries' uncompressed sum, the number of listed entries and the archive's
// totals, all in the short size form (an archive without entries shows "0 Byte").
std::string StatusLineText(const ArchiveHandler& handler, const std::vector<int>& selected_entries,
                           int listed_count);

}  // namespace quorbel
