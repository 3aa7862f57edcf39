// The document of one open archive: it owns the archive's handler for its whole life and
// decides which view its child frame shows. Every change is saved by the handler at once, so a
// document never has unsaved changes of its own.
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "app/ops/checkout.h"
#include "core/archive_handler.h"

class QIODevice;

namespace quorbel {

class CChildFrame;
class CQuorbelFormView;
class UserPrompts;

enum ViewType { kViewNone = 0, kViewContent = 1, kViewExplorer = 2, kViewPictures = 3,
                kViewSearch = 4, kViewStatistics = 5 };

class CQuorbelDoc : public QObject {
    Q_OBJECT
public:
    explicit CQuorbelDoc(ProgressSink& sink, QObject* parent = nullptr);
    ~CQuorbelDoc() override;

    // Stores the handler, titles the document after the archive and shows the content view.
    void Attach(std::unique_ptr<ArchiveHandler> handler);
    void SetFrame(CChildFrame* frame) { frame_ = frame; }

    ArchiveHandler* Handler() const { return handler_.get(); }
    const std::string& Title() const { return title_; }
    int CurrentViewType() const { return view_type_; }
    int ContentOption() const { return content_option_; }
    void SetContentOption(int option) { content_option_ = option; }

    // Shows the view of `type` in the frame; choosing the current one changes nothing. Returns
    // whether a view of that type exists in this build.
    bool ShowView(int type);
    // Re-reads the view after the handler changed (the entry indices are new after a save).
    void RefreshView();

    // Copies the archive file byte for byte to `target` in 1 MB blocks with progress. The
    // document stays on the file it opened. 1 on success; the message is left in `message`.
    int SaveAs(const std::string& target, std::string& message);
    // Writes the archive's bytes into `device` (sending by mail); an abort stops the copy.
    bool Serialize(QIODevice& device);
    // The close question about a checked-out archive; false when the document must stay open.
    bool CanClose(UserPrompts& prompts);

    // Set by the check-out operation: what it wrote and made, offered for removal at close.
    CheckOutRecord checkout;

signals:
    void viewChanged(int type);

private:
    ProgressSink& sink_;
    std::unique_ptr<ArchiveHandler> handler_;
    CChildFrame* frame_ = nullptr;
    std::string title_;
    int content_option_ = 0;
    int view_type_ = kViewNone;
};

// A view of the given type over the document's handler; nullptr for a type this build lacks.
CQuorbelFormView* CreateView(int type, ArchiveHandler& handler, ProgressSink& sink);

}  // namespace quorbel
