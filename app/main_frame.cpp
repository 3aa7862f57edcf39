#include "app/main_frame.h"

#include "app/dialogs/checkout_dialog.h"
#include "app/ops/add_request.h"
#include "app/ops/checkout.h"
#include "app/ops/self_extractor.h"
#include "app/ops/virus_scan.h"
#include "formats/external/run_program.h"
#include "app/convert_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QMimeData>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPageSetupDialog>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStorageInfo>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <ctime>

#include "app/app_icons.h"
#include "app/list_printer.h"
#include "app/child_frame.h"
#include "app/dialog_prompts.h"
#include "app/dialogs/add_dialog.h"
#include "app/dialogs/extract_dialog.h"
#include "app/dialogs/password_dialog.h"
#include "app/options/quorbel_options.h"
#include "app/picture_viewer.h"
#include "app/recent_files.h"
#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "app/viewer_choice.h"
#include "app/views/archive_list.h"
#include "app/views/quorbel_form_view.h"
#include "app/views/status_line.h"
#include "app/ops/list_export.h"
#include "app/ops/list_layout.h"
#include "app/ops/member_path.h"
#include "app/ops/test_report.h"
#include "core/settings.h"
#include "core/status.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_span.h"
#include "formats/format_table.h"
#include "formats/uue_archive.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/shell.h"

namespace quorbel {

namespace {

enum Modify { kRename, kChangePath, kNote };

// Item data of the navigation tree.
constexpr int kPathRole = Qt::UserRole;
constexpr int kExpandedRole = Qt::UserRole + 1;

bool IsNetworkFileSystem(const QByteArray& type) {
    static const char* kNetwork[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs",
                                     "sshfs", "fuse.gvfsd-fuse", "9p", "afs"};
    for (const char* t : kNetwork)
        if (type == t) return true;
    return false;
}

}  // namespace

CMainFrame::CMainFrame(UserPrompts& prompts, FileChooser& files, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), files_(files) {
    setWindowTitle(kProgramTitle);
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);
    scanner_available_ = ScannerSettings::Load().Available();
    mdi_ = new QMdiArea(this);
    mdi_->setViewMode(QMdiArea::SubWindowView);
    setCentralWidget(mdi_);

    progress_ = new CStatusProgress(this);
    status_line_ = new QLabel(this);
    statusBar()->addWidget(status_line_, 1);
    statusBar()->addPermanentWidget(progress_);
    connect(progress_, &CStatusProgress::busyChanged, this, &CMainFrame::SetBusy);

    messages_dock_ = new QDockWidget(UiText("Messages", "Messages"), this);
    messages_dock_->setObjectName("Messages");
    messages_ = new QPlainTextEdit(messages_dock_);
    messages_->setReadOnly(true);
    messages_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Reports pad their columns with blanks; they line up only in a fixed-pitch font.
    messages_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    messages_dock_->setWidget(messages_);
    addDockWidget(Qt::BottomDockWidgetArea, messages_dock_);
    messages_dock_->hide();

    BuildCommands();
    BuildMenus();
    BuildToolBar();
    BuildNavigation();
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) {
        UpdateTitle();
        UpdateStatusLine();
        UpdateCommands();
    });
    UpdateCommands();
    resize(1000, 700);
}

CMainFrame::~CMainFrame() {
    // Closing the archive windows activates others; nothing of ours may answer that any more.
    disconnect(mdi_, nullptr, this, nullptr);
    disconnect(progress_, nullptr, this, nullptr);
    for (QMdiSubWindow* sub : mdi_->subWindowList()) delete sub;
}

// --- building the window ---

QAction* CMainFrame::AddCommand(const QString& name, const QString& text, const QString& tip,
                                const char* icon, void (CMainFrame::*slot)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    action->setToolTip(tip);
    action->setStatusTip(tip);
    if (icon) action->setIcon(ThemeIcon(icon));
    if (slot)
        connect(action, &QAction::triggered, this, [this, slot] {
            if (!Busy()) (this->*slot)();
        });
    commands_.insert(name, action);
    return action;
}

void CMainFrame::BuildCommands() {
    AddCommand("New", UiText("&New...", "&Nouveau..."), "Create a new zip file", "document-new",
               &CMainFrame::NewArchive)->setShortcut(QKeySequence::New);
    AddCommand("Open", UiText("&Open...", "&Ouvrir..."), "Open an existing archive",
               "document-open", &CMainFrame::OpenArchives)->setShortcut(QKeySequence::Open);
    AddCommand("Close", UiText("&Close", "&Fermer"), "Close the active archive", "document-close",
               nullptr);
    connect(commands_["Close"], &QAction::triggered, this, [this] {
        if (!Busy()) CloseChild(ActiveChild());
    });
    AddCommand("SaveAs", UiText("Save &As...", "&Enregistrer sous..."),
               "Save the active archive with a new name", "document-save-as", &CMainFrame::SaveAs);
    AddCommand("Add", UiText("&Add...", "&Ajouter..."), "Add files to current archive",
               "list-add", &CMainFrame::AddFiles);
    AddCommand("Delete", UiText("&Delete", "&Supprimer"), "Delete current selected files",
               "edit-delete", &CMainFrame::DeleteFiles)->setShortcut(QKeySequence::Delete);
    AddCommand("Rename", UiText("&Rename...", "&Renommer..."), "Rename current selected file",
               "edit-rename", &CMainFrame::RenameFile);
    AddCommand("ChangePath", UiText("Change &path...", "Changer le &chemin..."),
               "Change the path for the current selected file", "folder", &CMainFrame::ChangePath);
    AddCommand("Note", UiText("&Note...", "&Note..."),
               "Edit the comment of he current selected file", "document-edit",
               &CMainFrame::EditNote);
    AddCommand("Extract", UiText("E&xtract...", "E&xtraire..."), "Extract current selected files",
               "archive-extract", &CMainFrame::ExtractFiles);
    AddCommand("View", UiText("&View...", "&Visualiser..."), "View current selected file",
               "document-preview", &CMainFrame::ViewFile);
    AddCommand("OpenFile", UiText("Open &file", "Ouvrir le &fichier"), "Open the selected file",
               "document-open-data", &CMainFrame::OpenFile);
    AddCommand("SelectAll", UiText("Select &all", "&Tout sélectionner"), "Select all files",
               "edit-select-all", &CMainFrame::SelectAll)->setShortcut(QKeySequence::SelectAll);
    AddCommand("InvertSelection", UiText("&Invert selection", "&Inverser la sélection"),
               "Invert current selection", nullptr, &CMainFrame::InvertSelection);
    AddCommand("Properties", UiText("P&roperties", "P&ropriétés"),
               "Display details about the current selected file", "document-properties",
               &CMainFrame::Properties);
    AddCommand("Test", UiText("&Test", "&Tester"), "Test active archive", "tools-check-spelling",
               &CMainFrame::TestArchive);
    AddCommand("Install", UiText("&Install", "&Installer"), "Install the software in the archive",
               "system-software-install", &CMainFrame::Install);
    AddCommand("Password", UiText("&Password...", "&Mot de passe..."),
               "Specify a password for subsequence archive operations", "dialog-password",
               &CMainFrame::Password);
    AddCommand("ExportHTML", UiText("Export as &HTML...", "Exporter en &HTML..."),
               "Export the list of files into a formatted HTML file", nullptr, nullptr);
    AddCommand("ExportCSV", UiText("Export as &CSV...", "Exporter en &CSV..."),
               "Export the list of files into text file, each columns are separated by a comma",
               nullptr, nullptr);
    AddCommand("ExportTab", UiText("Export with &tabs...", "Exporter avec &tabulations..."),
               "Export the list of files into text file, each columns are separated by tabulations",
               nullptr, nullptr);
    AddCommand("ExportText", UiText("Export as te&xt...", "Exporter en te&xte..."),
               "Export the list of files into formatted text file", nullptr, nullptr);
    connect(commands_["ExportHTML"], &QAction::triggered, this,
            [this] { if (!Busy()) ExportList(int(ExportKind::Html)); });
    connect(commands_["ExportCSV"], &QAction::triggered, this,
            [this] { if (!Busy()) ExportList(int(ExportKind::Comma)); });
    connect(commands_["ExportTab"], &QAction::triggered, this,
            [this] { if (!Busy()) ExportList(int(ExportKind::Tab)); });
    connect(commands_["ExportText"], &QAction::triggered, this,
            [this] { if (!Busy()) ExportList(int(ExportKind::FormattedText)); });
    AddCommand("Print", UiText("&Print...", "&Imprimer..."),
               UiText("Print the list of files", "Imprimer la liste des fichiers"), "document-print",
               &CMainFrame::PrintList)->setShortcut(QKeySequence::Print);
    AddCommand("PrintPreview", UiText("Print Pre&view...", "&Aperçu avant impression..."),
               UiText("Show the printed list of files", "Afficher la liste imprimée des fichiers"),
               "document-print-preview", &CMainFrame::PrintPreview);
    AddCommand("PageSetup", UiText("Page Set&up...", "Mise en pa&ge..."),
               UiText("Change the printing options", "Modifier les options d'impression"), nullptr,
               &CMainFrame::PageSetup);
    AddCommand("Send", UiText("Sen&d...", "En&voyer..."),
               UiText("Send the active archive by mail", "Envoyer l'archive active par courrier"),
               "mail-send", &CMainFrame::SendMail);
    AddCommand("UUEncode", UiText("&UUEncode...", "&UUEncoder..."),
               "UUEncode the current archive...", nullptr, &CMainFrame::UuEncode);
    AddCommand("Spanning", UiText("S&panning...", "Multi-&disques..."),
               "Convert the current archive into a multiple-disk spanning one", "media-floppy",
               &CMainFrame::Spanning);
    AddCommand("Options", UiText("&Options...", "&Options..."), "Change settings",
               "preferences-system", &CMainFrame::Options);
    AddCommand("Scan", UiText("S&can...", "&Analyser..."), "Virus scan files", "security-high",
               &CMainFrame::ScanFiles);
    AddCommand("Make", UiText("&Make .exe...", "&Créer un .exe..."),
               "Convert the active archive into a self-extracting one", "application-x-executable",
               &CMainFrame::MakeSelfExtracting);
    AddCommand("Check", UiText("Chec&k out...", "Ex&traire pour essai..."),
               "Check out the active archive", nullptr, &CMainFrame::CheckOutArchive);
    AddCommand("Convert", UiText("Con&vert archives...", "Con&vertir des archives..."),
               UiText("Convert archives into another format", "Convertir des archives dans un autre format"),
               nullptr, &CMainFrame::ConvertArchives);

    struct ViewCommand { const char* name; int type; QString text; const char* tip; const char* icon; };
    const ViewCommand views[] = {
        {"Content", kViewContent, UiText("&Content", "&Contenu"),
         "Display all files in the active archive", "view-list-details"},
        {"Explorer", kViewExplorer, UiText("&Explorer", "&Explorateur"),
         "Display the hierarchy of the active archive", "view-list-tree"},
        {"Pictures", kViewPictures, UiText("&Pictures", "&Images"),
         "Display pictures contains in archive", "image-x-generic"},
        {"Search", kViewSearch, UiText("Sea&rch", "&Recherche"),
         "Search for a string in the active archive", "edit-find"},
        {"Statistics", kViewStatistics, UiText("&Statistics", "&Statistiques"),
         "Display the statistics for the active archive", "view-statistics"},
    };
    for (const ViewCommand& v : views) {
        QAction* a = AddCommand(v.name, v.text, v.tip, v.icon, nullptr);
        a->setCheckable(true);
        a->setData(v.type);
        const int type = v.type;
        connect(a, &QAction::triggered, this, [this, type] { if (!Busy()) ShowViewOfActive(type); });
        view_actions_ << a;
    }
}

void CMainFrame::BuildMenus() {
    QMenu* file = menuBar()->addMenu(UiText("&File", "&Fichier"));
    for (const char* n : {"New", "Open", "Close", "SaveAs"}) file->addAction(commands_[n]);
    file->addSeparator();
    for (const char* n : {"ExportHTML", "ExportCSV", "ExportTab", "ExportText", "Send"})
        file->addAction(commands_[n]);
    file->addSeparator();
    for (const char* n : {"Print", "PrintPreview", "PageSetup"}) file->addAction(commands_[n]);
    file->addSeparator();
    recent_menu_ = file->addMenu(UiText("Recent &files", "Fichiers &récents"));
    connect(recent_menu_, &QMenu::aboutToShow, this, &CMainFrame::RefreshRecentMenu);
    file->addSeparator();
    file->addAction(UiText("E&xit", "&Quitter"), this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(UiText("&Edit", "&Edition"));
    for (const char* n : {"SelectAll", "InvertSelection"}) edit->addAction(commands_[n]);

    QMenu* view = menuBar()->addMenu(UiText("&View", "&Affichage"));
    for (QAction* a : view_actions_) view->addAction(a);
    view->addSeparator();
    view_menu_ = view;

    QMenu* actions = menuBar()->addMenu(UiText("&Actions", "&Actions"));
    for (const char* n : {"Add", "Delete", "Rename", "ChangePath", "Note"}) actions->addAction(commands_[n]);
    actions->addSeparator();
    for (const char* n : {"Extract", "View", "OpenFile", "Properties"}) actions->addAction(commands_[n]);
    actions->addSeparator();
    for (const char* n : {"Test", "Install", "Password", "UUEncode", "Spanning"})
        actions->addAction(commands_[n]);
    actions->addSeparator();
    for (const char* n : {"Scan", "Make", "Check"}) actions->addAction(commands_[n]);

    QMenu* tools = menuBar()->addMenu(UiText("&Tools", "&Outils"));
    tools->addAction(commands_["Convert"]);
    tools->addAction(commands_["Options"]);

    QMenu* window = menuBar()->addMenu(UiText("&Window", "Fe&nêtre"));
    window->addAction(UiText("&Cascade", "&Cascade"), mdi_, &QMdiArea::cascadeSubWindows);
    window->addAction(UiText("&Tile", "&Mosaïque"), mdi_, &QMdiArea::tileSubWindows);
}

void CMainFrame::BuildToolBar() {
    toolbar_ = addToolBar("Standard");
    toolbar_->setObjectName("Standard");
    for (const char* n : {"New", "Open", "Add", "Extract", "View", "Delete", "Test"})
        toolbar_->addAction(commands_[n]);
    toolbar_->addSeparator();
    for (QAction* a : view_actions_) toolbar_->addAction(a);
    view_menu_->addAction(toolbar_->toggleViewAction());
    view_menu_->addAction(messages_dock_->toggleViewAction());
    ApplyInterfaceSettings();
}

void CMainFrame::ApplyInterfaceSettings() {
    RegistryAccess reg;
    const auto root = RegistryRoot::CurrentUser;
    const bool text = reg.ReadInteger(root, layout::kToolBarKey, "bText", 1) != 0;
    const bool tips = reg.ReadInteger(root, layout::kToolBarKey, "bToolTip", 1) != 0;
    toolbar_->setToolButtonStyle(text ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    // Tooltips stay on the actions (the status bar shows them too); the buttons drop them.
    for (QAction* a : toolbar_->actions())
        if (QWidget* button = toolbar_->widgetForAction(a)) button->setToolTip(tips ? a->toolTip() : QString());
    progress_->ReloadSettings();
}

void CMainFrame::BuildNavigation() {
    navigation_ = new QDockWidget(UiText("Explorer", "Explorateur"), this);
    navigation_->setObjectName("Navigation");
    tree_ = new QTreeWidget(navigation_);
    tree_->setHeaderHidden(true);
    navigation_->setWidget(tree_);
    addDockWidget(Qt::LeftDockWidgetArea, navigation_);
    QAction* toggle = navigation_->toggleViewAction();
    toggle->setToolTip("Show or hide Explorer tree");
    view_menu_->addAction(toggle);
    connect(tree_, &QTreeWidget::itemExpanded, this, &CMainFrame::ExpandFolderItem);
    connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) {
        const QString path = item->data(0, kPathRole).toString();
        if (path.isEmpty() || Busy()) return;
        if (QFileInfo(path).isDir()) {
            item->setExpanded(!item->isExpanded());
        } else if (path.endsWith(".htm", Qt::CaseInsensitive) ||
                   path.endsWith(".html", Qt::CaseInsensitive)) {
            if (!ShowHtmlViewer(S(path), this))
                ShowError(FormatText(StringById(text_id::kCannotFindFile).c_str(), S(path).c_str()));
        } else {
            OpenDocumentFile(S(path));
        }
    });
    FillNavigation();
}

namespace {

QTreeWidgetItem* FolderItem(QTreeWidgetItem* parent, const QString& label, const QString& path) {
    auto* item = new QTreeWidgetItem(parent, {label});
    item->setIcon(0, ThemeIcon("folder"));
    item->setData(0, kPathRole, path);
    item->setToolTip(0, path);
    // A placeholder child gives the item its expander until it is opened.
    new QTreeWidgetItem(item);
    return item;
}

}  // namespace

void CMainFrame::FillNavigation() {
    tree_->clear();
    auto* computer = new QTreeWidgetItem(tree_, {UiText("My Computer", "Poste de travail")});
    computer->setIcon(0, ThemeIcon("computer"));
    auto* network = new QTreeWidgetItem(tree_, {UiText("Network Neighborhood", "Voisinage réseau")});
    network->setIcon(0, ThemeIcon("network-workgroup"));
    FolderItem(computer, "/", "/");
    FolderItem(computer, UiText("Home", "Dossier personnel"), QDir::homePath());
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || volume.rootPath() == "/") continue;
        const QByteArray type = volume.fileSystemType();
        if (IsNetworkFileSystem(type)) {
            FolderItem(network, volume.rootPath(), volume.rootPath());
        } else if (volume.rootPath().startsWith("/media") || volume.rootPath().startsWith("/mnt") ||
                   volume.rootPath().startsWith("/run/media")) {
            FolderItem(computer, volume.displayName(), volume.rootPath());
        }
    }
    // The help topics installed beside the program.
    AppRegistry reg;
    const QString help_folder = Q(reg.ReadText(layout::kFolders, layout::kHelpPath,
                                               FolderOfPath(S(QCoreApplication::applicationFilePath())) +
                                                   "/help"));
    const QStringList topics =
        QDir(help_folder).entryList({"*.htm", "*.html"}, QDir::Files, QDir::Name);
    if (!topics.isEmpty()) {
        auto* help = new QTreeWidgetItem(tree_, {UiText("Help", "Aide")});
        help->setIcon(0, ThemeIcon("help-contents"));
        int number = 1;
        for (const QString& topic : topics) {
            auto* item = new QTreeWidgetItem(help, {QString::number(number++) + ". " + topic});
            item->setData(0, kPathRole, QDir(help_folder).filePath(topic));
        }
    }
    computer->setExpanded(true);
    network->setHidden(network->childCount() == 0 && false);
}

void CMainFrame::ExpandFolderItem(QTreeWidgetItem* item) {
    const QString path = item->data(0, kPathRole).toString();
    if (path.isEmpty() || item->data(0, kExpandedRole).toBool()) return;
    item->setData(0, kExpandedRole, true);
    qDeleteAll(item->takeChildren());
    const QDir dir(path);
    for (const QFileInfo& info :
         dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase))
        FolderItem(item, info.fileName(), info.filePath());
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        if (!IsArchiveFile(S(info.filePath()))) continue;
        auto* file = new QTreeWidgetItem(item, {info.fileName()});
        file->setIcon(0, QIcon::fromTheme(Q(MimeIconName(S(info.fileName()))),
                                          ThemeIcon("package-x-generic")));
        file->setData(0, kPathRole, info.filePath());
    }
}

// --- documents ---

CChildFrame* CMainFrame::ActiveChild() const {
    QMdiSubWindow* sub = mdi_->activeSubWindow();
    if (!sub && !mdi_->subWindowList().isEmpty()) sub = mdi_->subWindowList().last();
    return sub ? qobject_cast<CChildFrame*>(sub->widget()) : nullptr;
}

std::vector<CChildFrame*> CMainFrame::Children() const {
    std::vector<CChildFrame*> list;
    for (QMdiSubWindow* sub : mdi_->subWindowList())
        if (auto* child = qobject_cast<CChildFrame*>(sub->widget())) list.push_back(child);
    return list;
}

CChildFrame* CMainFrame::OpenDocumentFile(const std::string& path, bool silent) {
    if (!FileExists(path) || IsFolder(path) || Busy()) return nullptr;
    int status = 0;
    std::string message;
    std::unique_ptr<ArchiveHandler> handler = OpenArchiveFile(path, status, progress_, &message);
    if (status == kStatusAborted) return nullptr;
    if (!handler) {
        // Not an archive: a picture we read ourselves, else a page the desktop opens better
        // than we do.
        if (OpenPictureFile(path)) return nullptr;
        const bool known = IsKnownFile(path);
        if (!known && CurrentLauncher().OpenWithAssociatedProgram(path)) return nullptr;
        if (!silent) ShowError(message.empty() ? FormatText(StringById(text_id::kUnknownArchiveFormat).c_str(), path.c_str()) : message);
        return nullptr;
    }
    auto* child = new CChildFrame(*progress_);
    child->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow* sub = mdi_->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // The archive window carries the archive's name; the main title follows the active one.
    child->setWindowTitle(Q(handler->ArchivePath()));
    child->setWindowIcon(ThemeIcon("package-x-generic"));
    sub->setWindowTitle(child->windowTitle());
    connect(sub, &QWidget::windowTitleChanged, this, &CMainFrame::UpdateTitle);
    connect(sub, &QObject::destroyed, this, &CMainFrame::UpdateTitle, Qt::QueuedConnection);
    connect(child, &CChildFrame::selectionChanged, this, &CMainFrame::UpdateStatusLine);
    connect(child, &CChildFrame::entryActivated, this, [this](int) { if (!Busy()) OpenFile(); });
    sub->showMaximized();
    AddRecentFile(handler->ArchivePath());
    child->Doc().Attach(std::move(handler));
    mdi_->setActiveSubWindow(sub);
    UpdateCommands();
    UpdateStatusLine();
    emit documentOpened(child);
    return child;
}

CPictureViewer* CMainFrame::OpenPictureFile(const std::string& path) {
    CPictureViewer* viewer = ShowPictureViewer(path, progress_, this);
    if (viewer) emit pictureOpened(viewer);
    return viewer;
}

void CMainFrame::CloseChild(CChildFrame* child) {
    if (!child) return;
    if (!child->Doc().CanClose(prompts_)) return;
    for (QMdiSubWindow* sub : mdi_->subWindowList())
        if (sub->widget() == child) {
            sub->close();
            break;
        }
    UpdateTitle();
    UpdateCommands();
    UpdateStatusLine();
}

void CMainFrame::NewArchive() {
    auto path = ChooseSaveFile(files_, layout::kNewPath, StringById(text_id::kNewArchive),
                               StringById(text_id::kZipFilter), "ZIP");
    if (!path) return;
    auto zip = std::make_unique<ZipArchive>();
    zip->SetSink(progress_);
    if (zip->Create(*path) != kStatusOk) {
        ShowError(zip->LastMessage());
        return;
    }
    std::optional<AddRequest> request = ShowAddDialog(this, ProgramPassword());
    if (!request) {
        unlink(path->c_str());
        return;
    }
    if (zip->AddFiles(*request) != kStatusOk) {
        ShowError(zip->LastMessage());
        return;
    }
    const std::string created = zip->ArchivePath();
    zip.reset();
    OpenDocumentFile(created);
}

void CMainFrame::OpenArchives() {
    for (const std::string& path :
         ChooseOpenFiles(files_, layout::kOpenPath, UiText("Open Archive", "Ouvrir une archive").toStdString(),
                         StringById(text_id::kArchiveFilter), true))
        OpenDocumentFile(path);
}

void CMainFrame::SaveAs() {
    CChildFrame* child = ActiveChild();
    if (!child) return;
    auto target = ChooseSaveFile(files_, layout::kSaveAsPath, StringById(text_id::kSaveAs),
                                 StringById(text_id::kArchiveFilter), "",
                                 FileNameOfPath(child->Doc().Title()));
    if (!target) return;
    std::string message;
    const int status = child->Doc().SaveAs(*target, message);
    if (status == 0) ShowError(message);
}

// --- commands on the active archive ---

bool CMainFrame::Busy() const { return progress_->Depth() > 0; }

ArchiveHandler* CMainFrame::ActiveHandler() const {
    CChildFrame* child = ActiveChild();
    return child ? child->Doc().Handler() : nullptr;
}

std::vector<int> CMainFrame::SelectedEntries() const {
    CChildFrame* child = ActiveChild();
    if (!child || !child->View()) return {};
    return child->View()->SelectedEntries();
}

int CMainFrame::FocusedEntry() const {
    CChildFrame* child = ActiveChild();
    if (!child || !child->View()) return -1;
    return child->View()->FocusedEntry();
}

void CMainFrame::AfterChange(CChildFrame* child, int status) {
    if (status != kStatusOk && status != kStatusAborted) ShowError(child->Doc().Handler()->LastMessage());
    // Entry indices are new after every save.
    child->Doc().RefreshView();
    UpdateStatusLine();
}

void CMainFrame::AddFiles() {
    CChildFrame* child = ActiveChild();
    if (!child) return;
    std::optional<AddRequest> request = ShowAddDialog(this, ProgramPassword());
    if (!request) return;
    AfterChange(child, child->Doc().Handler()->AddFiles(*request));
}

void CMainFrame::DeleteFiles() {
    CChildFrame* child = ActiveChild();
    std::vector<int> selected = SelectedEntries();
    if (!child || selected.empty()) return;
    const std::string question =
        FormatText(StringById(text_id::kDeleteQuestion).c_str(), int(selected.size()));
    if (!prompts_.AskYesNo(question)) return;
    AfterChange(child, child->Doc().Handler()->DeleteEntries(std::move(selected), true));
}

void CMainFrame::ModifyFocused(const QString& title, int what) {
    CChildFrame* child = ActiveChild();
    const int index = FocusedEntry();
    if (!child || index < 0) return;
    ArchiveHandler& h = *child->Doc().Handler();
    const ArchiveEntry& e = h.Entry(size_t(index));
    const std::string name(e.NamePart());
    // Paths are shown with '/' and may be typed with '/' or '\'; the archive keeps '\'.
    std::string initial = what == kRename       ? name
                          : what == kChangePath ? DisplayPath(e.Folder())
                                                : e.comment;
    auto text = files_.AskText(S(title), DisplayPath(name), initial);
    if (!text) return;
    if (what != kNote) *text = StoredPath(*text);
    std::string comment = e.comment;
    int status = kStatusOk;
    if (what == kNote) {
        status = text->empty() ? h.ModifyEntry(index, "", nullptr) : h.ModifyEntry(index, "", &*text);
    } else {
        std::string full = what == kRename ? (e.Folder().empty() ? *text : std::string(e.Folder()) + "\\" + *text)
                                           : (text->empty() ? name : *text + "\\" + name);
        if (what == kRename && text->empty()) return;
        status = h.ModifyEntry(index, full, comment.empty() ? nullptr : &comment);
    }
    AfterChange(child, status);
}

void CMainFrame::RenameFile() { ModifyFocused(UiText("Rename", "Renommer"), kRename); }
void CMainFrame::ChangePath() { ModifyFocused(UiText("Change path", "Changer le chemin"), kChangePath); }
void CMainFrame::EditNote() { ModifyFocused(UiText("Note", "Note"), kNote); }

void CMainFrame::ExtractFiles() {
    CChildFrame* child = ActiveChild();
    if (!child) return;
    ArchiveHandler& h = *child->Doc().Handler();
    const std::vector<int> selected = SelectedEntries();
    std::optional<ExtractChoice> choice = ShowExtractDialog(this, h, selected, false);
    if (!choice) return;
    h.Extraction() = choice->options;
    h.ClearSkippedReport();
    int status = kStatusOk;
    if (choice->all) {
        status = h.ExtractAll(choice->destination, choice->options.use_folder_names, true);
    } else {
        ProgressScope scope(progress_);
        progress_->SetRange(0, int64_t(selected.size()));
        int64_t done = 0;
        for (int index : selected) {
            status = h.ExtractEntryAt(index, choice->destination, choice->options.use_folder_names,
                                      nullptr, true);
            if (status != kStatusOk) break;
            if (!progress_->SetPos(++done)) {
                status = kStatusAborted;
                break;
            }
        }
    }
    if (status != kStatusOk && status != kStatusAborted) ShowError(h.LastMessage());
    if (!h.SkippedReport().empty()) {
        std::string report;
        for (const std::string& line : h.SkippedReport()) report += line + "\n";
        ShowMessages(report);
    }
    if (status == kStatusOk && choice->options.open_output_folder)
        CurrentLauncher().OpenFolder(choice->destination);
}

void CMainFrame::ViewFile() {
    CChildFrame* child = ActiveChild();
    const int index = FocusedEntry();
    if (!child || index < 0) return;
    ArchiveHandler& h = *child->Doc().Handler();
    std::string path;
    if (h.ExtractEntryAt(index, "", true, &path, true) != kStatusOk) {
        ShowError(h.LastMessage());
        return;
    }
    CViewerChoice dialog(AssociatedProgramName(path), this);
    if (dialog.exec() != QDialog::Accepted) return;
    switch (dialog.Choice()) {
        case ViewerKind::Associated:
            if (!CurrentLauncher().OpenWithAssociatedProgram(path))
                ShowError(FormatText(MessageTemplate(kMsgCannotOpen).c_str(), path.c_str()));
            break;
        case ViewerKind::Ascii: {
            auto text = AsciiViewerText(path);
            if (!text) ShowError(FormatText(MessageTemplate(kMsgCannotOpen).c_str(), path.c_str()));
            else ShowMessages(*text);
            break;
        }
        case ViewerKind::Html:
            if (!ShowHtmlViewer(path, this))
                ShowError(FormatText(StringById(text_id::kCannotFindFile).c_str(), path.c_str()));
            break;
        case ViewerKind::Picture:
            if (!OpenPictureFile(path))
                ShowError(FormatText(StringById(text_id::kNotAnImage).c_str(), path.c_str()));
            break;
        case ViewerKind::Other:
            if (!CurrentLauncher().StartProgram({dialog.OtherProgram(), path}, ""))
                ShowError(FormatText(MessageTemplate(kMsgNoProgram).c_str(),
                                     dialog.OtherProgram().c_str()));
            break;
    }
}

void CMainFrame::OpenFile() {
    ArchiveHandler* h = ActiveHandler();
    const int index = FocusedEntry();
    if (!h || index < 0) return;
    if (h->ViewEntry(index) != kStatusOk) ShowError(h->LastMessage());
}

void CMainFrame::SelectAll() {
    CChildFrame* child = ActiveChild();
    if (child && child->View()) child->View()->SelectAllItems();
}

void CMainFrame::InvertSelection() {
    CChildFrame* child = ActiveChild();
    if (child && child->View()) child->View()->InvertSelectionItems();
}

void CMainFrame::Properties() {
    ArchiveHandler* h = ActiveHandler();
    const int index = FocusedEntry();
    if (!h || index < 0) return;
    const ArchiveEntry& e = h->Entry(size_t(index));
    auto line = [](const char* label, const std::string& value) {
        return std::string(label) + " : " + value + "\n";
    };
    std::string text = line(UiText("Name", "Nom").toUtf8().constData(), DisplayPath(e.full_name)) +
                       line(UiText("Size", "Taille").toUtf8().constData(), e.SizeText()) +
                       line(UiText("Packed", "Compressé").toUtf8().constData(), e.PackedText()) +
                       line(UiText("Ratio", "Taux").toUtf8().constData(), e.RatioText()) +
                       line(UiText("Modified", "Modifié").toUtf8().constData(), e.LongDateText()) +
                       line("CRC", e.CrcText()) +
                       line(UiText("Attributes", "Attributs").toUtf8().constData(), e.AttributeText()) +
                       line(UiText("Type", "Type").toUtf8().constData(), e.TypeText());
    if (!e.comment.empty()) text += line(UiText("Note", "Note").toUtf8().constData(), e.comment);
    QMessageBox::information(this, UiText("Properties", "Propriétés"), Q(text));
}

void CMainFrame::TestArchive() {
    ArchiveHandler* h = ActiveHandler();
    if (!h) return;
    ShowMessages(RunTest(*h, std::time(nullptr)).text);
}

void CMainFrame::Install() {
    CChildFrame* child = ActiveChild();
    if (!child || !child->View() || !child->View()->List()) return;
    ArchiveHandler& h = *child->Doc().Handler();
    CArchiveList* list = child->View()->List();
    int installer = -1;
    if (list->SetupCount() == 1) installer = list->FirstSetupIndex();
    else if (list->SetupCount() > 1) {
        installer = list->FocusedIndex();
        if (installer >= 0 && !h.Entry(size_t(installer)).is_setup) installer = -1;
    }
    if (installer < 0) return;
    const ArchiveEntry& setup = h.Entry(size_t(installer));
    int status = kStatusOk;
    if (!setup.Folder().empty()) {
        const FolderNode* node = h.LookupFolder(std::string(setup.Folder()), false);
        status = node ? h.ExtractTree(node, h.WorkFolder()) : kStatusFailed;
    } else {
        for (size_t i = 0; i < h.EntryCount() && status == kStatusOk; ++i)
            if (h.Entry(i).is_file) status = h.ExtractEntryAt(int(i), h.WorkFolder(), true, nullptr, true);
    }
    if (status != kStatusOk) {
        ShowError(h.LastMessage());
        return;
    }
    std::string program = h.WorkFolder() + "/" + setup.full_name;
    std::replace(program.begin(), program.end(), '\\', '/');
    progress_->Begin();
    progress_->SetText(FormatText(StringById(61523).c_str(), FileNameOfPath(program).c_str()));
    // A Windows installer runs through wine when it is there; otherwise the user is told.
    if (!CurrentLauncher().StartProgram({"wine", program}, FolderOfPath(program)))
        ShowError(FormatText(MessageTemplate(kMsgNoProgram).c_str(), program.c_str()));
    progress_->End(0);
}

void CMainFrame::Password() {
    ShowPasswordDialog(this);
    UpdateCommands();
}

std::vector<const ArchiveEntry*> CMainFrame::ListedRows(CChildFrame* child) const {
    std::vector<const ArchiveEntry*> rows;
    ArchiveHandler& h = *child->Doc().Handler();
    CArchiveList* list = child->View() ? child->View()->List() : nullptr;
    if (list) {
        for (int row = 0; row < list->RowCount(); ++row)
            rows.push_back(&h.Entry(size_t(list->Model()->EntryAt(row))));
    } else {
        for (const ArchiveEntry& e : h.Entries())
            if (e.allocated && e.is_file) rows.push_back(&e);
    }
    return rows;
}

void CMainFrame::ExportList(int kind) {
    CChildFrame* child = ActiveChild();
    if (!child) return;
    ArchiveHandler& h = *child->Doc().Handler();
    const ExportKind what = ExportKind(kind);
    const int filter = what == ExportKind::Html    ? text_id::kHtmlFilter
                       : what == ExportKind::Comma ? text_id::kCsvFilter
                                                   : text_id::kTextFilter;
    const std::string proposed = ProposedExportName(h.ArchivePath(), what);
    auto target = files_.SaveFile(StringById(text_id::kExportTitle), StringById(filter),
                                  proposed.substr(proposed.rfind('.') + 1), proposed);
    if (!target) return;
    HtmlExportInfo html;
    html.title = h.ArchivePath();
    CArchiveList* list = child->View() ? child->View()->List() : nullptr;
    if (list) {
        // The page's columns share its width as the list's columns share the screen.
        html.widths.resize(kColumnCount);
        for (int c = 0; c < kColumnCount; ++c)
            html.widths[size_t(c)] = list->isColumnHidden(c) ? 0 : list->columnWidth(c);
    }
    const int status =
        ExportListToFile(*target, ListedRows(child), LoadColumnSwitches(), what, *progress_, &html);
    if (status == kStatusCannotCreate) {
        ShowError(FormatText(MessageTemplate(kMsgCannotCreate).c_str(), target->c_str()));
        return;
    }
    if (status != kStatusOk) return;
    if (what == ExportKind::Html) {
        if (!ShowHtmlViewer(*target, this))
            ShowError(FormatText(StringById(text_id::kCannotFindFile).c_str(), target->c_str()));
    } else if (!CurrentLauncher().OpenWithAssociatedProgram(*target)) {
        ShowError(FormatText(MessageTemplate(kMsgCannotOpen).c_str(), target->c_str()));
    }
}

QPrinter& CMainFrame::Printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        // The margins are the layout's own, measured from the paper's edge.
        printer_->setFullPage(true);
    }
    return *printer_;
}

bool CMainFrame::PaintList(QPrinter& printer) {
    CChildFrame* child = ActiveChild();
    if (!child) return false;
    ListPrinter list(LoadListPrintLayout(), ListedRows(child), child->Doc().Title(), std::time(nullptr));
    return list.Print(printer, *progress_);
}

void CMainFrame::PrintList() {
    if (!ActiveChild()) return;
    QPrintDialog dialog(&Printer(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    PaintList(Printer());
}

void CMainFrame::PrintPreview() {
    if (!ActiveChild()) return;
    QPrintPreviewDialog dialog(&Printer(), this);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { PaintList(*p); });
    dialog.exec();
}

void CMainFrame::PageSetup() {
    QPrinter& printer = Printer();
    if (printer.outputFormat() == QPrinter::NativeFormat) {
        QPageSetupDialog dialog(&printer, this);
        dialog.exec();
        return;
    }
    // Without a print system the printer writes PDF files, which Qt's page setup refuses: the
    // paper and its orientation are chosen here instead.
    QDialog dialog(this);
    dialog.setWindowTitle(UiText("Page Setup", "Mise en page"));
    auto* form = new QFormLayout(&dialog);
    auto* paper = new QComboBox(&dialog);
    paper->setObjectName("Paper");
    for (auto id : {QPageSize::A4, QPageSize::Letter, QPageSize::Legal, QPageSize::A3, QPageSize::A5}) {
        paper->addItem(QPageSize::name(id), int(id));
        if (printer.pageLayout().pageSize().id() == id) paper->setCurrentIndex(paper->count() - 1);
    }
    auto* orientation = new QComboBox(&dialog);
    orientation->setObjectName("Orientation");
    orientation->addItem(UiText("Portrait", "Portrait"), int(QPageLayout::Portrait));
    orientation->addItem(UiText("Landscape", "Paysage"), int(QPageLayout::Landscape));
    orientation->setCurrentIndex(printer.pageLayout().orientation() == QPageLayout::Landscape ? 1 : 0);
    form->addRow(UiText("Paper :", "Papier :"), paper);
    form->addRow(UiText("Orientation :", "Orientation :"), orientation);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    printer.setPageSize(QPageSize(QPageSize::PageSizeId(paper->currentData().toInt())));
    printer.setPageOrientation(QPageLayout::Orientation(orientation->currentData().toInt()));
}

void CMainFrame::SendMail() {
    ArchiveHandler* h = ActiveHandler();
    if (!h) return;
    if (!CurrentLauncher().SendMail(h->ArchivePath()))
        ShowError(FormatText(MessageTemplate(kMsgNoProgram).c_str(), "xdg-email"));
}

void CMainFrame::UuEncode() {
    ArchiveHandler* h = ActiveHandler();
    if (!h) return;
    auto target = files_.SaveFile(UiText("UUEncode", "UUEncoder").toStdString(),
                                  StringById(text_id::kUueFilter), "uue", UueTargetFor(h->ArchivePath()));
    if (!target) return;
    std::string message;
    const bool ok = EncodeArchiveAsUue(h->ArchivePath(), *target, progress_, message);
    if (ok) prompts_.ShowMessage(message);
    else ShowError(message);
}

void CMainFrame::Spanning() {
    CChildFrame* child = ActiveChild();
    if (!child) return;
    ArchiveHandler& h = *child->Doc().Handler();
    auto target = files_.SaveFile(UiText("Spanning", "Multi-disques").toStdString(),
                                  StringById(text_id::kZipFilter), "zip",
                                  FileNameOfPath(h.ArchivePath()));
    if (!target) return;
    int64_t volume_size = 0;
    if (!IsRemovable(*target)) {
        // A fixed folder has no disks to fill: the user gives the size of each part.
        auto size = files_.AskText(
            UiText("Spanning", "Multi-disques").toStdString(),
            UiText("Size of each disk (bytes, at least 65536):",
                   "Taille de chaque disque (octets, au moins 65536) :").toStdString(),
            "1457664");
        if (!size) return;
        char* end = nullptr;
        volume_size = std::strtoll(size->c_str(), &end, 10);
        if (size->empty() || *end != 0 || uint64_t(volume_size) < zip::kMinVolumeSize) {
            ShowError(StringById(text_id::kSpanNeedsRemovable));
            return;
        }
    }
    const int status = zip::SpanArchive(h, *target, volume_size);
    if (status != kStatusOk && status != kStatusAborted) ShowError(h.LastMessage());
    child->Doc().RefreshView();
    UpdateCommands();
}

void CMainFrame::Options() {
    CQuorbelOptions sheet(this);
    AddStandardPages(sheet);
    // Apply may have stored a scanner even when the sheet is then cancelled.
    const bool accepted = sheet.exec() == QDialog::Accepted;
    scanner_available_ = ScannerSettings::Load().Available();
    UpdateCommands();
    if (!accepted) return;
    ApplyInterfaceSettings();
    for (CChildFrame* child : Children())
        if (child->View() && child->View()->List()) child->View()->List()->ReloadRowColors();
}

void CMainFrame::ScanFiles() {
    ArchiveHandler* h = ActiveHandler();
    if (!h || Busy()) return;
    const std::vector<int> selected = SelectedEntries();
    std::optional<bool> only_selected;
    if (apply_to_) {
        only_selected = apply_to_(!selected.empty());
    } else {
        QMessageBox box(QMessageBox::Question, UiText("Scan", "Analyser"),
                        UiText("Apply to:", "Appliquer à :"), QMessageBox::Cancel, this);
        QPushButton* all = box.addButton(UiText("&All files", "&Tous les fichiers"), QMessageBox::AcceptRole);
        QPushButton* some = box.addButton(UiText("&Selected files", "Fichiers &sélectionnés"),
                                          QMessageBox::AcceptRole);
        some->setEnabled(!selected.empty());
        box.setDefaultButton(selected.empty() ? all : some);
        box.exec();
        if (box.clickedButton() == all) only_selected = false;
        else if (box.clickedButton() == some) only_selected = true;
    }
    if (!only_selected) return;
    ScanResult result = ScanForViruses(*h, *only_selected ? selected : std::vector<int>(),
                                       ScannerSettings::Load(), *progress_);
    if (result.verdict == ScanResult::Verdict::Cancelled) return;
    ShowMessages(result.output + (result.output.empty() || result.output.back() == '\n' ? "" : "\n") +
                 result.message);
    if (result.verdict == ScanResult::Verdict::Clean || result.verdict == ScanResult::Verdict::Completed)
        prompts_.ShowMessage(result.message);
    else
        ShowError(result.message);
}

void CMainFrame::MakeSelfExtracting() {
    ArchiveHandler* h = ActiveHandler();
    if (!h || Busy() || !h->CanMakeSfx()) return;
    SfxCallbacks callbacks;
    callbacks.choose_output = [this](const std::string& proposal) {
        return files_.SaveFile("Create .exe", SelfExtractorFilter(), kSelfExtractorExtension + 1, proposal);
    };
    callbacks.run_program = [this](const std::string& program, const std::string& archive) {
        ProgramRequest request;
        request.program = program;
        request.arguments = {IsMzProgram(program) ? WindowsPath(archive) : archive};
        request.sink = progress_;
        ProgramResult run = RunProgram(request);
        if (run.outcome == ProgramResult::Outcome::kNotStarted) return -1;
        if (!run.output.empty()) ShowMessages(run.output);
        return run.outcome == ProgramResult::Outcome::kExited ? run.exit_status : 128 + run.signal_number;
    };
    std::string message;
    SfxOutcome outcome = MakeSelfExtractor(*h, "", callbacks, message);
    if (outcome == SfxOutcome::Created) prompts_.ShowMessage(message);
    else if (outcome == SfxOutcome::Failed) ShowError(message);
    UpdateCommands();
}

void CMainFrame::CheckOutArchive() {
    CChildFrame* child = ActiveChild();
    if (!child || Busy()) return;
    ArchiveHandler& h = *child->Doc().Handler();
    std::string folder = DefaultCheckOutFolder(h.ArchivePath());
    std::string group = DefaultGroupName(h.ArchivePath());
    // The dialog stays until the values are usable or the user cancels.
    for (;;) {
        std::optional<std::pair<std::string, std::string>> chosen;
        if (checkout_chooser_) {
            chosen = checkout_chooser_(h.ArchivePath(), folder, group);
        } else {
            CCheckOutDialog dialog(prompts_, h.ArchivePath(), this);
            dialog.SetValues(folder, group);
            if (dialog.exec() == QDialog::Accepted) chosen.emplace(dialog.Folder(), dialog.Group());
        }
        if (!chosen) return;
        folder = MakeAbsolute(chosen->first);
        group = chosen->second;
        if (!ValidGroupName(group)) {
            ShowError("\"" + group + "\" cannot be a menu group name.");
            continue;
        }
        if (IsFolder(folder) &&
            !prompts_.AskYesNo(FormatText(StringById(text_id::kCheckOutFolderExists).c_str(), folder.c_str())))
            continue;
        break;
    }
    CheckOutResult result = CheckOut(h, folder, group, &CurrentLauncher());
    child->Doc().checkout = result.record;
    if (result.status != kStatusOk && result.status != kStatusAborted) ShowError(result.message);
    UpdateCommands();
}

void CMainFrame::ConvertArchives() {
    if (Busy()) return;
    ConvertDialog dialog(prompts_, files_, *progress_, [this](const std::string& report) { ShowMessages(report); },
                         this);
    if (CChildFrame* child = ActiveChild()) dialog.AddArchive(child->Doc().Handler()->ArchivePath());
    dialog.exec();
    UpdateCommands();
}

void CMainFrame::ShowViewOfActive(int type) {
    CChildFrame* child = ActiveChild();
    if (child) child->Doc().ShowView(type);
    UpdateCommands();
    UpdateStatusLine();
}

// --- status and state ---

void CMainFrame::ShowMessages(const std::string& text) {
    messages_->setPlainText(Q(text));
    messages_dock_->show();
}

QString CMainFrame::MessageText() const { return messages_->toPlainText(); }
QString CMainFrame::StatusLineShown() const { return status_line_text_; }
QString CMainFrame::StatusBarShown() const {
    return status_line_->isVisible() ? status_line_->text() : QString();
}

QString CMainFrame::WantedTitle() const {
    if (!mdi_) return kProgramTitle;  // still being built
    // The current window stays current while a dialog or another program has the focus.
    // A window being closed is hidden before it goes.
    QMdiSubWindow* sub = mdi_->currentSubWindow();
    if (sub && sub->isHidden()) sub = nullptr;
    const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
    for (auto it = windows.rbegin(); !sub && it != windows.rend(); ++it)
        if (!(*it)->isHidden()) sub = *it;
    if (!sub || sub->windowTitle().isEmpty()) return kProgramTitle;
    return QString("%1 - [%2]").arg(kProgramTitle, sub->windowTitle());
}

void CMainFrame::UpdateTitle() {
    const QString wanted = WantedTitle();
    if (windowTitle() == wanted) return;
    setting_title_ = true;
    setWindowTitle(wanted);
    setting_title_ = false;
}

void CMainFrame::ShowStatusText() {
    if (!status_line_) return;
    status_line_->setText(status_tip_.isEmpty() ? status_line_text_ : status_tip_);
}

void CMainFrame::ShowError(const std::string& message) {
    if (!message.empty()) prompts_.ShowMessage(message);
}

void CMainFrame::UpdateStatusLine() {
    CChildFrame* child = ActiveChild();
    if (!child || !child->Doc().Handler()) {
        status_line_text_.clear();
    } else {
        const int shown = child->View() ? child->View()->ListedCount() : -1;
        const int listed = shown >= 0 ? shown : child->Doc().Handler()->FileCount();
        status_line_text_ = Q(StatusLineText(*child->Doc().Handler(), SelectedEntries(), listed));
    }
    ShowStatusText();
}

void CMainFrame::UpdateCommands() {
    CChildFrame* child = ActiveChild();
    ArchiveHandler* h = child ? child->Doc().Handler() : nullptr;
    const bool busy = Busy();
    for (QAction* a : commands_)
        a->setEnabled(!busy && (h || a->objectName() == "New" || a->objectName() == "Open" ||
                                a->objectName() == "Options" || a->objectName() == "Password" ||
                                a->objectName() == "Convert"));
    if (h) {
        // Adding and deleting are offered by formats that cannot rename (the archivers').
        for (const char* n : {"Add", "Delete"}) commands_[n]->setEnabled(!busy && h->CanUpdate());
        for (const char* n : {"Rename", "ChangePath", "Note"})
            commands_[n]->setEnabled(!busy && h->CanEdit());
        for (const char* n : {"Extract", "View", "OpenFile", "Install", "Test"})
            commands_[n]->setEnabled(!busy && h->CanExtract());
        commands_["Spanning"]->setEnabled(!busy && h->CanSpan());
        commands_["Scan"]->setEnabled(!busy && h->CanExtract() && scanner_available_);
        commands_["Make"]->setEnabled(!busy && h->CanMakeSfx());
        commands_["Check"]->setEnabled(!busy && h->CanExtract());
    }
    commands_["Password"]->setToolTip(HasProgramPassword()
                                          ? "Stop using a password for adding operations"
                                          : "Specify a password for subsequence archive operations");
    const int type = child ? child->Doc().CurrentViewType() : 0;
    for (QAction* a : view_actions_) a->setChecked(a->data().toInt() == type);
}

void CMainFrame::SetBusy(bool busy) {
    menuBar()->setEnabled(!busy);
    if (toolbar_) toolbar_->setEnabled(!busy);
    mdi_->setEnabled(!busy);
    if (navigation_) navigation_->setEnabled(!busy);
    status_line_->setVisible(!busy);
    UpdateCommands();
}

void CMainFrame::RefreshRecentMenu() {
    recent_menu_->clear();
    int number = 1;
    for (const std::string& path : LoadRecentFiles()) {
        QAction* a = recent_menu_->addAction(QString("&%1 %2").arg(number++).arg(Q(path)));
        connect(a, &QAction::triggered, this, [this, path] { OpenDocumentFile(path); });
    }
}

void CMainFrame::BringToFront() {
    if (isMinimized()) {
        showNormal();
    } else {
        setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
        show();
        setWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
        show();
    }
    raise();
    activateWindow();
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // A command's tip takes the status line's place and gives it back when the pointer
        // leaves. QMainWindow would paint it as a status-bar message over the line instead.
        status_tip_ = static_cast<QStatusTipEvent*>(event)->tip();
        ShowStatusText();
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A maximised archive window adds its own title to ours; the title names it once.
    if (event->type() == QEvent::WindowTitleChange && !setting_title_) UpdateTitle();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) OpenDocumentFile(S(url.toLocalFile()));
    event->acceptProposedAction();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        // The operation unwinds first; the window closes when asked again.
        progress_->RequestCancel();
        event->ignore();
        return;
    }
    for (CChildFrame* child : Children())
        if (!child->Doc().CanClose(prompts_)) {
            event->ignore();
            return;
        }
    mdi_->closeAllSubWindows();
    event->accept();
}

}  // namespace quorbel
