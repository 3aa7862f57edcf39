// The groups of the "Programs" options page for the programs Quorbel starts on the user's
// behalf: the virus scanner and the maker of self-extracting ZIP files.
#pragma once

#include <QGroupBox>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace quorbel {

// A file chooser: the title, the folder to start in; empty when cancelled. Tests put their own.
using ProgramChooser = std::function<QString(const QString& title, const QString& start)>;

class CVirusScannerGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit CVirusScannerGroup(QWidget* parent = nullptr);
    void Load();
    // False, with the message to show, when "Path" names no executable file.
    bool CanStore(QString& message) const;
    void Store();
    void Reset();
    void SetChooser(ProgramChooser chooser) { chooser_ = std::move(chooser); }

    QLineEdit* Path() const { return path_; }
    QLineEdit* Parameters() const { return parameters_; }
    QComboBox* Known() const { return known_; }
    QCheckBox* RunMinimized() const { return minimized_; }
    // "Select...": the chooser, starting in the folder of "Selectors" "Antivirus".
    void Select();

private:
    void ChooseKnown(int row);

    QLineEdit* path_;
    QLineEdit* parameters_;
    QComboBox* known_;
    QCheckBox* minimized_;
    ProgramChooser chooser_;
};

class CSelfExtractorGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit CSelfExtractorGroup(QWidget* parent = nullptr);
    void Load();
    void Store();
    void Reset();
    void SetChooser(ProgramChooser chooser) { chooser_ = std::move(chooser); }

    QRadioButton* Choice(int type) const { return choices_[type]; }
    QComboBox* BootBlock() const { return boot_block_; }
    QComboBox* OtherPath() const { return other_path_; }

private:
    void Select(QComboBox* box, const char* selector);

    QRadioButton* choices_[3];
    QComboBox* boot_block_;
    QComboBox* other_path_;
    ProgramChooser chooser_;
};

}  // namespace quorbel
