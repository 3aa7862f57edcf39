#include "app/ops/test_report.h"

#include <algorithm>
#include <vector>

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

    struct Line {
        std::string label, status;
    };
    std::vector<Line> lines;
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
            lines.push_back({FormatText(StringById(text_id::kTestLine).c_str(), e.full_name.c_str()),
                             TestStatusText(status, handler)});
            break;
        }
        if (status != kUnpackOk && status != kUnpackBadPassword && status != kUnpackNeedPassword)
            ++report.errors;
        lines.push_back({FormatText(StringById(text_id::kTestLine).c_str(), e.full_name.c_str()),
                         TestStatusText(status, handler)});
    }
    sink.End(0);

    size_t width = 0;
    for (const auto& l : lines) width = std::max(width, l.label.size());
    for (const auto& l : lines) {
        report.text += "\n" + l.label;
        report.text.append(width + 3 - l.label.size(), ' ');
        report.text += l.status;
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
