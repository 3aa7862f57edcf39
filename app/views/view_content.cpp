#include "app/views/view_content.h"

#include <QVBoxLayout>

#include "app/views/archive_list.h"

namespace quorbel {

CViewContent::CViewContent(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : CQuorbelFormView(handler, sink, parent), list_(new CArchiveList(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    list_->SetSink(&sink);
    list_->InsertColumns();
    ForwardListSignals(list_);
    setFocusProxy(list_);
}

void CViewContent::Refill() {
    list_->Fill(Handler(), nullptr);
    list_->AutoSizeColumns();
}

}  // namespace quorbel
