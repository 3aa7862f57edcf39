// Opening a large archive in the main window: time to a filled content view, time to sort it
// by name and by size, and the longest time the event loop went without a turn meanwhile.
//   quorbel-app-bench ARCHIVE
// Prints one "name value" line per figure (milliseconds).
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/views/archive_list.h"
#include "app/views/quorbel_form_view.h"
#include "core/user_prompts.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir settings;
    setenv("QUORBEL_REGISTRY_DIR", settings.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);
    quorbel::NoPrompts prompts;
    quorbel::ScriptedFileChooser files({});
    quorbel::CMainFrame frame(prompts, files);
    frame.resize(1100, 700);
    frame.show();
    QApplication::processEvents();

    // Every turn of the event loop wakes the dispatcher; the longest interval between two
    // wake-ups while we work is the longest the window stood frozen.
    QElapsedTimer clock;
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
        measuring = true;
    };
    auto end = [&] {
        QApplication::processEvents();
        measuring = false;
        return clock.elapsed();
    };

    begin();
    quorbel::CChildFrame* child = frame.OpenDocumentFile(argv[1]);
    const qint64 open_ms = end();
    if (!child || !child->View() || !child->View()->List()) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    quorbel::CArchiveList* list = child->View()->List();
    const qint64 open_gap = longest_gap;
    longest_gap = 0;
    begin();
    list->SortByColumn(quorbel::kColName);
    const qint64 sort_name_ms = end();
    begin();
    list->SortByColumn(quorbel::kColSize);
    const qint64 sort_size_ms = end();
    std::printf("rows %d\n", list->RowCount());
    std::printf("open_ms %lld\n", (long long)open_ms);
    std::printf("sort_name_ms %lld\n", (long long)sort_name_ms);
    std::printf("sort_size_ms %lld\n", (long long)sort_size_ms);
    std::printf("longest_gap_open_ms %lld\n", (long long)open_gap);
    std::printf("longest_gap_sort_ms %lld\n", (long long)longest_gap);
    return 0;
}
