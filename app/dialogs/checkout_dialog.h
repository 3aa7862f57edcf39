// "CheckOut - [Quorbel]": where the members go and the name of their menu group.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace quorbel {

class UserPrompts;

class CCheckOutDialog : public QDialog {
    Q_OBJECT
public:
    CCheckOutDialog(UserPrompts& prompts, const std::string& archive, QWidget* parent = nullptr);
    void SetValues(const std::string& folder, const std::string& group);
    std::string Folder() const;
    std::string Group() const;
    QLineEdit* FolderField() const { return folder_; }
    QLineEdit* GroupField() const { return group_; }
    // "Browse": the chosen folder joined with the archive's name less its extension.
    void Browse();

private:
    UserPrompts& prompts_;
    std::string archive_;
    QLineEdit* folder_;
    QLineEdit* group_;
};

}  // namespace quorbel
