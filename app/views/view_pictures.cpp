#include "app/views/view_pictures.h"

#include <QImage>
#include <QItemSelectionModel>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <numeric>

#include "app/ops/thumbnails.h"
#include "app/ui_text.h"
#include "core/messages.h"

namespace quorbel {

namespace {

// Name parts compared without regard to letter case (ASCII, as the archive list sorts).
bool NameLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

QPixmap PixmapOf(const ArchiveHandler::ThumbnailImage& t) {
    QImage image(t.width, t.height, QImage::Format_RGB32);
    const uint8_t* p = t.pixels.data();
    for (int y = 0; y < t.height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < t.width; ++x, p += 3) out[x] = qRgb(p[2], p[1], p[0]);
    }
    return QPixmap::fromImage(image);
}

}  // namespace

// --- model ---

PictureListModel::PictureListModel(ArchiveHandler& handler, QObject* parent)
    : QAbstractListModel(parent), handler_(handler) {}

int PictureListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(items_.size());
}

QVariant PictureListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(items_.size())) return {};
    const Item& item = items_[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: return item.caption;
        case Qt::DecorationRole: return PixmapAt(index.row());
        case kEntryIndexRole: return item.entry;
        default: return {};
    }
}

const QPixmap& PictureListModel::PixmapAt(int row) const {
    static const QPixmap none;
    const size_t t = size_t(items_[size_t(row)].thumbnail);
    return t < pixmaps_.size() ? pixmaps_[t] : none;
}

void PictureListModel::Append(int entry, int thumbnail, const QString& caption) {
    const auto& thumbnails = handler_.Thumbnails();
    if (thumbnail >= 0 && size_t(thumbnail) < thumbnails.size()) {
        if (pixmaps_.size() <= size_t(thumbnail)) pixmaps_.resize(size_t(thumbnail) + 1);
        if (pixmaps_[size_t(thumbnail)].isNull()) {
            pixmaps_[size_t(thumbnail)] = PixmapOf(thumbnails[size_t(thumbnail)]);
            ++pixmaps_made_;
        }
    }
    const int row = int(items_.size());
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back({entry, thumbnail, caption});
    endInsertRows();
}

void PictureListModel::Clear() {
    if (items_.empty()) return;
    beginResetModel();
    items_.clear();
    endResetModel();
}

void PictureListModel::ForgetPixmaps() { pixmaps_.clear(); }

// --- list ---

CPictureList::CPictureList(QWidget* parent) : QListView(parent) {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(ArchiveHandler::kThumbnailWidth, ArchiveHandler::kThumbnailHeight));
    // Room for the thumbnail and the caption under it: the size line ("1024 x 768 x 24 Bits")
    // and the name, which may wrap once more.
    const int line = fontMetrics().height();
    setGridSize(QSize(std::max(ArchiveHandler::kThumbnailWidth + 40,
                               fontMetrics().horizontalAdvance("00000 x 00000 x 24 Bits") + 12),
                      ArchiveHandler::kThumbnailHeight + 3 * line + 14));
    setUniformItemSizes(true);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setWordWrap(true);
    setTextElideMode(Qt::ElideMiddle);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

// --- view ---

CViewPictures::CViewPictures(ArchiveHandler& handler, ProgressSink& sink, QWidget* parent)
    : CQuorbelFormView(handler, sink, parent), model_(handler), list_(new CPictureList(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    list_->setModel(&model_);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CQuorbelFormView::selectionChanged);
    connect(list_, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        emit entryActivated(model_.EntryAt(index.row()));
    });
    setFocusProxy(list_);
}

void CViewPictures::Refill() {
    // A refill follows an opening or a change of the archive, after which the handler's
    // thumbnail list is a new one: pixmaps of the old list would show the wrong pictures.
    model_.ForgetPixmaps();
    FillPictures(nullptr);
}

void CViewPictures::FillPictures(const std::vector<int>* source) {
    ProgressSink& sink = Sink();
    ArchiveHandler& h = Handler();
    const std::string searching = StringById(text_id::kSearchingPictures);
    sink.Begin();
    sink.SetText(StringById(text_id::kSortingFiles));
    model_.Clear();
    const size_t count = source ? source->size() : h.EntryCount();
    if (count > 0) {
        std::vector<int> order;
        if (source) {
            for (int index : *source)
                if (index >= 0 && size_t(index) < h.EntryCount()) order.push_back(index);
        } else {
            order.resize(count);
            std::iota(order.begin(), order.end(), 0);
        }
        std::stable_sort(order.begin(), order.end(), [&h](int a, int b) {
            return NameLess(h.Entry(size_t(a)).NamePart(), h.Entry(size_t(b)).NamePart());
        });
        sink.SetRange(0, int64_t(order.size()));
        for (size_t i = 0; i < order.size(); ++i) {
            sink.SetText(searching, false);
            if (!sink.SetPos(int64_t(i))) break;
            AddPictureItem(order[i]);
            if (sink.Cancelled()) break;
        }
    }
    ScrollToNewest();
    sink.End(0);
    list_->viewport()->update();
}

bool CViewPictures::AddPictureItem(int entry_index) {
    ArchiveHandler& h = Handler();
    int width = 0, height = 0, bits = 0;
    const int thumbnail = h.GetPictureInfo(entry_index, &width, &height, &bits);
    if (thumbnail < 0) return false;
    const ArchiveEntry& e = h.Entry(size_t(entry_index));
    model_.Append(entry_index, thumbnail, Q(PictureCaption(width, height, bits, e.NamePart())));
    // Thumbnails appear one by one while the fill runs: the newest is kept in sight, and the
    // sink's next turn of the event loop paints it. Scrolling lays out every item again, so it
    // happens only as often as the window can show it (each item would make the fill quadratic).
    if (!since_scroll_.isValid() || since_scroll_.elapsed() >= kScrollEveryMs) {
        ScrollToNewest();
        since_scroll_.restart();
    }
    return true;
}

void CViewPictures::ScrollToNewest() {
    if (model_.RowCount() > 0)
        list_->scrollTo(model_.index(model_.RowCount() - 1), QAbstractItemView::EnsureVisible);
}

std::vector<int> CViewPictures::SelectedEntries() {
    std::vector<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedIndexes())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<int> entries;
    for (int row : rows) entries.push_back(model_.EntryAt(row));
    return entries;
}

int CViewPictures::FocusedEntry() {
    const QModelIndex current = list_->currentIndex();
    return current.isValid() ? model_.EntryAt(current.row()) : -1;
}

void CViewPictures::SelectAllItems() { list_->selectAll(); }

void CViewPictures::InvertSelectionItems() {
    if (model_.RowCount() == 0) return;
    const QItemSelection all(model_.index(0), model_.index(model_.RowCount() - 1));
    list_->selectionModel()->select(all, QItemSelectionModel::Toggle);
}

}  // namespace quorbel
