#include "app/dialogs/option_panels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QVBoxLayout>

#include "app/ui_text.h"

namespace quorbel {

CExtractOptionsPanel::CExtractOptionsPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    overwrite_ = new QCheckBox(UiText("&Overwrite existing files", "&Remplacer les fichiers existants"), this);
    skip_older_ = new QCheckBox(UiText("&Skip older files", "&Ignorer les fichiers plus anciens"), this);
    use_folder_names_ = new QCheckBox(UiText("&Use folder names", "&Utiliser les noms de dossiers"), this);
    open_output_folder_ =
        new QCheckBox(UiText("O&pen output folder", "Ou&vrir le dossier de destination"), this);
    for (QCheckBox* box : {overwrite_, skip_older_, use_folder_names_, open_output_folder_})
        layout->addWidget(box);
    layout->addStretch(1);
}

void CExtractOptionsPanel::SetOptions(const ExtractOptions& options) {
    overwrite_->setChecked(options.overwrite);
    skip_older_->setChecked(options.skip_older);
    use_folder_names_->setChecked(options.use_folder_names);
    open_output_folder_->setChecked(options.open_output_folder);
}

void CExtractOptionsPanel::ApplyTo(ExtractOptions& options) const {
    options.overwrite = overwrite_->isChecked();
    options.skip_older = skip_older_->isChecked();
    options.use_folder_names = use_folder_names_->isChecked();
    options.open_output_folder = open_output_folder_->isChecked();
}

CAddOptionsPanel::CAddOptionsPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new QFormLayout;
    action_ = new QComboBox(this);
    // In the order of the stored "Action" values 0, 1, 2.
    action_->addItem(UiText("Add and replace files", "Ajouter et remplacer les fichiers"));
    action_->addItem(UiText("Freshen existing files", "Actualiser les fichiers existants"));
    action_->addItem(UiText("Update and add files", "Mettre à jour et ajouter des fichiers"));
    form->addRow(UiText("&Action :", "&Action :"), action_);
    layout->addLayout(form);
    const QString labels[kFlagCount] = {
        UiText("Store file names in &8.3 format", "Stocker les noms au format &8.3"),
        UiText("Include s&ub-folders", "Inclure les so&us-dossiers"),
        UiText("Save current &folder name", "Conserver le nom du &dossier courant"),
        UiText("Include only &non-archived files", "Seulement les fichiers &non archivés"),
        UiText("&Reset archive attribute", "&Effacer l'attribut archive"),
        UiText("Include s&ystem files", "Inclure les fichiers s&ystème"),
    };
    for (size_t i = 0; i < flags_.size(); ++i) {
        flags_[i] = new QCheckBox(labels[i], this);
        layout->addWidget(flags_[i]);
        connect(flags_[i], &QCheckBox::toggled, this, [this] {
            if (!loading_) emit changed();
        });
    }
    connect(action_, &QComboBox::currentIndexChanged, this, [this] {
        if (!loading_) emit changed();
    });
    layout->addStretch(1);
}

void CAddOptionsPanel::SetRequest(const AddRequest& request) {
    loading_ = true;
    action_->setCurrentIndex(request.action >= 0 && request.action < action_->count()
                                 ? request.action
                                 : int(AddRequest::kUpdate));
    const bool values[kFlagCount] = {request.store_format83, request.include_sub_folders,
                                     request.save_current_folder_name,
                                     request.include_only_non_archived,
                                     request.reset_archive_attribute, request.include_system_files};
    for (size_t i = 0; i < flags_.size(); ++i) flags_[i]->setChecked(values[i]);
    loading_ = false;
}

void CAddOptionsPanel::ApplyTo(AddRequest& request) const {
    request.action = action_->currentIndex();
    request.store_format83 = flags_[kStoreFormat83]->isChecked();
    request.include_sub_folders = flags_[kIncludeSubFolders]->isChecked();
    request.save_current_folder_name = flags_[kSaveCurrentFolderName]->isChecked();
    request.include_only_non_archived = flags_[kIncludeOnlyNonArchived]->isChecked();
    request.reset_archive_attribute = flags_[kResetArchiveAttribute]->isChecked();
    request.include_system_files = flags_[kIncludeSystemFiles]->isChecked();
}

}  // namespace quorbel
