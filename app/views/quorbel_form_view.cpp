#include "app/views/quorbel_form_view.h"

#include "app/views/archive_list.h"

namespace quorbel {

CQuorbelFormView::CQuorbelFormView(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : QWidget(parent), handler_(handler), sink_(sink) {}

std::vector<int> CQuorbelFormView::SelectedEntries() {
    return List() ? List()->SelectedIndices() : std::vector<int>();
}

int CQuorbelFormView::FocusedEntry() { return List() ? List()->FocusedIndex() : -1; }
int CQuorbelFormView::ListedCount() { return List() ? List()->RowCount() : -1; }

void CQuorbelFormView::SelectAllItems() {
    if (List()) List()->SelectAll();
}

void CQuorbelFormView::InvertSelectionItems() {
    if (List()) List()->InvertSelection();
}

void CQuorbelFormView::ForwardListSignals(CArchiveList* list) {
    connect(list, &CArchiveList::selectionChanged, this, &CQuorbelFormView::selectionChanged);
    connect(list, &CArchiveList::entryActivated, this, &CQuorbelFormView::entryActivated);
}

}  // namespace quorbel
