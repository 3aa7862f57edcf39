#include "app/convert_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>
#include <filesystem>

#include "app/dialog_prompts.h"
#include "app/ops/conversion.h"
#include "app/ui_text.h"
#include "core/progress_sink.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {
const char* kConvertKey = "Options\\Convert";
const char* kHistoryKey = "Options\\Convert\\OutputFolder";
constexpr int kHistorySize = 10;
}  // namespace

ConvertDialog::ConvertDialog(UserPrompts& prompts, FileChooser& files, ProgressSink& sink,
                             std::function<void(const std::string&)> show_report, QWidget* parent)
    : QDialog(parent), prompts_(prompts), files_(files), sink_(sink), show_report_(std::move(show_report)) {
    setWindowTitle(UiString(text_id::kConvertCaption));
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    layout->addWidget(caption_);
    auto* top = new QHBoxLayout;
    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderLabels({UiText("Name", "Nom"), UiText("Path", "Chemin")});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->resizeSection(0, 160);
    top->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    auto* add_files = new QPushButton(UiText("Add Files...", "Ajouter des fichiers..."), this);
    auto* add_folder = new QPushButton(UiText("Add Folder...", "Ajouter un dossier..."), this);
    delete_ = new QPushButton(UiText("Delete", "Supprimer"), this);
    side->addWidget(add_files);
    side->addWidget(add_folder);
    side->addWidget(delete_);
    side->addStretch(1);
    top->addLayout(side);
    layout->addLayout(top, 1);

    auto* grid = new QGridLayout;
    format_ = new QComboBox(this);
    for (const ConvertTarget& t : ConvertTargets()) format_->addItem(t.shown);
    output_ = new QComboBox(this);
    output_->setEditable(true);
    auto* select = new QPushButton(UiText("Select...", "Choisir..."), this);
    grid->addWidget(new QLabel(UiText("Output format :", "Format de sortie :"), this), 0, 0);
    grid->addWidget(format_, 0, 1);
    grid->addWidget(new QLabel(UiText("Output folder :", "Dossier de sortie :"), this), 1, 0);
    grid->addWidget(output_, 1, 1);
    grid->addWidget(select, 1, 2);
    layout->addLayout(grid);
    rename_ = new QCheckBox(UiText("Rename on collisions", "Renommer en cas de conflit"), this);
    report_ = new QCheckBox(UiText("Show Report", "Afficher le rapport"), this);
    open_folder_ = new QCheckBox(UiText("Open output folder when done", "Ouvrir le dossier de sortie à la fin"), this);
    layout->addWidget(rename_);
    layout->addWidget(report_);
    layout->addWidget(open_folder_);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(UiText("Start", "Démarrer"), this);
    auto* close = new QPushButton(UiText("&Close", "&Fermer"), this);
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(add_files, &QPushButton::clicked, this, &ConvertDialog::AddFiles);
    connect(add_folder, &QPushButton::clicked, this, &ConvertDialog::AddFolder);
    connect(delete_, &QPushButton::clicked, this, &ConvertDialog::DeleteSelected);
    connect(start_, &QPushButton::clicked, this, &ConvertDialog::Start);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(select, &QPushButton::clicked, this, [this] {
        auto folder = prompts_.ChooseFolder(S(UiText("Output folder", "Dossier de sortie")), S(output_->currentText()));
        if (folder) output_->setCurrentText(Q(*folder));
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &ConvertDialog::UpdateState);
    connect(output_, &QComboBox::editTextChanged, this, &ConvertDialog::UpdateState);
    LoadSettings();
    UpdateState();
}

void ConvertDialog::LoadSettings() {
    AppRegistry r;
    format_->setCurrentIndex(std::clamp(int(r.ReadInteger(kConvertKey, "Format", 0)), 0, format_->count() - 1));
    rename_->setChecked(r.ReadBool(kConvertKey, "bRenameOnCollision", true));
    report_->setChecked(r.ReadBool(kConvertKey, "bShowReport", true));
    open_folder_->setChecked(r.ReadBool(kConvertKey, "bOpenOutputFolder", true));
    for (int i = 0; i < kHistorySize; ++i) {
        std::string folder = r.ReadText(kHistoryKey, "Folder" + std::to_string(i), "");
        if (!folder.empty()) output_->addItem(Q(folder));
    }
    output_->setCurrentIndex(output_->count() ? 0 : -1);
}

void ConvertDialog::StoreSettings() {
    AppRegistry r;
    r.WriteInteger(kConvertKey, "Format", format_->currentIndex());
    r.WriteInteger(kConvertKey, "bRenameOnCollision", rename_->isChecked());
    r.WriteInteger(kConvertKey, "bShowReport", report_->isChecked());
    r.WriteInteger(kConvertKey, "bOpenOutputFolder", open_folder_->isChecked());
    // The folder just used first, then the others, without repeats.
    std::vector<std::string> history = {S(output_->currentText())};
    for (int i = 0; i < output_->count() && int(history.size()) < kHistorySize; ++i) {
        std::string f = S(output_->itemText(i));
        if (std::find(history.begin(), history.end(), f) == history.end()) history.push_back(f);
    }
    for (size_t i = 0; i < history.size(); ++i) r.WriteText(kHistoryKey, "Folder" + std::to_string(i), history[i]);
}

void ConvertDialog::UpdateState() {
    caption_->setText(Q(FormatText(StringById(text_id::kConvertCount).c_str(), list_->topLevelItemCount())));
    delete_->setEnabled(!list_->selectedItems().isEmpty());
    start_->setEnabled(list_->topLevelItemCount() > 0 && !output_->currentText().trimmed().isEmpty());
}

void ConvertDialog::AddArchive(const std::string& path) {
    auto* item = new QTreeWidgetItem(list_, {Q(FileNameOfPath(path)), Q(path)});
    (void)item;
    UpdateState();
}

void ConvertDialog::AddFiles() {
    AppRegistry r;
    std::string start = r.ReadText("Folders", "AddFiles", "");
    auto chosen = files_.OpenFiles(StringById(text_id::kConvertAddArchives), StringById(text_id::kArchiveFilter),
                                   start, true);
    for (const std::string& path : chosen) AddArchive(path);
    if (!chosen.empty()) r.WriteText("Folders", "AddFiles", FolderOfPath(chosen.front()));
}

void ConvertDialog::AddFolder() {
    auto folder = prompts_.ChooseFolder(StringById(text_id::kConvertAddFolder), "");
    if (!folder) return;
    std::vector<std::string> found;
    std::error_code ec;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(*folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file(ec)) found.push_back(it->path().string());
    std::sort(found.begin(), found.end());
    for (const std::string& path : found) AddArchive(path);
}

void ConvertDialog::DeleteSelected() {
    for (QTreeWidgetItem* item : list_->selectedItems()) delete item;
    UpdateState();
}

std::vector<std::string> ConvertDialog::Archives() const {
    std::vector<std::string> paths;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) paths.push_back(S(list_->topLevelItem(i)->text(1)));
    return paths;
}

void ConvertDialog::Start() {
    ConversionOptions options;
    options.format = format_->currentIndex();
    options.output_folder = S(output_->currentText().trimmed());
    options.rename_on_collision = rename_->isChecked();
    StoreSettings();
    const std::vector<std::string> sources = Archives();
    ConversionResult result = ConvertArchives(sources, options, sink_, std::time(nullptr));
    if (!result.stop_message.empty()) {
        prompts_.ShowMessage(result.stop_message);
        return;
    }
    // Converted rows leave the list, highest first so the positions stay right.
    for (auto it = result.converted.rbegin(); it != result.converted.rend(); ++it)
        delete list_->takeTopLevelItem(int(*it));
    UpdateState();
    if (report_->isChecked() && show_report_) show_report_(result.report);
    if (open_folder_->isChecked()) CurrentLauncher().OpenFolder(options.output_folder);
}

}  // namespace quorbel
