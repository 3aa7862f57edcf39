// The base of the views of an archive document. A view reads the document's handler and
// reports through the document's progress sink; the child frame only talks to this base.
#pragma once

#include <QWidget>
#include <vector>

#include "core/archive_handler.h"
#include "core/progress_sink.h"

namespace quorbel {

class CArchiveList;

class CQuorbelFormView : public QWidget {
    Q_OBJECT
public:
    CQuorbelFormView(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent);

    // 1 content, 2 explorer, 3 pictures, 4 search, 5 statistics.
    virtual int ViewType() const = 0;
    // Reads the handler again (after opening, and after every change the handler saved).
    virtual void Refill() = 0;
    // The view's archive list, nullptr for a view without one.
    virtual CArchiveList* List() { return nullptr; }
    // Entry indices of the selected items in item order, the focused item's entry (-1 for
    // none), and the number of listed items (-1: the view lists no items). The archive list's
    // by default.
    virtual std::vector<int> SelectedEntries();
    virtual int FocusedEntry();
    virtual int ListedCount();
    virtual void SelectAllItems();
    virtual void InvertSelectionItems();
    // The folder the view lists, nullptr when it lists the whole archive.
    virtual const FolderNode* SelectedFolder() const { return nullptr; }

    ArchiveHandler& Handler() const { return handler_; }
    ProgressSink& Sink() const { return sink_; }

signals:
    void selectionChanged();
    void entryActivated(int entry_index);

protected:
    // Passes the list's selection and activation on as the view's own.
    void ForwardListSignals(CArchiveList* list);

private:
    ArchiveHandler& handler_;
    ProgressSink& sink_;
};

}  // namespace quorbel
