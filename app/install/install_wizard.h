// The installation wizard of "/INSTALL": the licence, then the folder and the language, then
// the installation itself.
#pragma once

#include <QWizard>
#include <string>

class QLabel;
class QLineEdit;
class QRadioButton;

namespace quorbel {

class UserPrompts;

class CInstallWizard : public QWizard {
    Q_OBJECT
public:
    CInstallWizard(std::string running_program, UserPrompts& prompts, QWidget* parent = nullptr);

    std::string Folder() const;
    // Takes a folder as the "..." button does (the "quorbel" rule applies).
    void ChooseFolder(const std::string& chosen);
    bool English() const;
    void SetEnglish(bool english);
    QString AvailableText() const;
    QString NeededText() const;
    // Installs with the current choices; on failure the message is shown and false returned.
    bool Complete();

protected:
    bool validateCurrentPage() override;

private:
    void UpdateSpace();

    std::string running_program_;
    UserPrompts& prompts_;
    QLineEdit* folder_;
    QRadioButton* english_;
    QRadioButton* french_;
    QLabel* available_;
    QLabel* needed_;
    long long needed_bytes_ = 0;
};

// Runs the wizard; unattended (scripted answers), the folder comes from the prompts' folder
// answer (else the proposed one) and the language from a yes/no question. True when installed.
bool RunInstallWizard(const std::string& running_program, UserPrompts& prompts, bool unattended);

}  // namespace quorbel
