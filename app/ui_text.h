// Window texts in the interface language. Labels of dialogs and menus carry no message code,
// so each is written once where it is used, in both languages; messages that operations share
// live in the string table of core/messages.
#pragma once

#include <QString>
#include <string>

#include "core/messages.h"

namespace quorbel {

inline QString UiText(const char* english, const char* french) {
    return QString::fromUtf8(CurrentLanguage() == Language::French ? french : english);
}

// A string-table text by id, for the window layer.
inline QString UiString(int id) { return QString::fromStdString(StringById(id)); }

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QString& text) { return text.toStdString(); }

}  // namespace quorbel
