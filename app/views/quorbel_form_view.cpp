#include "app/views/quorbel_form_view.h"

#include "app/views/archive_list.h"

namespace quorbel {

CQuorbelFormView::CQuorbelFormView(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : QWidget(parent), handler_(handler), sink_(sink) {}

void CQuorbelFormView::ForwardListSignals(CArchiveList* list) {
    connect(list, &CArchiveList::selectionChanged, this, &CQuorbelFormView::selectionChanged);
    connect(list, &CArchiveList::entryActivated, this, &CQuorbelFormView::entryActivated);
}

}  // namespace quorbel
