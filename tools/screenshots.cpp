// Renders the main window with the content, explorer, statistics and pictures views of an
// archive, and the picture viewer with one of its pictures, into PNG files, on Qt's offscreen
// platform, for the README.
//   quorbel-screenshots ARCHIVE OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/main_frame.h"
#include "app/ops/thumbnails.h"
#include "app/picture_viewer.h"
#include "app/quorbel_doc.h"
#include "app/views/archive_list.h"
#include "app/views/quorbel_form_view.h"
#include "app/views/view_explorer.h"
#include "app/widgets/tvl_picture.h"
#include "core/status.h"
#include "core/user_prompts.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A private settings store, so the pictures show the defaults and not the user's settings.
    QTemporaryDir settings;
    setenv("QUORBEL_REGISTRY_DIR", settings.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);
    quorbel::InstallThumbnailHook();
    QDir().mkpath(argv[2]);
    const QString out = QDir(argv[2]).absolutePath();

    quorbel::NoPrompts prompts;
    quorbel::ScriptedFileChooser files({});
    quorbel::RecordingLauncher launcher;
    quorbel::SetLauncher(&launcher);
    quorbel::CMainFrame frame(prompts, files);
    frame.resize(1100, 680);
    frame.show();
    quorbel::CChildFrame* child = frame.OpenDocumentFile(argv[1]);
    if (!child) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    auto shoot = [&](int type, const char* name) {
        frame.ShowViewOfActive(type);
        if (type == quorbel::kViewExplorer) {
            auto* explorer = static_cast<quorbel::CViewExplorer*>(child->View());
            explorer->Tree()->expandAll();
            explorer->SelectFolder("quorbel\\core\\zip");
        }
        if (auto* list = child->View()->List()) {
            list->AutoSizeColumns();
            if (list->RowCount() > 0) list->selectionModel()->select(
                list->model()->index(0, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        const QString path = out + "/" + name;
        if (!frame.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
            return false;
        }
        std::printf("%s\n", path.toUtf8().constData());
        return true;
    };
    // The viewer shows the archive's first picture member, twice as large.
    auto shoot_viewer = [&](const char* name) {
        quorbel::ArchiveHandler& h = *child->Doc().Handler();
        for (size_t i = 0; i < h.EntryCount(); ++i) {
            if (h.GetPictureInfo(int(i), nullptr, nullptr, nullptr) < 0) continue;
            std::string path;
            if (h.ExtractEntryAt(int(i), "", true, &path, true) != quorbel::kStatusOk) continue;
            quorbel::CPictureViewer* viewer = frame.OpenPictureFile(path);
            if (!viewer) continue;
            viewer->resize(520, 420);
            viewer->Control()->ZoomStep(true);
            for (int k = 0; k < 5; ++k) QApplication::processEvents();
            const QString file = out + "/" + name;
            const bool saved = viewer->grab().save(file);
            viewer->close();
            if (!saved) return false;
            std::printf("%s\n", file.toUtf8().constData());
            return true;
        }
        std::fprintf(stderr, "no picture member to show\n");
        return false;
    };
    const bool ok = shoot(quorbel::kViewContent, "content-view.png") &&
                    shoot(quorbel::kViewExplorer, "explorer-view.png") &&
                    shoot(quorbel::kViewStatistics, "statistics-view.png") &&
                    shoot(quorbel::kViewPictures, "pictures-view.png") &&
                    shoot_viewer("picture-viewer.png");
    quorbel::SetLauncher(nullptr);
    return ok ? 0 : 1;
}
