// The statistics view: the archive file's properties as a read-only text.
#pragma once

#include "app/views/quorbel_form_view.h"

class QPlainTextEdit;

namespace quorbel {

class CViewStat : public CQuorbelFormView {
    Q_OBJECT
public:
    CViewStat(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent);

    int ViewType() const override { return 5; }
    void Refill() override;
    QPlainTextEdit* Edit() const { return edit_; }

private:
    QPlainTextEdit* edit_;
};

}  // namespace quorbel
