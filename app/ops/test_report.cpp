#include "app/ops/test_report.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "app/ops/member_path.h"
#include "core/messages.h"

namespace quorbel {

std::string TestStatusText(int status, const ArchiveHandler& handler) {
    switch (status) {
    case kUnpackOk: return StringById(text_id::kTestOk);
    case kUnpackAborted: return StringById(text_id::kTestAborted);
    case 9:
    case kStatusNoDiskSpace: return StringById(text_id::kTestNoSpace);
    case kUnpackBadPassword:
    case kUnpackNeedPassword: return StringById(text_id::kTestNeedPassword);
    default: return handler.LastMessage();
    }
}

TestReport RunTest(ArchiveHandler& handler, std::time_t now) {
    TestReport report;
    std::tm tm{};
    localtime_r(&now, &tm);
    char date[64], clock[64];
    std::strftime(date, sizeof date, "%x", &tm);
    std::strftime(clock, sizeof clock, "%X", &tm);
    report.text = FormatText(StringById(text_id::kTestTitle).c_str(), handler.Info().file_name.c_str()) +
                  " - " + date + " " + clock + "\n";

    // A line keeps its entry and its status by number: an archive of many members would
    // otherwise hold every line's texts twice, once here and once in the report.
    struct Line {
        size_t entry;
        uint32_t status;
    };
    std::vector<Line> lines;
    std::vector<std::string> statuses;
    std::unordered_map<std::string, uint32_t> status_slot;
    auto add_line = [&](size_t entry, std::string status) {
        auto slot = status_slot.try_emplace(std::move(status), uint32_t(statuses.size())).first;
        if (slot->second == statuses.size()) statuses.push_back(slot->first);
        lines.push_back({entry, slot->second});
    };
    // Names are shown with '/', and a line feed in one does not start a line of its own.
    auto label_of = [&](size_t entry) {
        return FormatText(StringById(text_id::kTestLine).c_str(), EscapeControlCharacters(DisplayPath(handler.Entry(entry).full_name)).c_str());
    };
    ProgressSink& sink = *handler.Sink();
    sink.Begin();
    sink.SetRange(0, int64_t(handler.EntryCount()));
    const int step = handler.ProgressStep();
    for (size_t i = 0; i < handler.EntryCount(); ++i) {
        const ArchiveEntry& e = handler.Entry(i);
        if (!e.is_file || !e.allocated) continue;
        if (int64_t(i) % step == 0 && sink.SetPos(int64_t(i)) == 0) {
            report.aborted = true;
            break;
        }
        int status = kStatusFailed;
        handler.UnpackEntry(e, status);  // the block is freed at once: only the status counts
        if (status == kUnpackAborted) {
            report.aborted = true;
            add_line(i, TestStatusText(status, handler));
            break;
        }
        if (status != kUnpackOk && status != kUnpackBadPassword && status != kUnpackNeedPassword)
            ++report.errors;
        add_line(i, TestStatusText(status, handler));
    }
    sink.End(0);

    size_t width = 0, status_bytes = 0;
    for (const auto& l : lines) {
        width = std::max(width, label_of(l.entry).size());
        status_bytes += statuses[l.status].size();
    }
    report.text.reserve(report.text.size() + lines.size() * (width + 4) + status_bytes + 256);
    for (const auto& l : lines) {
        const std::string label = label_of(l.entry);
        report.text += '\n';
        report.text += label;
        report.text.append(width + 3 - label.size(), ' ');
        report.text += statuses[l.status];
    }
    report.tested = int(lines.size());
    report.text += "\n\n";
    if (report.aborted)
        report.text += StringById(text_id::kTestAborted);
    else if (report.errors)
        report.text += FormatText(StringById(text_id::kTestSummaryErrors).c_str(), report.tested,
                                  report.errors, handler.Info().file_name.c_str());
    else
        report.text += FormatText(StringById(text_id::kTestSummaryOk).c_str(), report.tested,
                                  handler.Info().file_name.c_str());
    return report;
}

}  // namespace quorbel
