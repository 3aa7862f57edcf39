// "Add": a file browser of our own (Qt's file dialog cannot carry a panel) with the add options
// beside it. Files are chosen in one folder; the folder button takes a whole folder instead,
// with the file-name field as the pattern.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "app/ops/add_request.h"
#include "core/archive_handler.h"
#include "core/progress_sink.h"

class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace quorbel {

class CAddOptionsPanel;

class CAddDialog : public QDialog {
    Q_OBJECT
public:
    // The request starts from the stored add options; `sink` shows the folder search (the
    // silent sink when none).
    CAddDialog(QWidget* parent, const std::string& password, ProgressSink* sink = nullptr);

    // Shows this folder in the browser (a folder that does not exist is ignored).
    void SetCurrentFolder(const std::string& folder);
    const std::string& CurrentFolder() const { return folder_; }
    // Chooses these names of the current folder, as a selection in the list does.
    void SetSelectedNames(const std::vector<std::string>& names);

    // The user's OK: a folder name opens the folder, a pattern filters the list, file names
    // end the dialog with them.
    void accept() override;
    // The folder button: the current folder's files matching the file-name field ("*.*" when
    // empty) end the dialog.
    void AddWholeFolder();

    // The request as the controls have it now (changes are not written to the settings).
    const AddRequest& Request() const { return request_; }
    // The completed request once the dialog ended with files.
    const std::optional<AddRequest>& Result() const { return result_; }

    QLineEdit* FileName() const { return name_; }
    CAddOptionsPanel* Options() const { return options_; }
    QPushButton* FolderButton() const { return folder_button_; }
    // Why the last OK did not end the dialog ("" when it did or nothing was wrong).
    QString Problem() const;

private:
    void SelectionChanged();
    void Finish(const AddChoice& choice);

    std::string password_;
    ProgressSink* sink_;
    AddRequest request_;
    std::optional<AddRequest> result_;
    std::string folder_;
    std::vector<std::string> selected_names_;
    QString selection_text_;  // what the name field shows for selected_names_
    bool selecting_ = false;

    QLineEdit* look_in_;
    QFileSystemModel* files_;
    QListView* list_;
    QLineEdit* name_;
    QComboBox* type_;
    QLabel* problem_;
    CAddOptionsPanel* options_;
    QPushButton* folder_button_;
};

// Shows the dialog modally; the request for AddFiles, or nothing when cancelled.
std::optional<AddRequest> ShowAddDialog(QWidget* parent, const std::string& password,
                                        ProgressSink* sink = nullptr);

}  // namespace quorbel
