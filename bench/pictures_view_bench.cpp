// Filling the pictures view of an archive in the main window: the time per thumbnail beyond the
// time to unpack the members, the longest time the event loop went without a turn, and how
// long a Cancel takes to be answered.
//   quorbel-pictures-bench ARCHIVE
// Prints one "name value" line per figure (milliseconds unless named otherwise).
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/ops/thumbnails.h"
#include "app/quorbel_doc.h"
#include "app/startup.h"
#include "app/views/view_pictures.h"
#include "core/user_prompts.h"
#include "formats/format_table.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir settings;
    setenv("QUORBEL_REGISTRY_DIR", settings.path().toUtf8().constData(), 1);
    // As the program does at start (QUORBEL_BENCH_RETURN_HEAP=1 measures without it).
    if (!std::getenv("QUORBEL_BENCH_RETURN_HEAP")) quorbel::KeepFreedMemoryForReuse();
    QApplication app(argc, argv);
    quorbel::InstallThumbnailHook();
    quorbel::NoPrompts prompts;
    quorbel::ScriptedFileChooser files({});
    quorbel::CMainFrame frame(prompts, files);
    frame.resize(1100, 700);
    frame.show();
    QApplication::processEvents();

    // The unpacking alone, member by member into memory, as the thumbnails do it.
    // The machine may be shared: processor time shows the work, elapsed time what a user waits.
    auto cpu_ms = [] { return qint64(std::clock()) * 1000 / CLOCKS_PER_SEC; };
    QElapsedTimer clock;
    int files_count = 0;
    qint64 cpu_start = 0;
    {
        int status = 0;
        auto handler = quorbel::OpenArchiveFile(argv[1], status);
        if (!handler) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        clock.start();
        cpu_start = cpu_ms();
        for (size_t i = 0; i < handler->EntryCount(); ++i) {
            if (!handler->Entry(i).is_file) continue;
            ++files_count;
            quorbel::MemoryBlock block = handler->UnpackEntry(handler->Entry(i), status);
            if (!block) {
                std::fprintf(stderr, "cannot unpack member %zu\n", i);
                return 1;
            }
        }
    }
    const qint64 unpack_ms = clock.elapsed();
    const qint64 unpack_cpu_ms = cpu_ms() - cpu_start;

    qint64 last_turn = 0, longest_gap = 0;
    bool measuring = false;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, [&] {
        if (!measuring) return;
        const qint64 now = clock.elapsed();
        longest_gap = std::max(longest_gap, now - last_turn);
        last_turn = now;
    });
    auto begin = [&] {
        clock.restart();
        last_turn = 0;
        longest_gap = 0;
        measuring = true;
    };
    auto end = [&] {
        const qint64 ms = clock.elapsed();
        measuring = false;
        return ms;
    };

    quorbel::CChildFrame* child = frame.OpenDocumentFile(argv[1]);
    if (!child) return 1;
    begin();
    cpu_start = cpu_ms();
    frame.ShowViewOfActive(quorbel::kViewPictures);
    const qint64 fill_ms = end();
    const qint64 fill_cpu_ms = cpu_ms() - cpu_start;
    const qint64 fill_gap = longest_gap;
    auto* view = qobject_cast<quorbel::CViewPictures*>(child->View());
    const int thumbnails = view ? view->Model().RowCount() : 0;

    // Back to the pictures from another view: only the cached thumbnails are listed.
    frame.ShowViewOfActive(quorbel::kViewContent);
    begin();
    frame.ShowViewOfActive(quorbel::kViewPictures);
    const qint64 refill_ms = end();

    // Cancel pressed half a second into a fresh fill (a second window of the same archive has
    // no thumbnails yet): from the moment it was due to the fill's return.
    quorbel::CChildFrame* second = frame.OpenDocumentFile(argv[1]);
    qint64 cancel_ms = -1, listed_at_cancel = -1;
    if (second) {
        constexpr int kCancelAfterMs = 500;
        QTimer::singleShot(kCancelAfterMs, [&] { frame.Progress().RequestCancel(); });
        begin();
        frame.ShowViewOfActive(quorbel::kViewPictures);
        cancel_ms = end() - kCancelAfterMs;
        if (auto* v = qobject_cast<quorbel::CViewPictures*>(second->View()))
            listed_at_cancel = v->Model().RowCount();
    }

    std::printf("members %d\n", files_count);
    std::printf("thumbnails %d\n", thumbnails);
    std::printf("unpack_ms %lld\n", (long long)unpack_ms);
    std::printf("fill_ms %lld\n", (long long)fill_ms);
    std::printf("per_thumbnail_beyond_unpack_ms %.2f\n",
                thumbnails > 0 ? double(fill_ms - unpack_ms) / thumbnails : 0.0);
    std::printf("unpack_cpu_ms %lld\n", (long long)unpack_cpu_ms);
    std::printf("fill_cpu_ms %lld\n", (long long)fill_cpu_ms);
    std::printf("per_thumbnail_cpu_beyond_unpack_ms %.2f\n",
                thumbnails > 0 ? double(fill_cpu_ms - unpack_cpu_ms) / thumbnails : 0.0);
    std::printf("longest_gap_fill_ms %lld\n", (long long)fill_gap);
    std::printf("refill_cached_ms %lld\n", (long long)refill_ms);
    std::printf("cancel_answer_ms %lld\n", (long long)cancel_ms);
    std::printf("listed_at_cancel %lld\n", (long long)listed_at_cancel);
    return 0;
}
