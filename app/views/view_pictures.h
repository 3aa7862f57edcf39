// The pictures view: every picture member of the archive as its 80 × 60 thumbnail with a size
// caption, in an icon-mode list. The handler decodes each picture once per opening of the
// archive and keeps the thumbnail; the view turns each thumbnail into a pixmap once.
#pragma once

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QListView>
#include <QPixmap>
#include <vector>

#include "app/views/quorbel_form_view.h"

namespace quorbel {

class PictureListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kEntryIndexRole = Qt::UserRole + 2;

    explicit PictureListModel(ArchiveHandler& handler, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Appends one item; its pixmap is made from the handler's thumbnail unless made before.
    void Append(int entry, int thumbnail, const QString& caption);
    void Clear();
    // Forgets the pixmaps (the handler's thumbnail list was made anew).
    void ForgetPixmaps();

    int EntryAt(int row) const { return items_[size_t(row)].entry; }
    int ThumbnailAt(int row) const { return items_[size_t(row)].thumbnail; }
    QString CaptionAt(int row) const { return items_[size_t(row)].caption; }
    const QPixmap& PixmapAt(int row) const;
    int RowCount() const { return int(items_.size()); }
    // How many pixmaps were made from thumbnails so far.
    int PixmapsMade() const { return pixmaps_made_; }

private:
    struct Item {
        int entry;
        int thumbnail;
        QString caption;
    };
    ArchiveHandler& handler_;
    std::vector<Item> items_;
    std::vector<QPixmap> pixmaps_;  // by thumbnail index
    int pixmaps_made_ = 0;
};

class CPictureList : public QListView {
    Q_OBJECT
public:
    explicit CPictureList(QWidget* parent = nullptr);
};

class CViewPictures : public CQuorbelFormView {
    Q_OBJECT
public:
    CViewPictures(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent);

    int ViewType() const override { return 3; }
    // Lists the pictures of the whole archive again; members left in state 2 by the last
    // fill (not unpacked, cancelled) are tried again.
    void Refill() override;
    std::vector<int> SelectedEntries() override;
    int FocusedEntry() override;
    int ListedCount() override { return model_.RowCount(); }
    void SelectAllItems() override;
    void InvertSelectionItems() override;

    // Lists the pictures among the entries of `source` (nullptr: every entry), sorted by their
    // name parts without regard to case. Stops at a cancel and keeps what it listed.
    void FillPictures(const std::vector<int>* source);
    // Adds the entry's thumbnail when it is a picture; false otherwise.
    bool AddPictureItem(int entry_index);

    CPictureList* PictureList() const { return list_; }
    PictureListModel& Model() { return model_; }

private:
    static constexpr qint64 kScrollEveryMs = 40;
    void ScrollToNewest();

    PictureListModel model_;
    CPictureList* list_;
    QElapsedTimer since_scroll_;
};

}  // namespace quorbel
