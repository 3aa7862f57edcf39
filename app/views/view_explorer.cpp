#include "app/views/view_explorer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

#include "app/ui_text.h"
#include "app/views/archive_list.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

constexpr const char* kExplorerKey = "Options\\views\\explorer";
constexpr const char* kTrackedPos = "TrackedPos";
constexpr int kNodeRole = Qt::UserRole + 1;

const FolderNode* NodeOf(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<const FolderNode*>(item->data(0, kNodeRole).value<quintptr>())
                : nullptr;
}

}  // namespace

// The bar between the panes: it reports every drag position to the view.
class CViewExplorer::SplitterBar : public QWidget {
public:
    explicit SplitterBar(CViewExplorer* view) : QWidget(view), view_(view) {
        setCursor(Qt::SplitHCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) grab_ = event->position().toPoint().x();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (grab_ < 0 || !(event->buttons() & Qt::LeftButton)) return;
        const int x = mapToParent(event->position().toPoint()).x() - grab_;
        view_->MoveSplitter(x);
    }
    void mouseReleaseEvent(QMouseEvent*) override { grab_ = -1; }

private:
    CViewExplorer* view_;
    int grab_ = -1;
};

CViewExplorer::CViewExplorer(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : CQuorbelFormView(handler, sink, parent),
      tree_(new QTreeWidget(this)),
      bar_(new SplitterBar(this)),
      list_(new CArchiveList(this)) {
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->SetSink(&sink);
    list_->InsertColumns();
    ForwardListSignals(list_);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { FolderChosen(current); });
}

int CViewExplorer::ClampSplitter(int stored, int width) {
    int p = stored;
    if (p < kMinimumPane) p = kMinimumPane;
    if (p > width - kMinimumPane) p = width - kMinimumPane;
    return p;
}

void CViewExplorer::LayOut() {
    const int w = width();
    if (!stored_read_) {
        stored_ = int(AppRegistry().ReadInteger(kExplorerKey, kTrackedPos, -1));
        stored_read_ = true;
    }
    // Without a stored position the default follows the width until the user drags, since
    // the first sizes a view gets while it is being put in its frame are provisional.
    position_ = ClampSplitter(stored_ >= 0 ? stored_ : w / 3, w);
    // A window narrower than both minimum panes still gets non-negative geometry.
    const int p = std::max(0, position_);
    const int h = height();
    tree_->setGeometry(0, 0, p, h);
    bar_->setGeometry(p, 0, kSplitterWidth, h);
    list_->setGeometry(p + kSplitterWidth, 0, std::max(0, w - p - kSplitterWidth), h);
}

void CViewExplorer::MoveSplitter(int position) {
    stored_read_ = true;
    stored_ = ClampSplitter(position, width());
    LayOut();
    AppRegistry().WriteInteger(kExplorerKey, kTrackedPos, stored_);
}

void CViewExplorer::resizeEvent(QResizeEvent* event) {
    CQuorbelFormView::resizeEvent(event);
    LayOut();
}

void CViewExplorer::showEvent(QShowEvent* event) {
    CQuorbelFormView::showEvent(event);
    LayOut();
}

void CViewExplorer::BuildTree() {
    const ArchiveHandler& handler = Handler();
    const QIcon folder_icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    std::function<void(QTreeWidgetItem*, const FolderNode&)> add_children =
        [&](QTreeWidgetItem* parent, const FolderNode& node) {
            for (const auto& child : node.children) {
                auto* item = new QTreeWidgetItem(parent, QStringList(Q(child->name)));
                item->setIcon(0, folder_icon);
                item->setData(0, kNodeRole, QVariant::fromValue(quintptr(child.get())));
                add_children(item, *child);
            }
        };
    tree_->clear();
    std::string name = handler.Info().file_name;
    if (name.empty()) {
        const std::string& path = handler.ArchivePath();
        const size_t slash = path.find_last_of('/');
        name = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    auto* root = new QTreeWidgetItem(QStringList(Q(name)));
    root->setIcon(0, folder_icon);
    root->setData(0, kNodeRole, QVariant::fromValue(quintptr(&handler.Root())));
    tree_->addTopLevelItem(root);
    add_children(root, handler.Root());
    root->setExpanded(true);
}

void CViewExplorer::Refill() {
    const std::string path = listed_path_;
    listed_ = nullptr;
    {
        // Building the tree moves the current item; the list is filled once, below.
        const QSignalBlocker block(tree_);
        BuildTree();
    }
    if (!SelectFolder(path)) SelectFolder("");
}

bool CViewExplorer::SelectFolder(const std::string& path) {
    QTreeWidgetItem* item = tree_->topLevelItem(0);
    if (!item) return false;
    // A folder that is gone resolves to its nearest remaining parent.
    const FolderNode* target = Handler().LookupFolder(path, false);
    if (!target) return false;
    // Walk down from the root: the tree mirrors the handler's nodes one to one.
    std::vector<const FolderNode*> chain;
    for (const FolderNode* n = target; n && n->parent; n = n->parent) chain.push_back(n);
    for (auto it = chain.rbegin(); it != chain.rend() && item; ++it) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (NodeOf(item->child(i)) == *it) next = item->child(i);
        item = next;
    }
    if (!item) return false;
    if (tree_->currentItem() == item)
        FolderChosen(item);
    else
        tree_->setCurrentItem(item);
    return true;
}

void CViewExplorer::FolderChosen(QTreeWidgetItem* item) {
    const FolderNode* node = NodeOf(item);
    if (!node) return;
    listed_ = node;
    listed_path_ = Handler().FolderPathOf(node);
    list_->Fill(Handler(), node);
    list_->AutoSizeColumns();
    emit selectionChanged();
}

const FolderNode* CViewExplorer::SelectedFolder() const { return listed_; }

}  // namespace quorbel
