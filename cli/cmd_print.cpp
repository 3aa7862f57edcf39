// print: the archive list printed into a PDF file by the window's own painting routine.
#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>
#include <cstdio>
#include <ctime>

#include "app/list_printer.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "core/messages.h"

namespace quorbel::cli {

namespace {
constexpr const char* kUsage = "usage: quorbel-cli print ARCHIVE --pdf OUT.pdf\n";
}  // namespace

int RunPrintCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string archive, pdf;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--pdf" && i + 1 < args.size()) {
            pdf = args[++i];
        } else if (args[i].rfind("--", 0) == 0 || !archive.empty()) {
            err << kUsage;
            return 2;
        } else {
            archive = args[i];
        }
    }
    if (archive.empty() || pdf.empty()) {
        err << kUsage;
        return 2;
    }
    auto progress = MakeProgress();
    auto handler = OpenOrReport(archive, *progress, err);
    if (!handler) return 1;

    // Fonts need a GUI application; a PDF needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "quorbel-cli";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    std::vector<const ArchiveEntry*> rows;
    for (const ArchiveEntry& e : handler->Entries())
        if (e.allocated && e.is_file) rows.push_back(&e);
    ListPrinter printer(LoadListPrintLayout(), std::move(rows), handler->ArchivePath(),
                        std::time(nullptr));
    bool done;
    {
        QPdfWriter writer(QString::fromStdString(pdf));
        writer.setResolution(300);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(QString::fromStdString(handler->ArchivePath()));
        writer.setCreator(QStringLiteral("Quorbel"));
        done = printer.Print(writer, *progress);
    }
    if (!done) {
        std::remove(pdf.c_str());
        err << (progress->Cancelled() ? MessageTemplate(kMsgAborted)
                                      : FormatText(MessageTemplate(kMsgCannotCreate).c_str(), pdf.c_str()))
            << "\n";
        return 1;
    }
    out << FormatText(StringById(text_id::kPrintStatus).c_str(), printer.PageCount(), printer.PageCount())
        << "\n";
    return 0;
}

}  // namespace quorbel::cli
