// The content view: the archive list over every file of the archive.
#pragma once

#include "app/views/quorbel_form_view.h"

namespace quorbel {

class CViewContent : public CQuorbelFormView {
    Q_OBJECT
public:
    CViewContent(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent);

    int ViewType() const override { return 1; }
    void Refill() override;
    CArchiveList* List() override { return list_; }

private:
    CArchiveList* list_;
};

}  // namespace quorbel
