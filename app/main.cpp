// quorbel: the archive manager's window program.
#include <QApplication>
#include <string>
#include <vector>

#include "app/app_icons.h"
#include "app/ops/thumbnails.h"
#include "app/quorbel_app.h"
#include "app/startup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quorbel");
    QApplication::setOrganizationName("Dorvex");
    // Every window without an icon of its own shows ours; a Wayland desktop finds it through
    // the desktop entry an installation writes.
    QApplication::setWindowIcon(quorbel::ProgramIcon());
    QGuiApplication::setDesktopFileName("dorvex-quorbel");
    // The pictures view asks the handlers for thumbnails; the picture library makes them.
    quorbel::InstallThumbnailHook();
    quorbel::KeepFreedMemoryForReuse();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    quorbel::CQuorbelApp quorbel(QApplication::applicationFilePath().toStdString(),
                                 std::move(arguments));
    if (!quorbel.Start()) return quorbel.ExitCode();
    return app.exec();
}
