// quorbel-setup: shows a wait window, unpacks the main program, runs it with "/INSTALL" (the
// main program does the installation itself), waits for it and deletes the unpacked copy. It
// takes no arguments and reports nothing: every failure is silent and the exit code is 0.
//
// The Windows installer also put the OLE property library (resource 107) into the system folder
// when it was missing there; nothing on Linux corresponds to it, so this installer carries no
// such resource.
#include <cstdlib>
#include <memory>
#include <thread>

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>

#include "installer/setup_steps.h"
#include "installer/wait_window.h"
#include "platform/temp_folders.h"

namespace {

using namespace quorbel::installer;

// The part without a window: also what runs when there is no display to show one on.
UnpackedProgram UnpackAndRun() {
    UnpackedProgram unpacked = UnpackProgram(quorbel::SystemTempPath());
    RunInstall(unpacked);
    return unpacked;
}

bool HaveDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!HaveDisplay()) {
        // Qt would end the process on its own when it finds no display; the program still
        // gets its chance to run.
        RemoveUnpacked(UnpackAndRun());
        return 0;
    }
    QApplication app(argc, argv);
    auto window = std::make_unique<WaitWindow>();
    window->show();
    window->repaint();
    QApplication::processEvents();
    QApplication::setOverrideCursor(Qt::WaitCursor);

    // The wait happens on a worker thread so that the window keeps being painted while the
    // main program runs.
    UnpackedProgram unpacked;
    QEventLoop loop;
    std::thread worker([&] {
        unpacked = UnpackAndRun();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();

    QApplication::restoreOverrideCursor();
    window->showMinimized();
    window->hide();
    window.reset();
    RemoveUnpacked(unpacked);
    return 0;
}
