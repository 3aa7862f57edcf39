// "Extract To...": the destination (history box and folder tree), all or selected files, the
// four extract options and the space the extraction needs. In folder-only mode the same
// dialog just chooses a folder.
#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/archive_handler.h"
#include "core/settings.h"

class QComboBox;
class QFileSystemModel;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace quorbel {

class CExtractOptionsPanel;

struct ExtractChoice {
    std::string destination;  // absolute
    bool all = true;          // all files, else the selected ones
    ExtractOptions options;   // options.path is the destination (not in folder-only mode)
};

class CExtractDialog : public QDialog {
    Q_OBJECT
public:
    // `selected`: entry indices of the selection (files count towards the space needed).
    CExtractDialog(QWidget* parent, ArchiveHandler& handler, const std::vector<int>& selected,
                   bool folder_only);

    // The confirmation: completes the destination, pushes the history and (unless folder-only)
    // writes the options back.
    void accept() override;
    // Set once the dialog was confirmed.
    const std::optional<ExtractChoice>& Result() const { return result_; }

    // Sum of the unpacked sizes of the files that would be extracted (unknown sizes skipped).
    static int64_t SpaceNeeded(const ArchiveHandler& handler, const std::vector<int>& selected,
                               bool all);

    QComboBox* Destination() const { return destination_; }
    QRadioButton* AllFiles() const { return all_; }
    QRadioButton* SelectedFiles() const { return selected_files_; }
    CExtractOptionsPanel* Options() const { return options_; }
    QPushButton* ConfirmButton() const { return confirm_; }
    QString SpaceNeededText() const;
    QString AvailableSpaceText() const;
    // The folder the tree shows as current ("" when none).
    QString TreeFolder() const;

private:
    void UpdateSpaceNeeded();
    void DestinationEdited(const QString& text);
    void TreeFolderChosen();
    void ShowInTree(const QString& folder);

    ArchiveHandler& handler_;
    std::vector<int> selected_;
    bool folder_only_;
    QComboBox* destination_;
    QFileSystemModel* folders_;
    QTreeView* tree_;
    QRadioButton* all_;
    QRadioButton* selected_files_;
    CExtractOptionsPanel* options_;
    QLabel* needed_caption_;
    QLabel* needed_value_;
    QLabel* available_caption_;
    QLabel* available_value_;
    QPushButton* confirm_;
    bool syncing_ = false;
    std::optional<ExtractChoice> result_;
};

// Shows the dialog modally; the choice, or nothing when cancelled.
std::optional<ExtractChoice> ShowExtractDialog(QWidget* parent, ArchiveHandler& handler,
                                               const std::vector<int>& selected, bool folderOnly);

}  // namespace quorbel
