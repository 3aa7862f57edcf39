#include "app/dialogs/extract_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/dialogs/option_panels.h"
#include "app/ops/add_request.h"
#include "app/ui_text.h"
#include "core/text_format.h"
#include "platform/file_system.h"

namespace quorbel {

CExtractDialog::CExtractDialog(QWidget* parent, ArchiveHandler& handler,
                               const std::vector<int>& selected, bool folder_only)
    : QDialog(parent), handler_(handler), selected_(selected), folder_only_(folder_only) {
    setWindowTitle(UiText("Quorbel - Extract To...", "Quorbel - Extraire vers..."));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    auto* destination_label = new QLabel(UiText("Extract &To :", "Extraire &vers :"), this);
    destination_ = new QComboBox(this);
    destination_->setEditable(true);
    destination_->setInsertPolicy(QComboBox::NoInsert);
    destination_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    destination_label->setBuddy(destination_);
    top->addWidget(destination_label);
    top->addWidget(destination_, 1);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout;
    // Folders only, from the file-system root down.
    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    folders_->setReadOnly(true);
    folders_->setRootPath(QDir::rootPath());
    tree_ = new QTreeView(this);
    tree_->setModel(folders_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < folders_->columnCount(); ++column) tree_->hideColumn(column);
    tree_->setMinimumSize(260, 240);
    middle->addWidget(tree_, 1);

    auto* side = new QVBoxLayout;
    auto* files = new QGroupBox(UiText("Files", "Fichiers"), this);
    auto* files_layout = new QVBoxLayout(files);
    all_ = new QRadioButton(UiText("&All files", "&Tous les fichiers"), files);
    selected_files_ = new QRadioButton(UiText("S&elected files", "Fichiers s&électionnés"), files);
    files_layout->addWidget(all_);
    files_layout->addWidget(selected_files_);
    side->addWidget(files);

    auto* options_group = new QGroupBox(UiText("Options", "Options"), this);
    auto* options_layout = new QVBoxLayout(options_group);
    options_ = new CExtractOptionsPanel(options_group);
    options_layout->addWidget(options_);
    side->addWidget(options_group);

    auto* space = new QGridLayout;
    needed_caption_ = new QLabel(UiText("Space needed :", "Espace nécessaire :"), this);
    needed_value_ = new QLabel(this);
    available_caption_ = new QLabel(this);
    available_value_ = new QLabel(this);
    space->addWidget(needed_caption_, 0, 0);
    space->addWidget(needed_value_, 0, 1, Qt::AlignRight);
    space->addWidget(available_caption_, 1, 0);
    space->addWidget(available_value_, 1, 1, Qt::AlignRight);
    side->addLayout(space);
    side->addStretch(1);
    middle->addLayout(side);
    layout->addLayout(middle, 1);

    auto* buttons = new QDialogButtonBox(this);
    confirm_ = buttons->addButton(folder_only ? UiText("OK", "OK") : UiText("E&xtract", "E&xtraire"),
                                  QDialogButtonBox::AcceptRole);
    confirm_->setDefault(true);
    buttons->addButton(UiText("Cancel", "Annuler"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CExtractDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // Presets: the history, the choice of files, the stored options.
    const char* history_key = folder_only ? kSelectFolderHistoryKey : kExtractHistoryKey;
    for (const std::string& entry : HistoryComboEntries(LoadDestinationHistory(history_key)))
        destination_->addItem(Q(entry));
    const ExtractOptions stored = LoadExtractOptions();
    const QString stored_path = stored.path.empty() ? QString() : Q(MakeAbsolute(stored.path));
    if (destination_->count() > 0)
        destination_->setCurrentIndex(0);
    else
        destination_->setEditText(stored_path);
    if (selected_.empty()) {
        selected_files_->setEnabled(false);
        all_->setChecked(true);
    } else {
        selected_files_->setChecked(true);
    }
    options_->SetOptions(stored);
    if (folder_only) {
        files->hide();
        options_group->hide();
        for (QLabel* label : {needed_caption_, needed_value_, available_caption_, available_value_})
            label->hide();
    }

    // The tree opens on the home folder and then on the stored destination.
    ShowInTree(QDir::homePath());
    if (!stored_path.isEmpty() && IsFolder(S(stored_path))) ShowInTree(stored_path);

    connect(all_, &QRadioButton::toggled, this, &CExtractDialog::UpdateSpaceNeeded);
    connect(destination_, &QComboBox::editTextChanged, this, &CExtractDialog::DestinationEdited);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CExtractDialog::TreeFolderChosen);
    UpdateSpaceNeeded();
    DestinationEdited(destination_->currentText());
}

int64_t CExtractDialog::SpaceNeeded(const ArchiveHandler& handler, const std::vector<int>& selected,
                                    bool all) {
    int64_t total = 0;
    auto count = [&](const ArchiveEntry& entry) {
        if (entry.is_file && entry.unpacked > 0) total += entry.unpacked;
    };
    if (all) {
        for (const ArchiveEntry& entry : handler.Entries()) count(entry);
    } else {
        for (int index : selected)
            if (index >= 0 && size_t(index) < handler.EntryCount()) count(handler.Entry(size_t(index)));
    }
    return total;
}

QString CExtractDialog::SpaceNeededText() const { return needed_value_->text(); }

QString CExtractDialog::AvailableSpaceText() const {
    return available_caption_->text() + " " + available_value_->text();
}

QString CExtractDialog::TreeFolder() const {
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? folders_->filePath(current) : QString();
}

void CExtractDialog::UpdateSpaceNeeded() {
    needed_value_->setText(Q(SizeShortText(SpaceNeeded(handler_, selected_, all_->isChecked()))));
}

void CExtractDialog::DestinationEdited(const QString& text) {
    const std::string folder = MakeAbsolute(S(text));
    // On this system a drive is a mounted volume: its mount point stands for the letter.
    available_caption_->setText(UiText("Available space on drive %1 :",
                                       "Espace disponible sur le lecteur %1 :")
                                    .arg(Q(MountPointOf(folder))));
    available_value_->setText(Q(SizeShortText(FreeSpace(folder))));
    if (!syncing_ && IsFolder(folder)) ShowInTree(Q(folder));
}

void CExtractDialog::TreeFolderChosen() {
    if (syncing_) return;
    const QString folder = TreeFolder();
    if (folder.isEmpty()) return;
    syncing_ = true;
    destination_->setEditText(QDir::toNativeSeparators(folder));
    syncing_ = false;
    DestinationEdited(destination_->currentText());
}

void CExtractDialog::ShowInTree(const QString& folder) {
    const QModelIndex index = folders_->index(folder);
    if (!index.isValid()) return;
    syncing_ = true;
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);  // expands every parent on the way
    tree_->expand(index);
    syncing_ = false;
}

void CExtractDialog::accept() {
    // Never a relative destination: the current directory completes it first.
    const std::string destination = MakeAbsolute(S(destination_->currentText()));
    PushDestinationHistory(folder_only_ ? kSelectFolderHistoryKey : kExtractHistoryKey,
                           destination);
    ExtractChoice choice;
    choice.destination = destination;
    choice.options = LoadExtractOptions();
    if (!folder_only_) {
        choice.all = all_->isChecked();
        options_->ApplyTo(choice.options);
        choice.options.path = destination;
        StoreExtractOptions(choice.options);
    }
    result_ = choice;
    QDialog::accept();
}

std::optional<ExtractChoice> ShowExtractDialog(QWidget* parent, ArchiveHandler& handler,
                                               const std::vector<int>& selected, bool folderOnly) {
    CExtractDialog dialog(parent, handler, selected, folderOnly);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Result();
}

}  // namespace quorbel
