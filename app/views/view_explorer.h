// The explorer view: the archive's folder tree on the left and the archive list of the chosen
// folder on the right, split by a 6-pixel bar whose position the user's settings remember.
#pragma once

#include <string>

#include "app/views/quorbel_form_view.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace quorbel {

class CArchiveList;

class CViewExplorer : public CQuorbelFormView {
    Q_OBJECT
public:
    static constexpr int kSplitterWidth = 6;
    static constexpr int kMinimumPane = 64;

    CViewExplorer(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent);

    int ViewType() const override { return 2; }
    // Rebuilds the tree from the handler, keeping the chosen folder when it still exists.
    void Refill() override;
    CArchiveList* List() override { return list_; }
    const FolderNode* SelectedFolder() const override;

    // Chooses the tree item of a folder path ("" the archive's root, a missing folder its
    // nearest parent); false when the tree is empty.
    bool SelectFolder(const std::string& path);
    QTreeWidget* Tree() const { return tree_; }

    // Left edge of the splitter bar in the current width.
    int SplitterPosition() const { return position_; }
    // Moves the bar as a drag does: clamped, laid out and written to the settings.
    void MoveSplitter(int position);
    // The stored position brought into the client width: at least 64, at most width - 64.
    static int ClampSplitter(int stored, int width);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class SplitterBar;

    void BuildTree();
    void LayOut();
    void FolderChosen(QTreeWidgetItem* item);

    QTreeWidget* tree_;
    SplitterBar* bar_;
    CArchiveList* list_;
    bool stored_read_ = false;
    int stored_ = -1;  // the remembered position; -1: none, a third of the width is used
    int position_ = 0;
    const FolderNode* listed_ = nullptr;  // valid until the handler changes
    std::string listed_path_;             // survives the handler's re-read
};

}  // namespace quorbel
