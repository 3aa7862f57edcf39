// The archive converter: a list of archives of any readable format, the output format and
// folder, and Start, which runs the window-free conversion and shows its report.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace quorbel {

class FileChooser;
class ProgressSink;
class UserPrompts;

class ConvertDialog : public QDialog {
    Q_OBJECT
public:
    // `show_report` receives the report text when "Show Report" is on.
    ConvertDialog(UserPrompts& prompts, FileChooser& files, ProgressSink& sink,
                  std::function<void(const std::string&)> show_report, QWidget* parent = nullptr);

    void AddArchive(const std::string& path);
    void AddFiles();
    void AddFolder();
    void DeleteSelected();
    // Runs the conversion of every listed archive; rows converted leave the list.
    void Start();

    std::vector<std::string> Archives() const;
    QComboBox* Format() const { return format_; }
    QComboBox* OutputFolder() const { return output_; }
    QCheckBox* RenameOnCollision() const { return rename_; }
    QCheckBox* ShowReport() const { return report_; }
    QCheckBox* OpenOutputFolder() const { return open_folder_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* DeleteButton() const { return delete_; }
    QLabel* Caption() const { return caption_; }

private:
    void LoadSettings();
    void StoreSettings();
    void UpdateState();

    UserPrompts& prompts_;
    FileChooser& files_;
    ProgressSink& sink_;
    std::function<void(const std::string&)> show_report_;
    QTreeWidget* list_;
    QComboBox* format_;
    QComboBox* output_;
    QCheckBox* rename_;
    QCheckBox* report_;
    QCheckBox* open_folder_;
    QPushButton* start_;
    QPushButton* delete_;
    QLabel* caption_;
};

}  // namespace quorbel
