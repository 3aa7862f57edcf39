// quorbel: the archive manager's window program.
#include <QApplication>
#include <string>
#include <vector>

#include "app/quorbel_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quorbel");
    QApplication::setOrganizationName("Dorvex");
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    quorbel::CQuorbelApp quorbel(QApplication::applicationFilePath().toStdString(),
                                 std::move(arguments));
    if (!quorbel.Start()) return quorbel.ExitCode();
    return app.exec();
}
