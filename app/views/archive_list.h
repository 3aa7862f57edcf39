// The archive list: one row per listed file of an archive, eleven columns of the entry's own
// texts. The model keeps only a vector of item data (entry index × 2, bit 0 the mark), so an
// archive of 100,000 members costs one int per row and no widget per item.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QColor>
#include <QIcon>
#include <QTreeView>
#include <memory>
#include <vector>

#include "core/archive_handler.h"
#include "core/progress_sink.h"

namespace quorbel {

enum ArchiveColumn {
    kColEncrypted = 0, kColName, kColSize, kColType, kColModified, kColRatio, kColPacked,
    kColCrc, kColAttrib, kColPath, kColNote, kColumnCount
};

class ArchiveListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The row's item data (entry index × 2 | mark) and the plain entry index.
    static constexpr int kItemDataRole = Qt::UserRole + 1;
    static constexpr int kEntryIndexRole = Qt::UserRole + 2;
    // What column 0 shows for an encrypted entry.
    static constexpr const char* kEncryptedMarker = "*";

    explicit ArchiveListModel(ArchiveHandler& handler, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Lists the files of `folder` (nullptr: every file of the archive) in index order. The
    // sink shows "Displaying Files (%d/%d)..."; when it reports a stop, the rows read so far
    // stay listed.
    void Fill(const FolderNode* folder, ProgressSink& sink);
    // Lists exactly these entries (a search's results), in this order; folders are left out.
    void SetEntries(const std::vector<int>& indices);
    void Clear();
    // The rows' backgrounds alternate between the two colours, with the text in `text`.
    void SetRowColors(const QColor& even, const QColor& odd, const QColor& text);
    // Stable sort of the rows by the column's key; persistent indices (the selection) follow
    // their rows.
    void Sort(int column, Qt::SortOrder order, ProgressSink& sink);

    ArchiveHandler& Handler() const { return handler_; }
    int EntryAt(int row) const { return items_[size_t(row)] >> 1; }
    bool MarkedAt(int row) const { return (items_[size_t(row)] & 1) != 0; }
    int RowCount() const { return int(items_.size()); }
    QString TextOf(int row, int column) const;
    // Entries named SETUP.EXE or INSTALL.EXE seen by the last fill, and the first of them.
    int SetupCount() const { return setup_count_; }
    int FirstSetupIndex() const { return first_setup_; }

private:
    QIcon IconOf(const ArchiveEntry& entry) const;

    ArchiveHandler& handler_;
    std::vector<int> items_;
    int setup_count_ = 0;
    int first_setup_ = -1;
    mutable QHash<int, QIcon> icons_;  // by type-cache row
    QColor backgrounds_[2];
    QColor text_color_;
};

class CArchiveList : public QTreeView {
    Q_OBJECT
public:
    explicit CArchiveList(QWidget* parent = nullptr);
    ~CArchiveList() override;

    // Where fill and sort report progress (the silent sink until set).
    void SetSink(ProgressSink* sink) { sink_ = sink ? sink : &SilentSink(); }

    // The initial column widths; a model made later gets them too.
    void InsertColumns();
    // Lists the files of `folder` (nullptr: all files); the last chosen sort order is kept.
    void Fill(ArchiveHandler& handler, const FolderNode* folder);
    // Lists the given entries of `handler` (the last chosen sort order is kept).
    void ShowEntries(ArchiveHandler& handler, const std::vector<int>& indices);
    void Clear();
    // Reads the row colours of "Options\ListPrinting\" again (after the options changed).
    void ReloadRowColors();
    // Widths from the handler's longest texts, measured in the list's font.
    void AutoSizeColumns();
    // The same column as last time toggles the order; another column sorts ascending.
    void SortByColumn(int column);

    // Entry indices of the selected rows, in row order.
    std::vector<int> SelectedIndices() const;
    // Entry index of the focused row, -1 when there is none.
    int FocusedIndex() const;
    QString TextOf(int row, int column) const;
    int RowCount() const { return model_ ? model_->RowCount() : 0; }
    void SelectAll();
    void InvertSelection();

    int SetupCount() const { return model_ ? model_->SetupCount() : 0; }
    int FirstSetupIndex() const { return model_ ? model_->FirstSetupIndex() : -1; }
    int SortColumn() const { return sort_column_; }
    Qt::SortOrder SortOrder() const { return sort_order_; }
    ArchiveListModel* Model() const { return model_.get(); }

signals:
    void selectionChanged();
    void entryActivated(int entry_index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UseModel(ArchiveHandler& handler);
    void ApplyInitialWidths();
    void ApplySort();

    std::unique_ptr<ArchiveListModel> model_;
    ProgressSink* sink_;
    bool columns_inserted_ = false;
    int sort_column_ = -1;
    Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

}  // namespace quorbel
