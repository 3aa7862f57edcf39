#include "platform/desktop/desktop_types.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QStandardPaths>
#include <QTextStream>

namespace quorbel {
namespace {

QMimeType TypeOf(const std::string& file_name) {
    static QMimeDatabase db;
    return db.mimeTypeForFile(QString::fromStdString(file_name), QMimeDatabase::MatchExtension);
}

std::string MimeTypeComment(const std::string& file_name) {
    QMimeType type = TypeOf(file_name);
    // The fallback type for anything unrecognised says nothing about the file.
    if (!type.isValid() || type.isDefault()) return "";
    return type.comment().toStdString();
}

std::string MimeIconName(const std::string& file_name) {
    QMimeType type = TypeOf(file_name);
    if (!type.isValid() || type.isDefault()) return "";
    return type.iconName().toStdString();
}

// The first desktop entry a mimeapps.list or defaults.list names for `mime` in its
// [Default Applications] group; the value may list several, separated by ';'.
QString DefaultIn(const QString& list_path, const QString& mime) {
    QFile file(list_path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    QTextStream in(&file);
    bool in_group = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith('[')) {
            in_group = line == "[Default Applications]";
            continue;
        }
        if (!in_group) continue;
        const int eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == mime) {
            for (const QString& entry : line.mid(eq + 1).split(';', Qt::SkipEmptyParts))
                if (!entry.trimmed().isEmpty()) return entry.trimmed();
        }
    }
    return {};
}

QString DesktopEntryName(const QString& entry) {
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        QFile file(QDir(dir).filePath(entry));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        QTextStream in(&file);
        bool main_group = false;
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.startsWith('[')) main_group = line == "[Desktop Entry]";
            else if (main_group && line.startsWith("Name=")) return line.mid(5);
        }
    }
    return {};
}

std::string DefaultDesktopEntry(const std::string& mime_type) {
    const QString mime = QString::fromStdString(mime_type);
    QStringList lists;
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::ConfigLocation))
        lists << QDir(dir).filePath("mimeapps.list");
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
        lists << QDir(dir).filePath("mimeapps.list") << QDir(dir).filePath("defaults.list");
    for (const QString& list : lists) {
        const QString entry = DefaultIn(list, mime);
        if (!entry.isEmpty()) return entry.toStdString();
    }
    return "";
}

std::string AssociatedProgramName(const std::string& file_name) {
    QMimeType type = TypeOf(file_name);
    if (!type.isValid()) return "";
    std::string entry = DefaultDesktopEntry(type.name().toStdString());
    if (entry.empty()) return "";
    const QString name = DesktopEntryName(QString::fromStdString(entry));
    return (name.isEmpty() ? QString::fromStdString(entry) : name).toStdString();
}

size_t Answer(const std::string& text, char* out, size_t capacity) {
    if (out && capacity) std::memcpy(out, text.data(), std::min(capacity, text.size()));
    return text.size();
}

}  // namespace
}  // namespace quorbel

using quorbel::Answer;

extern "C" __attribute__((visibility("default"))) size_t QuorbelMimeTypeComment(const char* file_name, char* out,
                                                                                 size_t capacity) {
    return Answer(quorbel::MimeTypeComment(file_name), out, capacity);
}

extern "C" __attribute__((visibility("default"))) size_t QuorbelMimeIconName(const char* file_name, char* out,
                                                                              size_t capacity) {
    return Answer(quorbel::MimeIconName(file_name), out, capacity);
}

extern "C" __attribute__((visibility("default"))) size_t QuorbelAssociatedProgramName(const char* file_name,
                                                                                       char* out, size_t capacity) {
    return Answer(quorbel::AssociatedProgramName(file_name), out, capacity);
}

extern "C" __attribute__((visibility("default"))) size_t QuorbelDefaultDesktopEntry(const char* mime_type, char* out,
                                                                                     size_t capacity) {
    return Answer(quorbel::DefaultDesktopEntry(mime_type), out, capacity);
}
