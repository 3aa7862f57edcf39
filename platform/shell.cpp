#include "platform/shell.h"

#include <QMimeDatabase>
#include <QMimeType>

namespace quorbel {

namespace {
QMimeType TypeOf(const std::string& file_name) {
    static QMimeDatabase db;
    return db.mimeTypeForFile(QString::fromStdString(file_name), QMimeDatabase::MatchExtension);
}
}  // namespace

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

}  // namespace quorbel
