#include "app/dialog_prompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <cstdlib>

#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

const QString kTitle = QStringLiteral("Quorbel");

}  // namespace

bool DialogPrompts::AskYesNo(const std::string& message) {
    return QMessageBox::question(parent_, kTitle, Q(message), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

UserPrompts::Overwrite DialogPrompts::AskOverwrite(const std::string& message) {
    switch (QMessageBox::question(parent_, kTitle, Q(message),
                                  QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No |
                                      QMessageBox::NoToAll)) {
        case QMessageBox::Yes: return Overwrite::Yes;
        case QMessageBox::YesToAll: return Overwrite::All;
        case QMessageBox::NoToAll: return Overwrite::None;
        default: return Overwrite::No;
    }
}

std::optional<std::string> DialogPrompts::AskPassword(const std::string& message) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, kTitle, Q(message), QLineEdit::Password,
                                               QString(), &ok);
    if (!ok) return std::nullopt;
    return S(text);
}

bool DialogPrompts::AskNextDisk(const std::string& message) {
    return QMessageBox::information(parent_, kTitle, Q(message),
                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

std::optional<std::string> DialogPrompts::ChooseFolder(const std::string& title,
                                                       const std::string& start) {
    const QString folder = QFileDialog::getExistingDirectory(parent_, Q(title), Q(start));
    if (folder.isEmpty()) return std::nullopt;
    return S(folder);
}

void DialogPrompts::ShowMessage(const std::string& message) {
    QMessageBox::information(parent_, kTitle, Q(message));
}

QString QtFilter(const std::string& filter) {
    const QStringList parts = Q(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        if (name.isEmpty()) break;
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        patterns.replace("*.*", "*");
        const int paren = name.lastIndexOf('(');
        if (paren > 0) name = name.left(paren).trimmed();
        out << name + " (" + patterns + ")";
    }
    return out.join(";;");
}

std::optional<std::string> DialogFileChooser::SaveFile(const std::string& title,
                                                       const std::string& filter,
                                                       const std::string& default_suffix,
                                                       const std::string& start) {
    QFileDialog dialog(parent_, Q(title), Q(start), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(Q(default_suffix).toLower());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return S(dialog.selectedFiles().first());
}

std::optional<std::string> DialogFileChooser::AskText(const std::string& title,
                                                      const std::string& label,
                                                      const std::string& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent_, Q(title), Q(label), QLineEdit::Normal, Q(initial), &ok);
    if (!ok) return std::nullopt;
    return S(text);
}

std::vector<std::string> DialogFileChooser::OpenFiles(const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& start, bool several) {
    QFileDialog dialog(parent_, Q(title), Q(start), QtFilter(filter));
    dialog.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    std::vector<std::string> paths;
    if (dialog.exec() == QDialog::Accepted)
        for (const QString& f : dialog.selectedFiles()) paths.push_back(S(f));
    return paths;
}

ScriptedFileChooser::ScriptedFileChooser(std::vector<std::string> answers)
    : answers_(answers.begin(), answers.end()) {}

ScriptedFileChooser ScriptedFileChooser::FromEnvironment() {
    return ScriptedFileChooser(SplitAnswers(std::getenv("QUORBEL_FILE_ANSWERS"), true));
}

std::optional<std::string> ScriptedFileChooser::AskText(const std::string& title,
                                                        const std::string&, const std::string& initial) {
    asked.push_back(title);
    proposed.push_back(initial);
    if (answers_.empty()) return std::nullopt;
    std::string answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedFileChooser::SaveFile(const std::string& title,
                                                         const std::string&, const std::string&,
                                                         const std::string& start) {
    asked.push_back(title);
    started.push_back(start);
    if (answers_.empty()) return std::nullopt;
    std::string answer = answers_.front();
    answers_.pop_front();
    if (answer.empty()) return std::nullopt;
    return answer;
}

std::vector<std::string> ScriptedFileChooser::OpenFiles(const std::string& title,
                                                        const std::string&, const std::string&,
                                                        bool) {
    asked.push_back(title);
    std::vector<std::string> paths;
    if (answers_.empty()) return paths;
    const std::string answer = answers_.front();
    answers_.pop_front();
    for (const QString& p : Q(answer).split('|', Qt::SkipEmptyParts)) paths.push_back(S(p));
    return paths;
}

std::optional<std::string> ChooseSaveFile(FileChooser& chooser, const char* folder_value,
                                          const std::string& title, const std::string& filter,
                                          const std::string& default_suffix,
                                          const std::string& default_name) {
    AppRegistry reg;
    std::string start = reg.ReadText(layout::kFolders, folder_value);
    if (!default_name.empty()) start = start.empty() ? default_name : start + "/" + default_name;
    auto chosen = chooser.SaveFile(title, filter, default_suffix, start);
    if (chosen) reg.WriteText(layout::kFolders, folder_value, FolderOfPath(*chosen));
    return chosen;
}

std::vector<std::string> ChooseOpenFiles(FileChooser& chooser, const char* folder_value,
                                         const std::string& title, const std::string& filter,
                                         bool several) {
    AppRegistry reg;
    auto chosen = chooser.OpenFiles(title, filter, reg.ReadText(layout::kFolders, folder_value),
                                    several);
    if (!chosen.empty()) reg.WriteText(layout::kFolders, folder_value, FolderOfPath(chosen[0]));
    return chosen;
}

}  // namespace quorbel
