#include "app/views/status_line.h"

#include <algorithm>

#include "core/messages.h"
#include "core/text_format.h"

namespace quorbel {

std::string StatusLineText(const ArchiveHandler& handler, const std::vector<int>& selected_entries,
                           int listed_count) {
    int64_t selected_size = 0;
    for (int index : selected_entries) {
        if (index < 0 || size_t(index) >= handler.EntryCount()) continue;
        const int64_t size = handler.Entry(size_t(index)).unpacked;
        if (size > 0) selected_size += size;  // an unknown size (-1) adds nothing
    }
    // The handler keeps -1 until a first known size is added; with nothing added the total is 0.
    const int64_t packed = std::max<int64_t>(0, handler.TotalPacked());
    const int64_t unpacked = std::max<int64_t>(0, handler.TotalUnpacked());
    return FormatText(StringById(text_id::kStatusLine).c_str(), int(selected_entries.size()),
                      SizeShortText(selected_size).c_str(), listed_count,
                      SizeShortText(packed).c_str(), SizeShortText(unpacked).c_str());
}

}  // namespace quorbel
