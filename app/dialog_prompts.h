// The application's answers to the questions of the core (message boxes and input dialogs),
// and its file choosers. Both are replaceable so that tests and scripted child processes never
// wait for a person.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/user_prompts.h"

class QWidget;

namespace quorbel {

class DialogPrompts : public UserPrompts {
public:
    explicit DialogPrompts(QWidget* parent) : parent_(parent) {}
    bool AskYesNo(const std::string& message) override;
    Overwrite AskOverwrite(const std::string& message) override;
    std::optional<std::string> AskPassword(const std::string& message) override;
    bool AskNextDisk(const std::string& message) override;
    std::optional<std::string> ChooseFolder(const std::string& title,
                                            const std::string& start) override;
    void ShowMessage(const std::string& message) override;

private:
    QWidget* parent_;
};

// The file dialogs and the one-line text inputs (rename, change path, note) of the commands.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                               const std::string& initial) = 0;
    // `filter` is in the "Name|patterns|...||" form of the string table.
    virtual std::optional<std::string> SaveFile(const std::string& title, const std::string& filter,
                                                const std::string& default_suffix,
                                                const std::string& start) = 0;
    virtual std::vector<std::string> OpenFiles(const std::string& title, const std::string& filter,
                                               const std::string& start, bool several) = 0;
};

class DialogFileChooser : public FileChooser {
public:
    explicit DialogFileChooser(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                       const std::string& initial) override;
    std::optional<std::string> SaveFile(const std::string& title, const std::string& filter,
                                        const std::string& default_suffix,
                                        const std::string& start) override;
    std::vector<std::string> OpenFiles(const std::string& title, const std::string& filter,
                                       const std::string& start, bool several) override;

private:
    QWidget* parent_;
};

// Answers from a list, one per dialog; several files of one open dialog are separated by '|'.
// An empty answer (or none left) is a cancelled dialog. Every title asked is kept.
class ScriptedFileChooser : public FileChooser {
public:
    explicit ScriptedFileChooser(std::vector<std::string> answers);
    // The answers of $QUORBEL_FILE_ANSWERS, separated by newlines or ';'.
    static ScriptedFileChooser FromEnvironment();
    std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                       const std::string& initial) override;
    std::optional<std::string> SaveFile(const std::string& title, const std::string& filter,
                                        const std::string& default_suffix,
                                        const std::string& start) override;
    std::vector<std::string> OpenFiles(const std::string& title, const std::string& filter,
                                       const std::string& start, bool several) override;
    std::vector<std::string> asked;
    std::vector<std::string> proposed;  // the initial text of each AskText
    std::vector<std::string> started;   // the proposed path of each SaveFile

private:
    std::deque<std::string> answers_;
};

// "Zip Files (*.zip)|*.zip|All Files (*.*)|*.*||" -> Qt's "Zip Files (*.zip);;All Files (*)".
QString QtFilter(const std::string& filter);

// A save or open dialog that starts in the remembered folder "Folders\" `folder_value` and
// stores the folder of the (first) chosen path back there.
std::optional<std::string> ChooseSaveFile(FileChooser& chooser, const char* folder_value,
                                          const std::string& title, const std::string& filter,
                                          const std::string& default_suffix,
                                          const std::string& default_name = "");
std::vector<std::string> ChooseOpenFiles(FileChooser& chooser, const char* folder_value,
                                         const std::string& title, const std::string& filter,
                                         bool several);

}  // namespace quorbel
