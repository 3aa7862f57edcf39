// The "General" options page: the file types Quorbel opens, the file-manager context menus,
// and the general options of the handlers. Storing it registers again.
#pragma once

#include "app/options/quorbel_options.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorbel {

class COptionsGeneral : public COptionsPage {
    Q_OBJECT
public:
    explicit COptionsGeneral(QWidget* parent = nullptr);
    QString Title() const override;
    void Load() override;
    void Store() override;

    // The buttons: every type, or the archive or picture types, on or off.
    enum Group { kAll, kArchives, kPictures };
    void SetGroup(Group group, bool on);
    // The check box of one extension ("ZIP"), nullptr for an unknown one.
    QTreeWidgetItem* TypeItem(const QString& extension) const;
    QCheckBox* ShellOption(const char* value) const;
    QLineEdit* TemporaryDirectory() const { return temp_; }

private:
    QTreeWidget* types_;
    QTreeWidgetItem* archives_;
    QTreeWidgetItem* pictures_;
    std::vector<std::pair<const char*, QCheckBox*>> shell_options_;
    QLineEdit* temp_;
    QCheckBox* bin_;
    QCheckBox* rename_old_;
};

}  // namespace quorbel
