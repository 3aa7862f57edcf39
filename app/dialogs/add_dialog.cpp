#include "app/dialogs/add_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialogs/option_panels.h"
#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

// One name as it is, several as "a" "b" (the way file dialogs show a multiple selection).
QString NamesText(const std::vector<std::string>& names) {
    if (names.size() == 1) return Q(names[0]);
    QStringList quoted;
    for (const std::string& name : names) quoted << "\"" + Q(name) + "\"";
    return quoted.join(' ');
}

std::vector<std::string> ParseNames(const QString& text) {
    if (!text.startsWith('"')) return {S(text)};
    std::vector<std::string> names;
    int at = 0;
    while ((at = text.indexOf('"', at)) >= 0) {
        const int end = text.indexOf('"', at + 1);
        if (end < 0) {
            names.push_back(S(text.mid(at + 1)));
            break;
        }
        if (end > at + 1) names.push_back(S(text.mid(at + 1, end - at - 1)));
        at = end + 1;
    }
    return names;
}

bool HasWildcard(const QString& text) { return text.contains('*') || text.contains('?'); }

}  // namespace

CAddDialog::CAddDialog(QWidget* parent, const std::string& password, ProgressSink* sink)
    : QDialog(parent), password_(password), sink_(sink ? sink : &SilentSink()),
      request_(LoadAddRequest()) {
    setWindowTitle(UiText("Add", "Ajouter"));
    auto* whole = new QHBoxLayout(this);

    auto* browser = new QVBoxLayout;
    auto* look_row = new QHBoxLayout;
    auto* look_label = new QLabel(UiText("Look &in :", "Regarder &dans :"), this);
    look_in_ = new QLineEdit(this);
    look_label->setBuddy(look_in_);
    auto* up = new QToolButton(this);
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip(UiText("Up One Level", "Dossier parent"));
    look_row->addWidget(look_label);
    look_row->addWidget(look_in_, 1);
    look_row->addWidget(up);
    browser->addLayout(look_row);

    files_ = new QFileSystemModel(this);
    files_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    files_->setNameFilterDisables(false);
    files_->setReadOnly(true);
    list_ = new QListView(this);
    list_->setModel(files_);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setViewMode(QListView::ListMode);
    list_->setFlow(QListView::TopToBottom);
    list_->setWrapping(true);
    list_->setResizeMode(QListView::Adjust);
    list_->setMinimumSize(420, 240);
    browser->addWidget(list_, 1);

    auto* form = new QFormLayout;
    name_ = new QLineEdit(this);
    type_ = new QComboBox(this);
    // The one filter of this dialog, "All Files (*.*)|*.*|".
    type_->addItem(UiText("All Files (*.*)", "Tous les fichiers (*.*)"), QStringLiteral("*.*"));
    form->addRow(UiText("File &name :", "&Nom de fichier :"), name_);
    form->addRow(UiText("Files of &type :", "&Type de fichiers :"), type_);
    browser->addLayout(form);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    browser->addWidget(problem_);
    whole->addLayout(browser, 1);

    auto* side = new QVBoxLayout;
    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    QPushButton* ok = buttons->addButton(UiText("&Add", "&Ajouter"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton(UiText("Cancel", "Annuler"), QDialogButtonBox::RejectRole);
    folder_button_ =
        buttons->addButton(UiText("Add &Folder", "Ajouter le &dossier"), QDialogButtonBox::ActionRole);
    side->addWidget(buttons);
    auto* group = new QGroupBox(UiText("Options", "Options"), this);
    auto* group_layout = new QVBoxLayout(group);
    options_ = new CAddOptionsPanel(group);
    options_->SetRequest(request_);
    group_layout->addWidget(options_);
    side->addWidget(group);
    side->addStretch(1);
    whole->addLayout(side);

    connect(buttons, &QDialogButtonBox::accepted, this, &CAddDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(folder_button_, &QPushButton::clicked, this, &CAddDialog::AddWholeFolder);
    connect(options_, &CAddOptionsPanel::changed, this, [this] { options_->ApplyTo(request_); });
    connect(up, &QToolButton::clicked, this, [this] {
        SetCurrentFolder(S(QDir(Q(folder_)).absoluteFilePath("..")));
    });
    connect(look_in_, &QLineEdit::returnPressed, this, [this] {
        SetCurrentFolder(MakeAbsolute(S(look_in_->text())));
    });
    connect(list_, &QListView::activated, this, [this](const QModelIndex& index) {
        if (files_->isDir(index))
            SetCurrentFolder(S(files_->filePath(index)));
        else
            accept();
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CAddDialog::SelectionChanged);

    const std::string start = AppRegistry().ReadText(layout::kFolders, layout::kAddPath);
    SetCurrentFolder(!start.empty() && IsFolder(start) ? start : S(QDir::homePath()));
}

void CAddDialog::SetCurrentFolder(const std::string& folder) {
    const std::string absolute = MakeAbsolute(folder);
    if (!IsFolder(absolute)) return;
    folder_ = absolute;
    look_in_->setText(Q(folder_));
    selecting_ = true;
    list_->setRootIndex(files_->setRootPath(Q(folder_)));
    list_->clearSelection();
    selecting_ = false;
    selected_names_.clear();
    selection_text_.clear();
}

void CAddDialog::SetSelectedNames(const std::vector<std::string>& names) {
    selecting_ = true;
    list_->clearSelection();
    for (const std::string& name : names) {
        const QModelIndex index = files_->index(Q(folder_ + "/" + name));
        if (index.isValid())
            list_->selectionModel()->select(index, QItemSelectionModel::Select);
    }
    selecting_ = false;
    selected_names_ = names;
    selection_text_ = NamesText(names);
    name_->setText(selection_text_);
}

void CAddDialog::SelectionChanged() {
    if (selecting_) return;
    QModelIndexList rows = list_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<std::string> names;
    for (const QModelIndex& index : rows)
        if (!files_->isDir(index)) names.push_back(S(files_->fileName(index)));
    if (names.empty()) return;  // only folders: the field keeps what was typed
    selected_names_ = names;
    selection_text_ = NamesText(names);
    name_->setText(selection_text_);
}

QString CAddDialog::Problem() const { return problem_->text(); }

void CAddDialog::accept() {
    problem_->clear();
    const QString text = name_->text().trimmed();
    if (text.isEmpty()) return;
    std::vector<std::string> names;
    if (text == selection_text_) {
        names = selected_names_;
    } else {
        names = ParseNames(text);
        if (names.empty()) return;
        if (names.size() == 1) {
            const std::string& name = names[0];
            const std::string path = name[0] == '/' ? name : folder_ + "/" + name;
            if (IsFolder(path)) {
                SetCurrentFolder(path);
                name_->clear();
                return;
            }
            if (HasWildcard(text)) {
                // A pattern narrows the list, as in any file dialog.
                files_->setNameFilters({text});
                return;
            }
            if (name[0] == '/') {
                SetCurrentFolder(FolderOfPath(path));
                names = {FileNameOfPath(path)};
            }
        }
    }
    for (const std::string& name : names) {
        const std::string path = folder_ + "/" + name;
        if (!FileExists(path) || IsFolder(path)) {
            problem_->setText(UiText("%1\nFile not found.", "%1\nFichier introuvable.").arg(Q(name)));
            return;
        }
    }
    AddChoice choice;
    choice.folder = folder_;
    choice.names = names;
    Finish(choice);
}

void CAddDialog::AddWholeFolder() {
    AddChoice choice;
    choice.folder = folder_;
    choice.folder_mode = true;
    const QString pattern = name_->text().trimmed();
    choice.pattern = pattern.isEmpty() ? "*.*" : S(pattern);
    Finish(choice);
}

void CAddDialog::Finish(const AddChoice& choice) {
    if (!CompleteAddRequest(request_, choice, password_, *sink_)) {
        reject();  // the user stopped the folder search
        return;
    }
    result_ = request_;
    QDialog::accept();
}

std::optional<AddRequest> ShowAddDialog(QWidget* parent, const std::string& password,
                                        ProgressSink* sink) {
    CAddDialog dialog(parent, password, sink);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Result();
}

}  // namespace quorbel
