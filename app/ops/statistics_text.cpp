#include "app/ops/statistics_text.h"

#include <algorithm>

#include "core/messages.h"
#include "core/text_format.h"

namespace quorbel {

std::string StatisticsText(const ArchiveHandler& handler) {
    const ArchiveInfo& info = handler.Info();
    const std::string values[13] = {
        info.file_name,
        info.folder,
        SizeLongText(info.file_size),
        info.short_path,
        info.created,
        info.modified,
        info.accessed,
        info.attributes,
        info.file_count,
        SizeLongText(handler.TotalPacked()),
        SizeLongText(handler.TotalUnpacked()),
        info.ratio,
        handler.ArchiveComment(),
    };
    size_t width = 0;
    for (int i = 0; i < 13; ++i) width = std::max(width, StringById(text_id::kStatLabelFirst + i).size());
    std::string text;
    for (int i = 0; i < 13; ++i) {
        const std::string& label = StringById(text_id::kStatLabelFirst + i);
        if (i) text += "\r\n";
        text += label;
        text.append(width + 1 - label.size(), ' ');
        text += ": " + values[i];
    }
    return text;
}

}  // namespace quorbel
