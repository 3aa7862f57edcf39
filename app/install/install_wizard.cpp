#include "app/install/install_wizard.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/app_icons.h"
#include "app/install/installer_actions.h"
#include "app/status_progress.h"
#include "app/ui_text.h"
#include "core/text_format.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {

// The nearest existing folder of a path that may not exist yet (free space is asked there).
std::string ExistingAncestor(std::string path) {
    while (!path.empty() && !IsFolder(path)) {
        const std::string parent = FolderOfPath(path);
        if (parent == path) break;
        path = parent;
    }
    return path.empty() ? "/" : path;
}

// The progress window of the installation itself.
class SetupProgress : public QDialog {
public:
    explicit SetupProgress(QWidget* parent) : QDialog(parent) {
        setWindowTitle("Quorbel Setup");
        setWindowIcon(ProgramIcon());
        auto* layout = new QVBoxLayout(this);
        progress = new CStatusProgress(this);
        layout->addWidget(progress);
        resize(420, 60);
    }
    CStatusProgress* progress;
};

}  // namespace

CInstallWizard::CInstallWizard(std::string running_program, UserPrompts& prompts, QWidget* parent)
    : QWizard(parent), running_program_(std::move(running_program)), prompts_(prompts) {
    setWindowTitle("Quorbel Installation");
    setWindowIcon(ProgramIcon());

    auto* license_page = new QWizardPage(this);
    license_page->setTitle("License - [Quorbel Setup]");
    auto* license = new QPlainTextEdit(license_page);
    license->setReadOnly(true);
    license->setPlainText(Q(LicenseText()));
    auto* license_layout = new QVBoxLayout(license_page);
    license_layout->addWidget(license);
    addPage(license_page);

    auto* options = new QWizardPage(this);
    options->setTitle("Options - [Quorbel Setup]");
    auto* layout = new QVBoxLayout(options);
    layout->addWidget(new QLabel("Folder where to install Quorbel :", options));
    auto* row = new QHBoxLayout;
    folder_ = new QLineEdit(options);
    folder_->setReadOnly(true);
    auto* browse = new QPushButton("...", options);
    row->addWidget(folder_, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    english_ = new QRadioButton("English Version", options);
    french_ = new QRadioButton("French Version", options);
    english_->setChecked(true);
    layout->addWidget(english_);
    layout->addWidget(french_);
    available_ = new QLabel(options);
    needed_ = new QLabel(options);
    layout->addWidget(available_);
    layout->addWidget(needed_);
    layout->addStretch(1);
    addPage(options);

    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, UiText("Installation folder", "Dossier d'installation"),
            Q(ExistingAncestor(Folder())));
        if (!chosen.isEmpty()) ChooseFolder(S(chosen));
    });
    needed_bytes_ = InstallationSize(running_program_);
    folder_->setText(Q(ProposedInstallFolder()));
    UpdateSpace();
}

std::string CInstallWizard::Folder() const { return S(folder_->text()); }

void CInstallWizard::ChooseFolder(const std::string& chosen) {
    folder_->setText(Q(InstallFolderFor(chosen)));
    UpdateSpace();
}

bool CInstallWizard::English() const { return english_->isChecked(); }
void CInstallWizard::SetEnglish(bool english) { (english ? english_ : french_)->setChecked(true); }
QString CInstallWizard::AvailableText() const { return available_->text(); }
QString CInstallWizard::NeededText() const { return needed_->text(); }

void CInstallWizard::UpdateSpace() {
    const std::string existing = ExistingAncestor(Folder());
    available_->setText(Q(FormatText(UiText("Available space on drive %s :", "Espace disponible sur le lecteur %s :")
                                         .toUtf8()
                                         .constData(),
                                     MountPointOf(existing).c_str())) +
                        " " + Q(SizeShortText(FreeSpace(existing))));
    needed_->setText(UiText("Space needed :", "Espace nécessaire :") + " " +
                     Q(SizeShortText(needed_bytes_)));
}

bool CInstallWizard::Complete() {
    SetupProgress window(this);
    window.show();
    std::string message;
    const bool ok = InstallOrRemove(true, Folder(), English(), running_program_,
                                    *window.progress, message);
    window.hide();
    if (!ok && !message.empty()) prompts_.ShowMessage(message);
    return ok;
}

bool CInstallWizard::validateCurrentPage() {
    if (nextId() != -1) return true;
    // The last page's Finish installs; on failure the wizard stays open.
    return Complete();
}

bool RunInstallWizard(const std::string& running_program, UserPrompts& prompts, bool unattended) {
    CInstallWizard wizard(running_program, prompts);
    if (!unattended) return wizard.exec() == QDialog::Accepted;
    if (auto folder = prompts.ChooseFolder("Folder where to install Quorbel :", wizard.Folder()))
        wizard.ChooseFolder(*folder);
    wizard.SetEnglish(prompts.AskYesNo("English Version"));
    return wizard.Complete();
}

}  // namespace quorbel
