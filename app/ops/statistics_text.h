// The statistics view's text: one "label : value" line per property of the archive file.
#pragma once

#include <string>

#include "core/archive_handler.h"

namespace quorbel {

// Lines separated by "\r\n"; labels padded to one more than the longest.
std::string StatisticsText(const ArchiveHandler& handler);

}  // namespace quorbel
