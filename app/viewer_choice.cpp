#include "app/viewer_choice.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {
constexpr int kHistorySize = 10;
}

CViewerChoice::CViewerChoice(const std::string& associated_name, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Select Viewer - [Quorbel]");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("View with : ", this));
    associated_ = new QRadioButton(
        "Associated Program : " + (associated_name.empty() ? QString("QuickView")
                                                           : "\"" + Q(associated_name) + "\""),
        this);
    ascii_ = new QRadioButton("Quorbel ASCII Viewer", this);
    html_ = new QRadioButton("Quorbel HTML Viewer", this);
    picture_ = new QRadioButton("Quorbel Picture Viewer", this);
    other_ = new QRadioButton(UiText("Other", "Autre"), this);
    program_ = new QComboBox(this);
    program_->setEditable(true);
    for (const std::string& p : LoadViewerHistory()) program_->addItem(Q(p));
    auto* browse = new QPushButton("...", this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, UiText("Viewer", "Visionneuse"));
        if (!path.isEmpty()) {
            program_->setEditText(path);
            other_->setChecked(true);
        }
    });
    auto* other_row = new QHBoxLayout;
    other_row->addWidget(other_);
    other_row->addWidget(program_, 1);
    other_row->addWidget(browse);
    for (QRadioButton* b : {associated_, ascii_, html_, picture_}) layout->addWidget(b);
    layout->addLayout(other_row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // Linux has no system quick viewer to fall back on.
    associated_->setEnabled(!associated_name.empty());
    (associated_name.empty() ? ascii_ : associated_)->setChecked(true);
}

ViewerKind CViewerChoice::Choice() const {
    if (associated_->isChecked()) return ViewerKind::Associated;
    if (html_->isChecked()) return ViewerKind::Html;
    if (picture_->isChecked()) return ViewerKind::Picture;
    if (other_->isChecked()) return ViewerKind::Other;
    return ViewerKind::Ascii;
}

void CViewerChoice::SetChoice(ViewerKind kind) {
    switch (kind) {
        case ViewerKind::Associated: associated_->setChecked(true); break;
        case ViewerKind::Ascii: ascii_->setChecked(true); break;
        case ViewerKind::Html: html_->setChecked(true); break;
        case ViewerKind::Picture: picture_->setChecked(true); break;
        case ViewerKind::Other: other_->setChecked(true); break;
    }
}

std::string CViewerChoice::OtherProgram() const { return S(program_->currentText().trimmed()); }
void CViewerChoice::SetOtherProgram(const std::string& path) { program_->setEditText(Q(path)); }
bool CViewerChoice::AssociatedAvailable() const { return associated_->isEnabled(); }

void CViewerChoice::accept() {
    if (Choice() == ViewerKind::Other) {
        if (OtherProgram().empty()) return;
        PushViewerHistory(OtherProgram());
    }
    QDialog::accept();
}

std::optional<std::string> AsciiViewerText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

std::vector<std::string> LoadViewerHistory() {
    AppRegistry reg;
    std::vector<std::string> list;
    for (int i = 0; i < kHistorySize; ++i) {
        std::string p = reg.ReadText(layout::kViewerHistory, "File" + std::to_string(i));
        if (!p.empty() && std::find(list.begin(), list.end(), p) == list.end()) list.push_back(p);
    }
    return list;
}

void PushViewerHistory(const std::string& program) {
    std::vector<std::string> list = LoadViewerHistory();
    list.erase(std::remove(list.begin(), list.end(), program), list.end());
    list.insert(list.begin(), program);
    AppRegistry reg;
    for (int i = 0; i < kHistorySize && size_t(i) < list.size(); ++i)
        reg.WriteText(layout::kViewerHistory, "File" + std::to_string(i), list[size_t(i)]);
}

bool ShowHtmlViewer(const std::string& path, QWidget* parent) {
    if (!FileExists(path)) return false;
    auto* window = new QDialog(parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle("Quorbel HTML Viewer - " + Q(FileNameOfPath(path)));
    auto* layout = new QVBoxLayout(window);
    auto* browser = new QTextBrowser(window);
    browser->setOpenExternalLinks(false);
    browser->setSource(QUrl::fromLocalFile(Q(path)));
    layout->addWidget(browser);
    window->resize(800, 600);
    window->show();
    return true;
}

}  // namespace quorbel
