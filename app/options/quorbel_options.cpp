#include "app/options/quorbel_options.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/dialogs/option_panels.h"
#include "app/options/options_general.h"
#include "app/options/options_programs.h"
#include "app/options/options_interface.h"
#include "app/options/options_printing.h"
#include "app/ops/add_request.h"
#include "app/ui_text.h"
#include "core/settings.h"

namespace quorbel {

CQuorbelOptions::CQuorbelOptions(QWidget* parent) : QDialog(parent) {
    setWindowTitle(UiText("Quorbel Options", "Options de Quorbel"));
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    layout->addWidget(tabs_, 1);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(UiText("Cancel", "Annuler"));
    buttons->button(QDialogButtonBox::Apply)->setText(UiText("&Apply", "A&ppliquer"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (StoreAll()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &CQuorbelOptions::StoreAll);
}

void CQuorbelOptions::AddPage(COptionsPage* page) {
    page->Load();
    tabs_->addTab(page, page->Title());
    pages_.push_back(page);
}

bool CQuorbelOptions::StoreAll() {
    for (COptionsPage* page : pages_) {
        QString message;
        if (!page->CanStore(message)) {
            tabs_->setCurrentWidget(page);
            QMessageBox::warning(this, windowTitle(), message);
            return false;
        }
    }
    for (COptionsPage* page : pages_) page->Store();
    return true;
}

COptionsExtract::COptionsExtract(QWidget* parent) : COptionsPage(parent) {
    auto* layout = new QVBoxLayout(this);
    panel_ = new CExtractOptionsPanel(this);
    layout->addWidget(panel_);
}

QString COptionsExtract::Title() const { return UiText("Extract", "Extraction"); }

void COptionsExtract::Load() { panel_->SetOptions(LoadExtractOptions()); }

void COptionsExtract::Store() {
    // Re-read so that a destination chosen meanwhile is kept.
    ExtractOptions options = LoadExtractOptions();
    panel_->ApplyTo(options);
    StoreExtractOptions(options);
}

COptionsAddFiles::COptionsAddFiles(QWidget* parent) : COptionsPage(parent) {
    auto* layout = new QVBoxLayout(this);
    panel_ = new CAddOptionsPanel(this);
    layout->addWidget(panel_);
}

QString COptionsAddFiles::Title() const { return UiText("Add Files", "Ajout de fichiers"); }

void COptionsAddFiles::Load() { panel_->SetRequest(LoadAddRequest()); }

void COptionsAddFiles::Store() {
    AddRequest request = LoadAddRequest();
    panel_->ApplyTo(request);
    StoreAddOptions(request);
}

COptionsPassword::COptionsPassword(QWidget* parent) : COptionsPage(parent) {
    auto* layout = new QVBoxLayout(this);
    mask_ = new QCheckBox(UiText("&Mask password", "M&asquer le mot de passe"), this);
    layout->addWidget(mask_);
    layout->addStretch(1);
}

QString COptionsPassword::Title() const { return UiText("Password", "Mot de passe"); }

void COptionsPassword::Load() { mask_->setChecked(LoadMaskPassword()); }

void COptionsPassword::Store() { StoreMaskPassword(mask_->isChecked()); }

void AddStandardPages(CQuorbelOptions& sheet) {
    sheet.AddPage(new COptionsGeneral);
    sheet.AddPage(new COptionsExtract);
    sheet.AddPage(new COptionsAddFiles);
    sheet.AddPage(new COptionsPassword);
    sheet.AddPage(new COptionsPrograms);
    sheet.AddPage(new COptionsPrinting);
    sheet.AddPage(new COptionsTvlToolTip);
}

}  // namespace quorbel
