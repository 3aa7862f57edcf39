// The window of one archive inside the main frame: it holds the document and the one view the
// document shows, and passes the view's selection and activation on to the main frame.
#pragma once

#include <QWidget>
#include <memory>

#include "app/quorbel_doc.h"

class QVBoxLayout;

namespace quorbel {

class CQuorbelFormView;

class CChildFrame : public QWidget {
    Q_OBJECT
public:
    CChildFrame(ProgressSink& sink, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CQuorbelDoc& Doc() { return *doc_; }
    CQuorbelFormView* View() const { return view_; }

    // Puts `view` in place of the current one, which is destroyed.
    void ReplaceView(CQuorbelFormView* view);
    void RefillView();

signals:
    void selectionChanged();
    void entryActivated(int entry_index);

private:
    std::unique_ptr<CQuorbelDoc> doc_;
    CQuorbelFormView* view_ = nullptr;
    QVBoxLayout* layout_;
};

}  // namespace quorbel
