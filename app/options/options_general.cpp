#include "app/options/options_general.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/install/registrations.h"
#include "app/startup.h"
#include "app/ui_text.h"
#include "core/settings.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

struct ShellOptionRow {
    const char* value;
    bool fallback;
    const char* english;
    const char* french;
};

constexpr ShellOptionRow kShellOptions[] = {
    {"bEnable", true, "Enable Quorbel context menu extension",
     "Activer l'extension de menu contextuel de Quorbel"},
    {"bCascadedMenu", false, "Cascaded menus", "Menus en cascade"},
    {"bLineBreak", true, "Enable lines break", "Activer les séparateurs"},
    {"bShowIcon", true, "Display icons on context menus", "Afficher les icônes dans les menus contextuels"},
    {"bInspectAllFiles", true, "Inspect all files", "Examiner tous les fichiers"},
};

void AddTypes(QTreeWidgetItem* group, const char* const* begin, const char* const* end,
              const char* english, const char* french) {
    for (const char* const* e = begin; e != end; ++e) {
        bool seen = false;
        for (int i = 0; i < group->childCount(); ++i) seen |= group->child(i)->data(0, Qt::UserRole) == *e;
        if (seen) continue;  // "CLP" is in the list twice; one box switches both
        auto* item = new QTreeWidgetItem(group);
        item->setText(0, Q(FormatText(UiText(english, french).toUtf8().constData(),
                                      QString(*e).toLower().toUtf8().constData())));
        item->setData(0, Qt::UserRole, QString(*e));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
}

}  // namespace

COptionsGeneral::COptionsGeneral(QWidget* parent) : COptionsPage(parent) {
    auto* layout = new QVBoxLayout(this);

    auto* types_box = new QGroupBox(UiText("Files opened by Quorbel", "Fichiers ouverts par Quorbel"), this);
    auto* types_layout = new QHBoxLayout(types_box);
    types_ = new QTreeWidget(types_box);
    types_->setHeaderHidden(true);
    archives_ = new QTreeWidgetItem(types_, {UiText("Archives", "Archives")});
    pictures_ = new QTreeWidgetItem(types_, {UiText("Pictures", "Images")});
    AddTypes(archives_, std::begin(kArchiveDataTypes), std::end(kArchiveDataTypes),
             ".%s files (archives)", "Fichiers .%s (archives)");
    AddTypes(pictures_, std::begin(kPictureDataTypes), std::end(kPictureDataTypes),
             ".%s files (pictures)", "Fichiers .%s (images)");
    types_->expandAll();
    types_layout->addWidget(types_, 1);
    auto* buttons = new QVBoxLayout;
    const struct { const char* english; const char* french; Group group; bool on; } kButtons[] = {
        {"All", "Tous", kAll, true},
        {"None", "Aucun", kAll, false},
        {"All Archives", "Toutes les archives", kArchives, true},
        {"None Archives", "Aucune archive", kArchives, false},
        {"All Pictures", "Toutes les images", kPictures, true},
        {"None Pictures", "Aucune image", kPictures, false},
    };
    for (const auto& b : kButtons) {
        auto* button = new QPushButton(UiText(b.english, b.french), types_box);
        const Group group = b.group;
        const bool on = b.on;
        connect(button, &QPushButton::clicked, this, [this, group, on] { SetGroup(group, on); });
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    types_layout->addLayout(buttons);
    layout->addWidget(types_box, 1);

    auto* shell_box = new QGroupBox(UiText("Context menus", "Menus contextuels"), this);
    auto* shell_layout = new QVBoxLayout(shell_box);
    for (const ShellOptionRow& row : kShellOptions) {
        auto* box = new QCheckBox(UiText(row.english, row.french), shell_box);
        shell_layout->addWidget(box);
        shell_options_.emplace_back(row.value, box);
    }
    layout->addWidget(shell_box);

    auto* general = new QGroupBox(UiText("General", "Général"), this);
    auto* grid = new QGridLayout(general);
    grid->addWidget(new QLabel(UiText("Temporary folder :", "Dossier temporaire :"), general), 0, 0);
    temp_ = new QLineEdit(general);
    grid->addWidget(temp_, 0, 1);
    auto* browse = new QPushButton("...", general);
    grid->addWidget(browse, 0, 2);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, UiText("Temporary folder", "Dossier temporaire"), temp_->text());
        if (!folder.isEmpty()) temp_->setText(folder);
    });
    bin_ = new QCheckBox(UiText("Move deleted files to the trash", "Mettre les fichiers supprimés à la corbeille"), general);
    rename_old_ = new QCheckBox(UiText("Keep the previous archive as a .old copy", "Garder l'archive précédente en copie .old"), general);
    grid->addWidget(bin_, 1, 0, 1, 3);
    grid->addWidget(rename_old_, 2, 0, 1, 3);
    layout->addWidget(general);
}

QString COptionsGeneral::Title() const { return UiText("General", "Général"); }

void COptionsGeneral::SetGroup(Group group, bool on) {
    for (QTreeWidgetItem* parent : {archives_, pictures_}) {
        if ((group == kArchives && parent != archives_) || (group == kPictures && parent != pictures_))
            continue;
        for (int i = 0; i < parent->childCount(); ++i)
            parent->child(i)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    }
}

QTreeWidgetItem* COptionsGeneral::TypeItem(const QString& extension) const {
    for (QTreeWidgetItem* parent : {archives_, pictures_})
        for (int i = 0; i < parent->childCount(); ++i)
            if (parent->child(i)->data(0, Qt::UserRole).toString() == extension) return parent->child(i);
    return nullptr;
}

QCheckBox* COptionsGeneral::ShellOption(const char* value) const {
    for (const auto& [name, box] : shell_options_)
        if (QString(name) == value) return box;
    return nullptr;
}

void COptionsGeneral::Load() {
    AppRegistry reg;
    for (QTreeWidgetItem* parent : {archives_, pictures_}) {
        const bool fallback = parent == archives_;
        for (int i = 0; i < parent->childCount(); ++i) {
            QTreeWidgetItem* item = parent->child(i);
            const bool on = reg.ReadInteger(kDataTypeKey, S(item->data(0, Qt::UserRole).toString()),
                                            fallback ? 1 : 0) != 0;
            item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
        }
    }
    for (size_t i = 0; i < shell_options_.size(); ++i)
        shell_options_[i].second->setChecked(
            reg.ReadBool(kShellExtKey, kShellOptions[i].value, kShellOptions[i].fallback));
    const HandlerOptions& options = LoadHandlerOptions();
    temp_->setText(Q(options.temporary_directory));
    bin_->setChecked(options.move_deleted_to_bin);
    rename_old_->setChecked(options.rename_old_file);
}

void COptionsGeneral::Store() {
    AppRegistry reg;
    for (QTreeWidgetItem* parent : {archives_, pictures_})
        for (int i = 0; i < parent->childCount(); ++i) {
            QTreeWidgetItem* item = parent->child(i);
            reg.WriteInteger(kDataTypeKey, S(item->data(0, Qt::UserRole).toString()),
                             item->checkState(0) == Qt::Checked ? 1 : 0);
        }
    for (const auto& [name, box] : shell_options_) reg.WriteBool(kShellExtKey, name, box->isChecked());
    HandlerOptions options = CurrentHandlerOptions();
    options.temporary_directory = S(temp_->text().trimmed());
    options.move_deleted_to_bin = bin_->isChecked();
    options.rename_old_file = rename_old_->isChecked();
    StoreHandlerOptions(options);
    // The desktop follows the new switches at once.
    const std::string program =
        CheckInstallation(StartSwitch::Debug, S(QCoreApplication::applicationFilePath())).program_path;
    RegisterFileTypes(true, program);
    RegisterContextMenu(true, program);
}

}  // namespace quorbel
