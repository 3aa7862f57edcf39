#include "app/options/options_scanner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/ops/add_request.h"
#include "app/ops/self_extractor.h"
#include "app/ops/virus_scan.h"
#include "app/ui_text.h"
#include "core/messages.h"
#include "core/status.h"
#include "formats/external/run_program.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

constexpr const char* kSelectorsKey = "Selectors";

QString DefaultChooser(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getOpenFileName(parent, title, start,
                                        UiText("Programs (*)", "Programmes (*)"));
}

QPushButton* SelectButton(QWidget* parent) {
    return new QPushButton(UiText("Select...", "Choisir..."), parent);
}

void FillHistory(QComboBox* box, const char* key, const std::string& current) {
    box->clear();
    for (const auto& entry : HistoryComboEntries(LoadDestinationHistory(key))) box->addItem(Q(entry));
    box->setCurrentText(Q(current));
}

}  // namespace

CVirusScannerGroup::CVirusScannerGroup(QWidget* parent)
    : QGroupBox(UiText("Virus scanner", "Antivirus"), parent) {
    auto* form = new QFormLayout(this);
    auto* row = new QHBoxLayout;
    path_ = new QLineEdit(this);
    auto* select = SelectButton(this);
    row->addWidget(path_, 1);
    row->addWidget(select);
    form->addRow(UiText("Path :", "Chemin :"), row);
    known_ = new QComboBox(this);
    for (const auto& scanner : KnownScanners())
        if (*scanner.program) known_->addItem(scanner.program);
    known_->setCurrentIndex(-1);
    form->addRow(UiText("Known scanners :", "Antivirus connus :"), known_);
    parameters_ = new QLineEdit(this);
    form->addRow(UiText("Parameters :", "Paramètres :"), parameters_);
    minimized_ = new QCheckBox(UiText("Run minimized", "Exécuter en réduit"), this);
    auto* reset = new QPushButton(UiText("Reset", "Réinitialiser"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(minimized_, 1);
    bottom->addWidget(reset);
    form->addRow(bottom);
    connect(select, &QPushButton::clicked, this, &CVirusScannerGroup::Select);
    connect(reset, &QPushButton::clicked, this, &CVirusScannerGroup::Reset);
    connect(known_, &QComboBox::activated, this, &CVirusScannerGroup::ChooseKnown);
}

void CVirusScannerGroup::Load() {
    ScannerSettings s = ScannerSettings::Load();
    path_->setText(Q(s.path));
    parameters_->setText(Q(s.parameters));
    minimized_->setChecked(s.run_minimized);
}

bool CVirusScannerGroup::CanStore(QString& message) const {
    ScannerSettings s;
    s.path = S(path_->text().trimmed());
    if (s.path.empty() || s.Available()) return true;
    message = Q(FormatText(MessageTemplate(kMsgCannotOpen).c_str(), s.path.c_str()));
    return false;
}

void CVirusScannerGroup::Store() {
    ScannerSettings s;
    s.path = S(path_->text().trimmed());
    s.parameters = S(parameters_->text());
    s.run_minimized = minimized_->isChecked();
    s.Store();
}

void CVirusScannerGroup::Reset() {
    path_->clear();
    parameters_->clear();
    minimized_->setChecked(false);
    known_->setCurrentIndex(-1);
}

void CVirusScannerGroup::ChooseKnown(int row) {
    parameters_->setText(Q(KnownScannerTemplate(row)));
    // A scanner on PATH saves the user a trip through the file chooser.
    if (path_->text().trimmed().isEmpty() && row >= 0) {
        std::string found = FindExecutable(KnownScanners()[size_t(row)].program);
        if (!found.empty()) path_->setText(Q(found));
    }
}

void CVirusScannerGroup::Select() {
    AppRegistry reg;
    QString start = Q(reg.ReadText(kSelectorsKey, "Antivirus"));
    QString title = UiText("Browse", "Parcourir");
    QString chosen = chooser_ ? chooser_(title, start) : DefaultChooser(this, title, start);
    if (chosen.isEmpty()) return;
    path_->setText(chosen);
    reg.WriteText(kSelectorsKey, "Antivirus", FolderOfPath(S(chosen)));
}

CSelfExtractorGroup::CSelfExtractorGroup(QWidget* parent)
    : QGroupBox(UiText("Program to create self-extracting Zip files",
                       "Programme de création des fichiers Zip auto-extractibles"),
                parent) {
    auto* v = new QVBoxLayout(this);
    choices_[0] = new QRadioButton("Quorbel : English self-extracting", this);
    choices_[1] = new QRadioButton("BootBlock", this);
    choices_[2] = new QRadioButton("Other", this);
    boot_block_ = new QComboBox(this);
    other_path_ = new QComboBox(this);
    v->addWidget(choices_[0]);
    QComboBox* boxes[] = {boot_block_, other_path_};
    const char* selectors[] = {"BootBlock", "MakeEXEPath"};
    for (int i = 0; i < 2; ++i) {
        boxes[i]->setEditable(true);
        auto* row = new QHBoxLayout;
        row->addWidget(choices_[i + 1]);
        row->addWidget(boxes[i], 1);
        auto* select = SelectButton(this);
        row->addWidget(select);
        v->addLayout(row);
        QComboBox* box = boxes[i];
        const char* selector = selectors[i];
        connect(select, &QPushButton::clicked, this, [this, box, selector] { Select(box, selector); });
    }
    auto* reset = new QPushButton(UiText("Reset", "Réinitialiser"), this);
    v->addWidget(reset, 0, Qt::AlignRight);
    connect(reset, &QPushButton::clicked, this, &CSelfExtractorGroup::Reset);
}

void CSelfExtractorGroup::Load() {
    SfxSettings s = SfxSettings::Load();
    choices_[s.type == 1 || s.type == 2 ? s.type : 0]->setChecked(true);
    FillHistory(boot_block_, "BootBlock", s.boot_block);
    FillHistory(other_path_, "OtherPath", s.path);
}

void CSelfExtractorGroup::Store() {
    SfxSettings s;
    s.type = choices_[1]->isChecked() ? 1 : choices_[2]->isChecked() ? 2 : 0;
    s.boot_block = S(boot_block_->currentText().trimmed());
    s.path = S(other_path_->currentText().trimmed());
    s.Store();
    if (!s.boot_block.empty()) PushDestinationHistory("BootBlock", s.boot_block);
    if (!s.path.empty()) PushDestinationHistory("OtherPath", s.path);
}

void CSelfExtractorGroup::Reset() {
    choices_[0]->setChecked(true);
    boot_block_->setCurrentText(QString());
    other_path_->setCurrentText(QString());
}

void CSelfExtractorGroup::Select(QComboBox* box, const char* selector) {
    AppRegistry reg;
    QString start = Q(reg.ReadText(kSelectorsKey, selector));
    QString title = UiText("Browse", "Parcourir");
    QString chosen = chooser_ ? chooser_(title, start) : DefaultChooser(this, title, start);
    if (chosen.isEmpty()) return;
    box->setCurrentText(chosen);
    reg.WriteText(kSelectorsKey, selector, FolderOfPath(S(chosen)));
}

}  // namespace quorbel
