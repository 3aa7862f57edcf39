// The main window: the archive windows in a multiple-document area, the navigation tree, the
// "Standard" toolbar, the message window and the status bar with the status line and the
// progress sink. It carries out the commands on the active archive.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/status_progress.h"

class QAction;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QPrinter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorbel {

class CChildFrame;
class CPictureViewer;
class FileChooser;
class UserPrompts;
class ArchiveHandler;
struct ArchiveEntry;

inline const QString kProgramTitle = QStringLiteral("Quorbel");

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(UserPrompts& prompts, FileChooser& files, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CStatusProgress& Progress() { return *progress_; }
    UserPrompts& Prompts() { return prompts_; }
    FileChooser& Files() { return files_; }

    // Opens a file as an archive in a new window (the open routine of the application); a file
    // no handler reads opens as a picture when the picture library reads it, else it is handed
    // to the desktop. Returns the new archive window, or nullptr.
    CChildFrame* OpenDocumentFile(const std::string& path, bool silent = false);
    // Shows a picture file in a viewer window of its own; nullptr when no codec reads it.
    CPictureViewer* OpenPictureFile(const std::string& path);
    CChildFrame* ActiveChild() const;
    std::vector<CChildFrame*> Children() const;
    void CloseChild(CChildFrame* child);

    // The commands. Each works on the active archive window; none does anything while an
    // operation runs.
    void NewArchive();
    void OpenArchives();
    void SaveAs();
    void AddFiles();
    void DeleteFiles();
    void RenameFile();
    void ChangePath();
    void EditNote();
    void ExtractFiles();
    void ViewFile();
    void OpenFile();
    void SelectAll();
    void InvertSelection();
    void Properties();
    void TestArchive();
    void Install();
    void Password();
    // Writes the active window's list in `kind` (ExportKind) to the file the user chooses, then
    // opens it: a text with the desktop's program, a page in the HTML viewer.
    void ExportList(int kind);
    // Printing the active window's list: the print dialog, the preview, the page setup. The
    // page setup is kept for the whole run.
    void PrintList();
    void PrintPreview();
    void PageSetup();
    QPrinter& Printer();
    void SendMail();
    void UuEncode();
    void Spanning();
    void Options();
    // The archive converter (works without an active archive).
    void ConvertArchives();
    void ScanFiles();
    void MakeSelfExtracting();
    void CheckOutArchive();

    // The choices of the scan and check-out dialogs, replaceable so that tests never wait for
    // a person. Apply-to: true = the selected files, false = all files, none = cancelled.
    using ApplyToChooser = std::function<std::optional<bool>(bool has_selection)>;
    // Check-out: the output folder and group name, given the presets; none = cancelled.
    using CheckOutChooser = std::function<std::optional<std::pair<std::string, std::string>>(
        const std::string& archive, const std::string& folder, const std::string& group)>;
    void SetApplyToChooser(ApplyToChooser chooser) { apply_to_ = std::move(chooser); }
    void SetCheckOutChooser(CheckOutChooser chooser) { checkout_chooser_ = std::move(chooser); }
    void ShowViewOfActive(int type);
    // Re-reads the toolbar and progress-bar settings of the "Interface" page.
    void ApplyInterfaceSettings();

    // The program's message window.
    void ShowMessages(const std::string& text);
    QString MessageText() const;
    // The archive window's status line, and what the status bar shows now (the line, a
    // command's tip in its place, or nothing while an operation shows its progress).
    QString StatusLineShown() const;
    QString StatusBarShown() const;
    // Shows a failure of an operation in a message box.
    void ShowError(const std::string& message);

    QAction* Command(const QString& name) const { return commands_.value(name); }
    QTreeWidget* NavigationTree() const { return tree_; }
    QToolBar* ToolBar() const { return toolbar_; }
    // Restores, raises and activates the window (a second instance handed over).
    void BringToFront();

signals:
    void documentOpened(CChildFrame* child);
    void pictureOpened(CPictureViewer* viewer);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QAction* AddCommand(const QString& name, const QString& text, const QString& tip,
                        const char* icon, void (CMainFrame::*slot)());
    void BuildCommands();
    void BuildMenus();
    void BuildToolBar();
    void BuildNavigation();
    void FillNavigation();
    void ExpandFolderItem(QTreeWidgetItem* item);
    void UpdateStatusLine();
    void ShowStatusText();
    // "Quorbel - [<archive>]" while an archive window is active, else "Quorbel".
    QString WantedTitle() const;
    void UpdateTitle();
    void UpdateCommands();
    void SetBusy(bool busy);
    void RefreshRecentMenu();
    void AfterChange(CChildFrame* child, int status);
    bool Busy() const;
    ArchiveHandler* ActiveHandler() const;
    std::vector<int> SelectedEntries() const;
    // The rows of the active window's list in their order (every file when it has no list).
    std::vector<const ArchiveEntry*> ListedRows(CChildFrame* child) const;
    // Prints the active list on `printer` through the one painting routine.
    bool PaintList(QPrinter& printer);
    int FocusedEntry() const;
    void ModifyFocused(const QString& title, int what);

    UserPrompts& prompts_;
    FileChooser& files_;
    QMdiArea* mdi_ = nullptr;
    CStatusProgress* progress_ = nullptr;
    QLabel* status_line_ = nullptr;
    QString status_line_text_;
    QString status_tip_;
    bool setting_title_ = false;
    QToolBar* toolbar_ = nullptr;
    QDockWidget* navigation_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QDockWidget* messages_dock_ = nullptr;
    QPlainTextEdit* messages_ = nullptr;
    QMenu* recent_menu_ = nullptr;
    QMenu* view_menu_ = nullptr;
    QMap<QString, QAction*> commands_;
    QList<QAction*> view_actions_;
    ApplyToChooser apply_to_;
    CheckOutChooser checkout_chooser_;
    bool scanner_available_ = false;
    std::unique_ptr<QPrinter> printer_;
};

}  // namespace quorbel
