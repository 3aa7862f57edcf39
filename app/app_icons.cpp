#include "app/app_icons.h"

#include <QFile>
#include <QHash>

namespace quorbel {

namespace {
constexpr int kCarriedSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QString ResourceOf(const QString& name, int size) {
    return QString(":/icons/%1x%1/%2.png").arg(size).arg(name);
}
}  // namespace

QIcon BundledIcon(const QString& name) {
    // The navigation tree asks once per folder; which sizes we carry never changes in a run.
    static QHash<QString, QList<int>> carried;
    auto hit = carried.find(name);
    if (hit == carried.end()) {
        QList<int> sizes;
        for (int size : kCarriedSizes)
            if (QFile::exists(ResourceOf(name, size))) sizes << size;
        hit = carried.insert(name, sizes);
    }
    QIcon icon;
    for (int size : *hit) icon.addFile(ResourceOf(name, size), QSize(size, size));
    return icon;
}

QIcon ThemeIcon(const char* name) {
    const QString theme_name = QString::fromLatin1(name);
    return QIcon::fromTheme(theme_name, BundledIcon(theme_name));
}

QIcon ProgramIcon() { return BundledIcon(QString::fromLatin1(kProgramIconName)); }

std::vector<int> ProgramIconSizes() {
    std::vector<int> sizes;
    for (int size : kCarriedSizes)
        if (QFile::exists(ProgramIconResource(size))) sizes.push_back(size);
    return sizes;
}

QString ProgramIconResource(int size) {
    return ResourceOf(QString::fromLatin1(kProgramIconName), size);
}

}  // namespace quorbel
