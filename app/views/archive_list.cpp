#include "app/views/archive_list.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>
#include <cctype>
#include <string_view>

#include "app/ops/list_layout.h"
#include "app/ops/member_path.h"
#include "platform/registry_access.h"
#include "app/ui_text.h"
#include "core/messages.h"
#include "core/type_cache.h"

namespace quorbel {

namespace {

// Case-insensitive text keys are folded once per sort rather than on every comparison:
// ASCII by table, anything else through Qt's case folding (UTF-8 byte order is code-point
// order, so folded keys compare with a plain byte comparison).
std::string FoldedKey(std::string_view text) {
    bool ascii = std::all_of(text.begin(), text.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii)
        return QString::fromUtf8(text.data(), qsizetype(text.size())).toCaseFolded().toStdString();
    std::string key(text);
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

bool IsTextColumn(int column) {
    return column == kColName || column == kColType || column == kColAttrib ||
           column == kColPath || column == kColNote;
}

// The view may point into `scratch`, which holds a text the entry makes on demand.
std::string_view TextKeySource(const ArchiveEntry& e, int column, std::string& scratch) {
    switch (column) {
        case kColName: return e.NamePart();
        case kColType: return e.TypeText();
        case kColAttrib: scratch = e.AttributeText(); return scratch;
        case kColPath: scratch = DisplayPath(e.Folder()); return scratch;
        default: return e.comment;
    }
}

int64_t NumberKey(const ArchiveEntry& e, int column) {
    switch (column) {
        case kColEncrypted: return e.encrypted ? 1 : 0;
        case kColSize: return e.unpacked;
        case kColModified: return int64_t(e.time);
        case kColRatio: return e.ratio;
        case kColPacked: return e.packed;
        default: return e.crc;
    }
}

Qt::Alignment ColumnAlignment(int column) {
    switch (column) {
        case kColEncrypted: return Qt::AlignHCenter | Qt::AlignVCenter;
        case kColSize:
        case kColRatio:
        case kColPacked: return Qt::AlignRight | Qt::AlignVCenter;
        default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

// The progress text is set about a hundred times per fill, whatever the number of rows.
constexpr int kFillUpdates = 100;

}  // namespace

ArchiveListModel::ArchiveListModel(ArchiveHandler& handler, QObject* parent)
    : QAbstractTableModel(parent), handler_(handler) {}

int ArchiveListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(items_.size());
}

int ArchiveListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

namespace {

// What a column shows for an entry (column 0's mark comes from the row, not the entry).
QString EntryColumnText(const ArchiveEntry& e, int column) {
    switch (column) {
        case kColName: {
            std::string_view name = e.NamePart();
            return QString::fromUtf8(name.data(), qsizetype(name.size()));
        }
        case kColSize: return Q(e.SizeText());
        case kColType: return Q(e.TypeText());
        case kColModified: return Q(e.DateText());
        case kColRatio: return Q(e.RatioText());
        case kColPacked: return Q(e.PackedText());
        case kColCrc: return Q(e.CrcText());
        case kColAttrib: return Q(e.AttributeText());
        case kColPath: return Q(DisplayPath(e.Folder()));
        case kColNote: return Q(e.comment);
        default: return {};
    }
}

}  // namespace

QString ArchiveListModel::TextOf(int row, int column) const {
    if (row < 0 || row >= RowCount()) return {};
    if (column == kColEncrypted)
        return MarkedAt(row) ? QString::fromLatin1(kEncryptedMarker) : QString();
    return EntryColumnText(handler_.Entry(size_t(EntryAt(row))), column);
}

QIcon ArchiveListModel::IconOf(const ArchiveEntry& entry) const {
    auto hit = icons_.constFind(entry.type_index);
    if (hit != icons_.constEnd()) return *hit;
    const QIcon generic = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    QIcon icon = generic;
    if (entry.type_index >= 0) {
        const std::string& name = TypeCache::Instance().At(entry.type_index).icon_name;
        if (!name.empty()) icon = QIcon::fromTheme(Q(name), generic);
    }
    icons_.insert(entry.type_index, icon);
    return icon;
}

QVariant ArchiveListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    switch (role) {
        case Qt::DisplayRole: return TextOf(row, index.column());
        case Qt::DecorationRole:
            if (index.column() == kColName) return IconOf(handler_.Entry(size_t(EntryAt(row))));
            return {};
        case Qt::TextAlignmentRole: return ColumnAlignment(index.column()).toInt();
        case Qt::BackgroundRole:
            if (backgrounds_[row % 2].isValid()) return backgrounds_[row % 2];
            return {};
        case Qt::ForegroundRole:
            if (text_color_.isValid()) return text_color_;
            return {};
        case kItemDataRole: return items_[size_t(row)];
        case kEntryIndexRole: return EntryAt(row);
        default: return {};
    }
}

QVariant ArchiveListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole) return UiString(text_id::kColumnFirst + section);
    if (role == Qt::TextAlignmentRole) return ColumnAlignment(section).toInt();
    return {};
}

void ArchiveListModel::Clear() {
    beginResetModel();
    items_.clear();
    setup_count_ = 0;
    first_setup_ = -1;
    endResetModel();
}

void ArchiveListModel::SetRowColors(const QColor& even, const QColor& odd, const QColor& text) {
    backgrounds_[0] = even;
    backgrounds_[1] = odd;
    text_color_ = text;
    if (!items_.empty()) emit dataChanged(index(0, 0), index(RowCount() - 1, kColumnCount - 1));
}

void ArchiveListModel::SetEntries(const std::vector<int>& indices) {
    beginResetModel();
    items_.clear();
    setup_count_ = 0;
    first_setup_ = -1;
    for (int index : indices) {
        if (index < 0 || size_t(index) >= handler_.EntryCount()) continue;
        const ArchiveEntry& e = handler_.Entry(size_t(index));
        if (!e.is_file) continue;
        items_.push_back(index * 2 | (e.encrypted ? 1 : 0));
        if (e.is_setup && setup_count_++ == 0) first_setup_ = index;
    }
    endResetModel();
}

void ArchiveListModel::Fill(const FolderNode* folder, ProgressSink& sink) {
    beginResetModel();
    items_.clear();
    setup_count_ = 0;
    first_setup_ = -1;
    ProgressScope scope(&sink);
    const int total = folder ? int(folder->files.size()) : int(handler_.EntryCount());
    items_.reserve(size_t(folder ? total : handler_.FileCount()));
    sink.SetRange(0, total);
    const std::string& format = StringById(text_id::kDisplayingFiles);
    const int step = std::max(1, total / kFillUpdates);
    for (int i = 0; i < total; ++i) {
        if (i % step == 0) {
            sink.SetText(FormatText(format.c_str(), i, total), false);
            if (!sink.SetPos(i)) break;
        }
        const int index = folder ? folder->files[size_t(i)] : i;
        const ArchiveEntry& e = handler_.Entry(size_t(index));
        if (!e.is_file) continue;
        items_.push_back(index * 2 | (e.encrypted ? 1 : 0));
        if (e.is_setup && setup_count_++ == 0) first_setup_ = index;
    }
    sink.SetPos(total);
    endResetModel();
}

void ArchiveListModel::Sort(int column, Qt::SortOrder order, ProgressSink& sink) {
    if (column < 0 || column >= kColumnCount) return;
    ProgressScope scope(&sink);
    sink.SetTextById(text_id::kSortingFiles);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // Keys are computed once per row, by position in items_, then the positions are sorted.
    const size_t n = items_.size();
    std::vector<int> order_of(n);
    for (size_t i = 0; i < n; ++i) order_of[i] = int(i);
    const bool descending = order == Qt::DescendingOrder;
    if (IsTextColumn(column)) {
        std::vector<std::string> keys(n);
        std::string scratch;
        for (size_t i = 0; i < n; ++i)
            keys[i] = FoldedKey(TextKeySource(handler_.Entry(size_t(items_[i] >> 1)), column, scratch));
        std::stable_sort(order_of.begin(), order_of.end(), [&](int a, int b) {
            return descending ? keys[size_t(b)] < keys[size_t(a)] : keys[size_t(a)] < keys[size_t(b)];
        });
    } else {
        std::vector<int64_t> keys(n);
        for (size_t i = 0; i < n; ++i)
            keys[i] = NumberKey(handler_.Entry(size_t(items_[i] >> 1)), column);
        std::stable_sort(order_of.begin(), order_of.end(), [&](int a, int b) {
            return descending ? keys[size_t(b)] < keys[size_t(a)] : keys[size_t(a)] < keys[size_t(b)];
        });
    }

    std::vector<int> sorted(n);
    std::vector<int> new_row(n);
    for (size_t i = 0; i < n; ++i) {
        sorted[i] = items_[size_t(order_of[i])];
        new_row[size_t(order_of[i])] = int(i);
    }
    items_ = std::move(sorted);

    const QModelIndexList old_list = persistentIndexList();
    QModelIndexList new_list;
    new_list.reserve(old_list.size());
    for (const QModelIndex& old : old_list)
        new_list.append(index(new_row[size_t(old.row())], old.column()));
    changePersistentIndexList(old_list, new_list);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

CArchiveList::CArchiveList(QWidget* parent) : QTreeView(parent), sink_(&SilentSink()) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);  // sorting is ours: the toggle rule and progress text differ
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this, &CArchiveList::SortByColumn);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid() && model_) emit entryActivated(model_->EntryAt(index.row()));
    });
}

CArchiveList::~CArchiveList() {
    // The view must let go of the model before the model dies.
    setModel(nullptr);
}

void CArchiveList::UseModel(ArchiveHandler& handler) {
    if (model_ && &model_->Handler() == &handler) return;
    auto model = std::make_unique<ArchiveListModel>(handler);
    QItemSelectionModel* old_selection = selectionModel();
    setModel(model.get());
    delete old_selection;       // a view never deletes the selection model it replaces
    model_ = std::move(model);  // the old model goes only after the view stopped using it
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit selectionChanged(); });
    if (columns_inserted_) ApplyInitialWidths();
    ReloadRowColors();
}

void CArchiveList::ReloadRowColors() {
    if (!model_) return;
    // Three values rather than the whole layout: a view is made on every switch.
    const ListPrintLayout defaults = ResetListPrintLayout();
    AppRegistry reg;
    auto color = [&](const char* name, uint32_t fallback) {
        const auto c = uint32_t(reg.ReadInteger(kListPrintingKey, name, fallback));
        return QColor(RedOf(c), GreenOf(c), BlueOf(c));
    };
    model_->SetRowColors(color("TextBackgroundColor0", defaults.text_background_color[0]),
                         color("TextBackgroundColor1", defaults.text_background_color[1]),
                         color("TextColor", defaults.text_color));
}

void CArchiveList::ShowEntries(ArchiveHandler& handler, const std::vector<int>& indices) {
    UseModel(handler);
    model_->SetEntries(indices);
    if (sort_column_ >= 0) ApplySort();
}

void CArchiveList::InsertColumns() {
    columns_inserted_ = true;
    if (model_) ApplyInitialWidths();
}

void CArchiveList::ApplyInitialWidths() {
    const int w = fontMetrics().averageCharWidth();
    for (int c = 0; c < kColumnCount; ++c) {
        int width = 100;
        if (c == kColEncrypted) width = 2 * w + 16;
        if (c == kColSize) width = 50;
        setColumnWidth(c, width);
    }
}

void CArchiveList::Fill(ArchiveHandler& handler, const FolderNode* folder) {
    UseModel(handler);
    model_->Fill(folder, *sink_);
    if (sort_column_ >= 0) ApplySort();
}

void CArchiveList::Clear() {
    if (model_) model_->Clear();
}

void CArchiveList::AutoSizeColumns() {
    if (!model_) return;
    const ArchiveHandler& handler = model_->Handler();
    const QFontMetrics fm = fontMetrics();
    const int w = fm.averageCharWidth();
    auto longest = [&](HintColumn hint, int column) -> QString {
        int index = handler.HintIndex(hint);
        if (index < 0 || size_t(index) >= handler.EntryCount()) return {};
        return EntryColumnText(handler.Entry(size_t(index)), column);
    };
    setUpdatesEnabled(false);
    for (int c = 0; c < kColumnCount; ++c) {
        int width;
        if (c == kColEncrypted) {
            width = 2 * w + 16;
        } else {
            int value = 0;
            switch (c) {
                case kColName: value = fm.horizontalAdvance(longest(kHintName, c)); break;
                case kColSize: value = fm.horizontalAdvance(longest(kHintSize, c)); break;
                case kColType: value = fm.horizontalAdvance(longest(kHintType, c)); break;
                case kColModified: value = fm.horizontalAdvance(longest(kHintDate, c)); break;
                case kColPacked: value = fm.horizontalAdvance(longest(kHintPacked, c)); break;
                case kColPath: value = fm.horizontalAdvance(longest(kHintFolder, c)); break;
                case kColNote: value = fm.horizontalAdvance(longest(kHintComment, c)); break;
                case kColCrc: value = fm.horizontalAdvance(QStringLiteral("99999999")); break;
                case kColAttrib: value = fm.horizontalAdvance(QStringLiteral("WWWW")); break;
                default: value = 0; break;  // Ratio: the title decides
            }
            const int title = fm.horizontalAdvance(UiString(text_id::kColumnFirst + c));
            width = std::max(value, title) + 3 * w;
            if (c == kColName) width += w + 16;  // room for the type icon
        }
        setColumnWidth(c, width + w);
    }
    setUpdatesEnabled(true);
}

void CArchiveList::SortByColumn(int column) {
    if (column < 0 || column >= kColumnCount) return;
    if (column == sort_column_)
        sort_order_ = sort_order_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        sort_order_ = Qt::AscendingOrder;
    sort_column_ = column;
    ApplySort();
}

void CArchiveList::ApplySort() {
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(sort_column_, sort_order_);
    if (model_) model_->Sort(sort_column_, sort_order_, *sink_);
}

std::vector<int> CArchiveList::SelectedIndices() const {
    std::vector<int> result;
    if (!model_) return result;
    const QModelIndexList rows = selectionModel()->selectedRows();
    std::vector<int> positions;
    positions.reserve(size_t(rows.size()));
    for (const QModelIndex& index : rows) positions.push_back(index.row());
    std::sort(positions.begin(), positions.end());
    result.reserve(positions.size());
    for (int row : positions) result.push_back(model_->EntryAt(row));
    return result;
}

int CArchiveList::FocusedIndex() const {
    const QModelIndex current = currentIndex();
    if (!model_ || !current.isValid()) return -1;
    return model_->EntryAt(current.row());
}

QString CArchiveList::TextOf(int row, int column) const {
    return model_ ? model_->TextOf(row, column) : QString();
}

void CArchiveList::SelectAll() { selectAll(); }

void CArchiveList::InvertSelection() {
    if (!model_) return;
    const int rows = model_->RowCount();
    std::vector<char> selected(size_t(rows), 0);
    for (const QModelIndex& index : selectionModel()->selectedRows()) selected[size_t(index.row())] = 1;
    // One range per run of unselected rows keeps the selection small for large lists.
    QItemSelection inverted;
    const int last_column = kColumnCount - 1;
    for (int row = 0; row < rows;) {
        if (selected[size_t(row)]) {
            ++row;
            continue;
        }
        int end = row;
        while (end + 1 < rows && !selected[size_t(end + 1)]) ++end;
        inverted.select(model_->index(row, 0), model_->index(end, last_column));
        row = end + 1;
    }
    selectionModel()->select(inverted, QItemSelectionModel::ClearAndSelect);
}

void CArchiveList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && model_) {
        const int focused = FocusedIndex();
        if (focused >= 0) {
            emit entryActivated(focused);
            event->accept();
            return;
        }
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace quorbel
