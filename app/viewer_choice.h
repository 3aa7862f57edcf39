// The "Select Viewer" dialog of the View command and the viewers it offers.
#pragma once

#include <QDialog>
#include <string>

class QComboBox;
class QRadioButton;

namespace quorbel {

enum class ViewerKind { Associated, Ascii, Html, Picture, Other };

class CViewerChoice : public QDialog {
    Q_OBJECT
public:
    // `associated_name` is the desktop's program for the file ("" when none: that choice is
    // then disabled and the ASCII viewer is preset).
    CViewerChoice(const std::string& associated_name, QWidget* parent = nullptr);

    ViewerKind Choice() const;
    void SetChoice(ViewerKind kind);
    // The program chosen under "Other".
    std::string OtherProgram() const;
    void SetOtherProgram(const std::string& path);
    bool AssociatedAvailable() const;

    void accept() override;

private:
    QRadioButton* associated_;
    QRadioButton* ascii_;
    QRadioButton* html_;
    QRadioButton* picture_;
    QRadioButton* other_;
    QComboBox* program_;
};

// The ASCII viewer's text: the whole file with every zero byte made a blank; nullopt when the
// file cannot be read.
std::optional<std::string> AsciiViewerText(const std::string& path);

// History of the "Other" programs, key "Viewer", values "File%d" (newest first).
std::vector<std::string> LoadViewerHistory();
void PushViewerHistory(const std::string& program);

// Shows an HTML file in a browser window of our own; false when the file is missing.
bool ShowHtmlViewer(const std::string& path, QWidget* parent);

}  // namespace quorbel
