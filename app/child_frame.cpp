#include "app/child_frame.h"

#include <QVBoxLayout>

#include "app/views/quorbel_form_view.h"

namespace quorbel {

CChildFrame::CChildFrame(ProgressSink& sink, QWidget* parent)
    : QWidget(parent), doc_(std::make_unique<CQuorbelDoc>(sink)), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    doc_->SetFrame(this);
}

CChildFrame::~CChildFrame() {
    // The views read the handler, so they go before the document does.
    delete view_;
    view_ = nullptr;
}

void CChildFrame::ReplaceView(CQuorbelFormView* view) {
    CQuorbelFormView* old = view_;
    view_ = view;
    view->setParent(this);
    layout_->addWidget(view);
    connect(view, &CQuorbelFormView::selectionChanged, this, &CChildFrame::selectionChanged);
    connect(view, &CQuorbelFormView::entryActivated, this, &CChildFrame::entryActivated);
    view->Refill();
    view->show();
    view->setFocus();
    if (old) {
        layout_->removeWidget(old);
        delete old;
    }
    emit selectionChanged();
}

void CChildFrame::RefillView() {
    if (view_) view_->Refill();
    emit selectionChanged();
}

}  // namespace quorbel
