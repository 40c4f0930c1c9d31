#include "ui/message_list_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <unordered_map>

#include "decode/date_size_text.h"
#include "decode/jis_sjis.h"
#include "engine/frame_engine.h"
#include "mail/memory_list.h"
#include "mail/retrieve_selected.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/images.h"
#include "ui/list_drag.h"

namespace wp {

std::int32_t CTarnpostView::sortColumn = 0;
std::int32_t CTarnpostView::sortAscending = 0;

namespace {

constexpr const char* kLayoutSection = "ColPosition";
constexpr const char* kOrderKey = "ColOrder";
constexpr int kInitialWidths[kColumnCount] = {18, 120, 18, 150, 130, 50};
// Widths beyond this come from a damaged profile, not from a user.
constexpr int kMaxColumnWidth = 4096;
constexpr int kFlushIntervalMs = 30;
// Above this many separate runs of rows, a deletion rebuilds the model once
// instead of removing run after run.
constexpr std::size_t kMaxRemovedRuns = 32;

QString SystemText(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

std::string WidthKey(int column) {
    char key[16];
    std::snprintf(key, sizeof key, "Col%d", column);
    return key;
}

// ------------------------------------------------------------ sort keys

// CP932 texts compared character by character, a double-byte character as
// one 16-bit code: half-width katakana (single bytes 0xA1-0xDF) sort before
// the double-byte characters, not among them as a plain byte compare would.
int CompareText(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        unsigned ca = static_cast<unsigned char>(a[i]);
        unsigned cb = static_cast<unsigned char>(b[j]);
        if (IsSjisLeadByte(static_cast<unsigned char>(ca)) && i + 1 < a.size()) {
            ca = (ca << 8) | static_cast<unsigned char>(a[++i]);
        }
        if (IsSjisLeadByte(static_cast<unsigned char>(cb)) && j + 1 < b.size()) {
            cb = (cb << 8) | static_cast<unsigned char>(b[++j]);
        }
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

int CompareNumber(std::uint32_t a, std::uint32_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareColumn(const MailEntry& a, const MailEntry& b, int column) {
    switch (column) {
        case kColumnParts:
            return CompareNumber(static_cast<std::uint16_t>(a.hasParts),
                                 static_cast<std::uint16_t>(b.hasParts));
        case kColumnFrom:
            return CompareText(a.from, b.from);
        case kColumnMark:
            return CompareNumber(static_cast<std::uint16_t>(a.mark), static_cast<std::uint16_t>(b.mark));
        case kColumnSubject:
            return CompareText(a.subject, b.subject);
        case kColumnDate:
            return CompareText(a.date, b.date);
        case kColumnSize:
            return CompareNumber(a.size, b.size);
        default:
            return 0;
    }
}

// ------------------------------------------------------------ pictures

void Begin(QPainter& p, QPixmap& pm) {
    pm.fill(Qt::transparent);
    p.begin(&pm);
    p.setRenderHint(QPainter::Antialiasing);
}

void DrawEnvelope(QPainter& p, const QColor& paper) {
    p.setPen(QPen(QColor(90, 90, 110), 1));
    p.setBrush(paper);
    p.drawRect(QRectF(1.5, 3.5, 13, 9));
    p.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
    p.drawLine(QPointF(14.5, 3.5), QPointF(8, 9));
}

QPixmap MakeHeaderImage(int index) {
    QPixmap pm(16, 16);
    QPainter p;
    Begin(p, pm);
    const QColor ink(70, 70, 90);
    switch (index) {
        case kColumnParts:
            DrawEnvelope(p, QColor(255, 255, 250));
            break;
        case kColumnFrom:  // a person
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(80, 110, 170));
            p.drawEllipse(QRectF(5, 1.5, 6, 6));
            p.drawRoundedRect(QRectF(2.5, 8.5, 11, 6.5), 3, 3);
            break;
        case kColumnMark:
            p.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
            p.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
            break;
        case kColumnSubject:  // a sheet with lines
            p.setPen(QPen(ink, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(2.5, 1.5, 11, 13));
            for (double y = 4.5; y < 13; y += 2.5) {
                p.drawLine(QPointF(4.5, y), QPointF(11.5, y));
            }
            break;
        case kColumnDate:  // a clock
            p.setPen(QPen(ink, 1.2));
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.drawLine(QPointF(8, 8), QPointF(8, 4));
            p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
            break;
        case kHeaderArrowUp:
        case kHeaderArrowDown: {
            QPainterPath path;
            if (index == kHeaderArrowUp) {
                path.moveTo(8, 5);
                path.lineTo(12, 10);
                path.lineTo(4, 10);
            } else {
                path.moveTo(4, 6);
                path.lineTo(12, 6);
                path.lineTo(8, 11);
            }
            path.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(60, 60, 60));
            p.drawPath(path);
            break;
        }
        default:
            break;
    }
    p.end();
    return pm;
}

const MailEntry& EmptyEntry() {
    static const MailEntry empty;
    return empty;
}

// Runs a read on the user-interface thread: the fetch for viewing reads the
// current row and its entry from the worker while the list may change.
template <class F>
auto OnUiThread(F&& read) -> decltype(read()) {
    if (IsUiThread()) {
        return read();
    }
    decltype(read()) result{};
    RunOnUiThread([&] { result = read(); });
    return result;
}

// The rows' pictures at the list's size, made once.
QPixmap RowPixmap(int index) {
    static const std::array<QPixmap, 5> images = [] {
        std::array<QPixmap, 5> all;
        for (int i = 0; i < 5; ++i) {
            all[static_cast<std::size_t>(i)] = RowImage(i).pixmap(16, 16);
        }
        return all;
    }();
    return index >= 0 && index < 5 ? images[static_cast<std::size_t>(index)] : QPixmap();
}

}  // namespace

QPixmap HeaderImage(int index) {
    static const std::array<QPixmap, 7> images = [] {
        std::array<QPixmap, 7> all;
        for (int i = 0; i < 7; ++i) {
            all[static_cast<std::size_t>(i)] = MakeHeaderImage(i);
        }
        return all;
    }();
    return index >= 0 && index < 7 ? images[static_cast<std::size_t>(index)] : QPixmap();
}

// ------------------------------------------------------------ the model

struct ListRow {
    MailEntry* entry = nullptr;
    std::int32_t partsImage = kImagePlain;
    std::int32_t markImage = kImageUnmarked;
};

class MessageListModel final : public QAbstractTableModel {
public:
    explicit MessageListModel(QObject* parent) : QAbstractTableModel(parent) {}

    // Every row; the widget knows the first `shown` of them.
    std::vector<ListRow> rows;
    int shown = 0;

    // The first row of an entry, in constant time; -1 when it has none.
    int Find(const MailEntry* entry) const {
        if (entry == nullptr) {
            return -1;
        }
        if (rowOfStale_) {
            rowOf_.clear();
            rowOf_.reserve(rows.size());
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (rows[i].entry != nullptr) {
                    rowOf_.try_emplace(rows[i].entry, static_cast<int>(i));
                }
            }
            rowOfStale_ = false;
        }
        auto found = rowOf_.find(entry);
        return found == rowOf_.end() ? -1 : found->second;
    }

    void Append(const ListRow& row) {
        if (row.entry != nullptr && !rowOfStale_) {
            rowOf_.try_emplace(row.entry, static_cast<int>(rows.size()));
        }
        rows.push_back(row);
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : shown; }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : kColumnCount;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                               : Qt::NoItemFlags;
    }

    static QString ColumnText(const ListRow& row, int column) {
        if (row.entry == nullptr) {
            return {};
        }
        switch (column) {
            case kColumnFrom:
                return Cp932ToQString(row.entry->from);
            case kColumnSubject:
                return Cp932ToQString(row.entry->subject);
            case kColumnDate:
                return Cp932ToQString(row.entry->date);
            case kColumnSize:
                // Right-aligned by the column; the blanks of the ten-character
                // form would only push the digits into the ellipsis.
                return QString::fromLatin1(SizeColumnText(row.entry->size)).trimmed();
            default:
                return {};
        }
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= shown) {
            return {};
        }
        const ListRow& row = rows[static_cast<std::size_t>(index.row())];
        const int column = index.column();
        switch (role) {
            case Qt::DisplayRole:
            case Qt::ToolTipRole:
                return ColumnText(row, column);
            case Qt::DecorationRole:
                if (column == kColumnParts) {
                    return RowPixmap(row.partsImage);
                }
                if (column == kColumnMark) {
                    return RowPixmap(row.markImage);
                }
                return {};
            case Qt::TextAlignmentRole:
                return column == kColumnSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                             : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            switch (section) {
                case kColumnFrom:
                    return SystemText("送信者");
                case kColumnSubject:
                    return SystemText("件名");
                case kColumnDate:
                    return SystemText("日時");
                case kColumnSize:
                    return SystemText("ｻｲｽﾞ");
                default:
                    return QString();
            }
        }
        if (role == Qt::TextAlignmentRole) {
            return section == kColumnSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        }
        return {};
    }

    void Flush() {
        const int total = static_cast<int>(rows.size());
        if (shown < total) {
            beginInsertRows({}, shown, total - 1);
            shown = total;
            endInsertRows();
        }
    }

    void Changed(int row, int first, int last) {
        if (row < shown) {
            emit dataChanged(index(row, first), index(row, last));
        }
    }

    // Removes these rows (sorted, distinct, all known to the widget), keeping
    // the order of the rest.
    void Remove(const std::vector<int>& sortedRows, QItemSelectionModel* selection) {
        // Runs of neighbouring rows, last run first so earlier indices hold.
        std::vector<std::pair<int, int>> runs;
        for (int row : sortedRows) {
            if (!runs.empty() && runs.back().second + 1 == row) {
                runs.back().second = row;
            } else {
                runs.emplace_back(row, row);
            }
        }
        rowOfStale_ = true;
        if (runs.size() <= kMaxRemovedRuns) {
            for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
                beginRemoveRows({}, it->first, it->second);
                rows.erase(rows.begin() + it->first, rows.begin() + it->second + 1);
                shown = static_cast<int>(rows.size());
                endRemoveRows();
            }
            return;
        }
        // Many scattered rows: one pass, then the selection and the focus
        // are put back on the rows that remain.
        std::vector<char> doomed(rows.size(), 0);
        for (int row : sortedRows) {
            doomed[static_cast<std::size_t>(row)] = 1;
        }
        std::vector<char> wasSelected(rows.size(), 0);
        for (const QItemSelectionRange& range : selection->selection()) {
            for (int r = range.top(); r <= range.bottom(); ++r) {
                wasSelected[static_cast<std::size_t>(r)] = 1;
            }
        }
        const int focus = selection->currentIndex().isValid() ? selection->currentIndex().row() : -1;
        int newFocus = -1;
        std::vector<int> keptSelected;
        beginResetModel();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (doomed[i]) {
                continue;
            }
            if (wasSelected[i]) {
                keptSelected.push_back(static_cast<int>(kept));
            }
            if (static_cast<int>(i) == focus) {
                newFocus = static_cast<int>(kept);
            }
            rows[kept++] = rows[i];
        }
        rows.resize(kept);
        shown = static_cast<int>(kept);
        endResetModel();
        QItemSelection restored;
        for (std::size_t i = 0; i < keptSelected.size();) {
            std::size_t j = i;
            while (j + 1 < keptSelected.size() && keptSelected[j + 1] == keptSelected[j] + 1) {
                ++j;
            }
            restored.select(index(keptSelected[i], 0), index(keptSelected[j], kColumnCount - 1));
            i = j + 1;
        }
        if (newFocus >= 0) {
            selection->setCurrentIndex(index(newFocus, 0), QItemSelectionModel::NoUpdate);
        }
        selection->select(restored, QItemSelectionModel::Select);
    }

    void Clear() {
        beginResetModel();
        rows.clear();
        rowOf_.clear();
        rowOfStale_ = false;
        shown = 0;
        endResetModel();
    }

    // The rows in a new order: sorted[i] is the row that goes to position i.
    void Reorder(const std::vector<int>& order) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> newPosition(order.size());
        std::vector<ListRow> sorted;
        sorted.reserve(order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            newPosition[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
            sorted.push_back(rows[static_cast<std::size_t>(order[i])]);
        }
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from) {
            to.append(this->index(newPosition[static_cast<std::size_t>(index.row())], index.column()));
        }
        changePersistentIndexList(from, to);
        rows = std::move(sorted);
        rowOfStale_ = true;
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

private:
    // entry -> first row, rebuilt after whatever moves rows.
    mutable std::unordered_map<const MailEntry*, int> rowOf_;
    mutable bool rowOfStale_ = false;
};

namespace {

// The two image columns show their picture centred, like the header above them.
class ListDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.column() != kColumnParts && index.column() != kColumnMark) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QPixmap image = qvariant_cast<QPixmap>(index.data(Qt::DecorationRole));
        opt.icon = QIcon();
        opt.features &= ~QStyleOptionViewItem::HasDecoration;
        opt.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        if (!image.isNull()) {
            const QSize size = image.deviceIndependentSize().toSize();
            QRect target(QPoint(0, 0), size);
            target.moveCenter(option.rect.center());
            painter->drawPixmap(target, image);
        }
    }
};

}  // namespace

// ------------------------------------------------------------ header

ListHeader::ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

void ListHeader::SetSortArrow(int column, bool ascending) {
    arrowColumn_ = column;
    arrowUp_ = ascending;
    viewport()->update();
}

void ListHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) {
        return;
    }
    QStyleOptionHeader opt;
    initStyleOptionForIndex(&opt, logicalIndex);
    opt.rect = rect;
    opt.text.clear();
    opt.icon = QIcon();
    opt.sortIndicator = QStyleOptionHeader::None;
    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);

    QRect area = rect.adjusted(3, 0, -3, 0);
    const bool arrow = logicalIndex == arrowColumn_;
    const QPixmap arrowImage = HeaderImage(arrowUp_ ? kHeaderArrowUp : kHeaderArrowDown);
    if (logicalIndex == kColumnParts || logicalIndex == kColumnMark) {
        QRect target(0, 0, 16, 16);
        target.moveCenter(rect.center());
        painter->drawPixmap(target, HeaderImage(logicalIndex));
    } else {
        if (arrow) {
            area.setRight(area.right() - 14);
        }
        const QString title =
            model() != nullptr ? model()->headerData(logicalIndex, Qt::Horizontal, Qt::DisplayRole).toString()
                               : QString();
        if (logicalIndex != kColumnSize) {
            QRect image(area.left(), rect.center().y() - 7, 16, 16);
            painter->drawPixmap(image, HeaderImage(logicalIndex));
            area.setLeft(area.left() + 19);
        }
        const Qt::Alignment align =
            (logicalIndex == kColumnSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        painter->setPen(opt.palette.color(QPalette::ButtonText));
        painter->drawText(area, static_cast<int>(align),
                          fontMetrics().elidedText(title, Qt::ElideRight, std::max(0, area.width())));
    }
    if (arrow) {
        QRect target(0, 0, 16, 16);
        target.moveCenter(QPoint(rect.right() - 8, rect.center().y()));
        painter->drawPixmap(target, arrowImage);
    }
    painter->restore();
}

// ------------------------------------------------------------ the view

CTarnpostView::CTarnpostView(Profile& profile, QWidget* parent)
    : QTreeView(parent),
      profile_(profile),
      model_(new MessageListModel(this)),
      header_(new ListHeader(this)) {
    setHeader(header_);
    setModel(model_);
    setItemDelegate(new ListDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setSortingEnabled(false);
    setDragEnabled(false);

    header_->setSectionsMovable(true);
    header_->setSectionsClickable(true);
    header_->setStretchLastSection(false);
    header_->setMinimumSectionSize(0);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    for (int column = 0; column < kColumnCount; ++column) {
        header_->resizeSection(column, kInitialWidths[column]);
    }
    RestoreLayout();
    connect(header_, &QHeaderView::sectionClicked, this, &CTarnpostView::SortByColumn);

    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushIntervalMs);
    connect(&flushTimer_, &QTimer::timeout, this, &CTarnpostView::Flush);
}

CTarnpostView::~CTarnpostView() {
    flushTimer_.stop();
    SaveLayout();
}

// ------------------------------------------------------------ layout

void CTarnpostView::RestoreLayout() {
    const std::string order = profile_.GetString(kLayoutSection, kOrderKey);
    if (order.empty()) {
        return;
    }
    std::vector<int> columns;
    bool digits = true;
    for (std::size_t k = 0; k < static_cast<std::size_t>(kColumnCount) && 2 * k + 1 < order.size(); ++k) {
        const int column = static_cast<int>(k);
        const int width = profile_.GetInt(kLayoutSection, WidthKey(column), 1);
        header_->resizeSection(column, std::clamp(width, 0, kMaxColumnWidth));
        const char hi = order[2 * k];
        const char lo = order[2 * k + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') {
            digits = false;
            continue;
        }
        columns.push_back((hi - '0') * 10 + (lo - '0'));
    }
    // Only a whole order of the six columns can be applied; anything else in
    // the profile was not written by this view.
    std::vector<int> sorted = columns;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> all(kColumnCount);
    std::iota(all.begin(), all.end(), 0);
    if (!digits || sorted != all) {
        return;
    }
    for (int position = 0; position < kColumnCount; ++position) {
        header_->moveSection(header_->visualIndex(columns[static_cast<std::size_t>(position)]), position);
    }
}

void CTarnpostView::SaveLayout() {
    std::string order;
    for (int k = 0; k < kColumnCount; ++k) {
        profile_.SetInt(kLayoutSection, WidthKey(k), header_->sectionSize(k));
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02d", header_->logicalIndex(k));
        order += pair;
    }
    profile_.SetString(kLayoutSection, kOrderKey, order);
}

// ------------------------------------------------------------ MailList

int CTarnpostView::RowCount() const {
    return OnUiThread([&] { return static_cast<int>(model_->rows.size()); });
}

MailEntry* CTarnpostView::RowEntry(int row) const {
    return OnUiThread([&]() -> MailEntry* {
        return row >= 0 && row < static_cast<int>(model_->rows.size())
                   ? model_->rows[static_cast<std::size_t>(row)].entry
                   : nullptr;
    });
}

int CTarnpostView::FindRow(const MailEntry* entry) const {
    return OnUiThread([&] { return model_->Find(entry); });
}

int CTarnpostView::InsertRow(MailEntry* entry, int markImage) {
    ListRow row;
    row.entry = entry;
    row.partsImage = (entry != nullptr && entry->hasParts) ? kImageParts : kImagePlain;
    row.markImage = markImage;
    model_->Append(row);
    ScheduleFlush();
    return static_cast<int>(model_->rows.size()) - 1;
}

void CTarnpostView::UpdateRow(int row) {
    if (!Valid(row)) {
        return;
    }
    ListRow& r = model_->rows[static_cast<std::size_t>(row)];
    if (r.entry == nullptr) {
        return;
    }
    r.partsImage = r.entry->hasParts ? kImageParts : kImagePlain;
    model_->Changed(row, 0, kColumnCount - 1);
}

void CTarnpostView::DeleteRow(int row) {
    DeleteRows({row});
}

void CTarnpostView::DeleteRows(std::vector<int> rows) {
    Flush();
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return !Valid(row); }), rows.end());
    if (rows.empty()) {
        return;
    }
    pendingVisible_ = -1;
    model_->Remove(rows, selectionModel());
}

void CTarnpostView::DeleteAllRows() {
    flushTimer_.stop();
    pendingVisible_ = -1;
    // The entries may already be gone: nothing here may look at them.
    model_->Clear();
    SendSelectionSummary();
    emit selectionStateChanged();
}

void CTarnpostView::ReserveRows(int count) {
    if (count > 0) {
        model_->rows.reserve(static_cast<std::size_t>(count));
    }
}

int CTarnpostView::MarkImage(int row) const {
    return OnUiThread([&] {
        return row >= 0 && row < static_cast<int>(model_->rows.size())
                   ? model_->rows[static_cast<std::size_t>(row)].markImage
                   : -1;
    });
}

void CTarnpostView::SetMarkImage(int row, int image) {
    if (Valid(row)) {
        model_->rows[static_cast<std::size_t>(row)].markImage = image;
        model_->Changed(row, kColumnMark, kColumnMark);
    }
}

bool CTarnpostView::IsSelected(int row) const {
    return OnUiThread(
        [&] { return row >= 0 && row < model_->shown && selectionModel()->isRowSelected(row, {}); });
}

void CTarnpostView::SetSelected(int row, bool selected) {
    if (!Valid(row)) {
        return;
    }
    Flush();
    const auto command =
        (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows;
    selectionModel()->select(model_->index(row, 0), command);
}

int CTarnpostView::CurrentRow() const {
    return OnUiThread([&] { return currentRow_; });
}

void CTarnpostView::EnsureVisible(int row) {
    if (Valid(row)) {
        pendingVisible_ = row;
        ScheduleFlush();
    }
}

void CTarnpostView::ClearSortIndicator() {
    header_->SetSortArrow(-1, false);
}

int CTarnpostView::PartsImage(int row) const {
    return Valid(row) ? model_->rows[static_cast<std::size_t>(row)].partsImage : -1;
}

QString CTarnpostView::Text(int row, int column) const {
    return Valid(row) ? MessageListModel::ColumnText(model_->rows[static_cast<std::size_t>(row)], column)
                      : QString();
}

void CTarnpostView::ScheduleFlush() {
    if (!flushTimer_.isActive()) {
        flushTimer_.start();
    }
}

void CTarnpostView::Flush() {
    flushTimer_.stop();
    model_->Flush();
    if (pendingVisible_ >= 0 && pendingVisible_ < model_->shown) {
        scrollTo(model_->index(pendingVisible_, 0));
    }
    pendingVisible_ = -1;
}

// ------------------------------------------------------------ marks and commands

void CTarnpostView::SetMark(int row, int image) {
    if (!Valid(row)) {
        return;
    }
    ListRow& r = model_->rows[static_cast<std::size_t>(row)];
    r.markImage = image;
    if (r.entry != nullptr) {
        r.entry->mark = static_cast<std::int16_t>(image);
    }
    model_->Changed(row, kColumnMark, kColumnMark);
}

void CTarnpostView::ToggleMark(int row) {
    if (Valid(row)) {
        SetMark(row, model_->rows[static_cast<std::size_t>(row)].markImage == kImageMarked ? kImageUnmarked
                                                                                           : kImageMarked);
    }
}

bool CTarnpostView::OnCommand(int id) {
    switch (id) {
        case ID_MARK:
        case ID_UNMARK: {
            const int image = id == ID_MARK ? kImageMarked : kImageUnmarked;
            for (const QItemSelectionRange& range : selectionModel()->selection()) {
                for (int row = range.top(); row <= range.bottom(); ++row) {
                    SetMark(row, image);
                }
            }
            return true;
        }
        case ID_SELECT_ALL:
            Flush();
            selectAll();
            return true;
        default:
            return false;
    }
}

bool CTarnpostView::IsCommandEnabled(int id) const {
    if (id == ID_MAIL_SAVE) {
        return selectionModel()->hasSelection();
    }
    return true;
}

std::unique_ptr<QMenu> CTarnpostView::MakeContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    auto add = [&](int id, const char* text) {
        QAction* action = menu->addAction(SystemText(text));
        action->setData(id);
        action->setEnabled(IsCommandEnabled(id));
        return action;
    };
    QAction* mark = add(ID_MARK, "ﾏｰｸする(&D)");
    QFont bold = mark->font();
    bold.setBold(true);
    mark->setFont(bold);
    menu->setDefaultAction(mark);
    add(ID_UNMARK, "ﾏｰｸをはずす(&C)");
    menu->addSeparator();
    add(ID_MAIL_VIEW, "ビュー(&V)");
    add(ID_MAIL_SAVE, "ﾒｰﾙ保存(&A)\tCtrl+S");
    return menu;
}

void CTarnpostView::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu = MakeContextMenu();
    const QPoint at =
        event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(5, 5)) : event->globalPos();
    QAction* chosen = menu->exec(at);
    if (chosen == nullptr) {
        return;
    }
    const int id = chosen->data().toInt();
    if (!OnCommand(id)) {
        emit frameCommand(id);
    }
}

// ------------------------------------------------------------ keys and mouse

void CTarnpostView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
            if (!event->isAutoRepeat() && !keyRepeatGuard_ && Valid(currentRow_)) {
                keyRepeatGuard_ = true;
                ToggleMark(currentRow_);
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!event->isAutoRepeat() && !keyRepeatGuard_ && Valid(currentRow_)) {
                keyRepeatGuard_ = true;
                const int row = currentRow_;
                SetMark(row, kImageMarked);
                SetSelected(row, false);
                if (row + 1 < RowCount()) {
                    const QModelIndex next = model_->index(row + 1, 0);
                    selectionModel()->setCurrentIndex(next, QItemSelectionModel::NoUpdate);
                    SetSelected(row + 1, true);
                }
            }
            break;
        case Qt::Key_F5:
            if (engine_ != nullptr) {
                engine_->StartOperation(kOperationList);
            }
            event->accept();
            return;
        case Qt::Key_F4:
            emit accountSelectorRequested();
            event->accept();
            return;
        default:
            break;
    }
    QTreeView::keyPressEvent(event);
}

void CTarnpostView::keyReleaseEvent(QKeyEvent* event) {
    // A held key repeats as press and release pairs: only a real release
    // ends the press.
    if (!event->isAutoRepeat()) {
        keyRepeatGuard_ = false;
    }
    QTreeView::keyReleaseEvent(event);
}

void CTarnpostView::mousePressEvent(QMouseEvent* event) {
    dragArmed_ = false;
    if (event->button() == Qt::LeftButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid() && index.column() == kColumnMark) {
            ToggleMark(index.row());
        } else if (index.isValid()) {
            dragArmed_ = true;
            dragStart_ = event->position().toPoint();
        }
    }
    QTreeView::mousePressEvent(event);
}

// ------------------------------------------------------------ drag

void CTarnpostView::mouseMoveEvent(QMouseEvent* event) {
    if (dragArmed_ && (event->buttons() & Qt::LeftButton) &&
        (event->position().toPoint() - dragStart_).manhattanLength() >= QApplication::startDragDistance()) {
        dragArmed_ = false;
        RunDrag();
        return;
    }
    QTreeView::mouseMoveEvent(event);
}

void CTarnpostView::mouseReleaseEvent(QMouseEvent* event) {
    dragArmed_ = false;
    QTreeView::mouseReleaseEvent(event);
}

std::unique_ptr<MailDragData> CTarnpostView::MakeDragData() {
    if (!dropRetrieval) {
        return nullptr;
    }
    NameSelectedRows(*this, fileNames, std::string());
    if (fileNames.Empty()) {
        return nullptr;
    }
    std::string folder = MakeDragFolder();
    if (folder.empty()) {
        fileNames.Clear();
        return nullptr;
    }
    std::vector<std::string> files;
    for (int row = 0; row < RowCount(); ++row) {
        if (IsSelected(row)) {
            if (const std::string* name = fileNames.Find(RowEntry(row))) {
                files.push_back(DiskFileName(*name));
            }
        }
    }
    auto retrieval = dropRetrieval;
    return std::make_unique<MailDragData>(folder, std::move(files),
                                          [retrieval, folder] { return retrieval(folder); });
}

void CTarnpostView::RunDrag() {
    std::unique_ptr<MailDragData> offered = MakeDragData();
    if (!offered) {
        return;
    }
    const std::string folder = offered->Folder();
    const std::vector<std::string> files = offered->Files();
    auto* drag = new QDrag(this);
    drag->setMimeData(offered.release());
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    // The target has taken its copies by now, or never will.
    RemoveDragFolder(folder, files);
    fileNames.Clear();
}

// ------------------------------------------------------------ sort

void CTarnpostView::SortByColumn(int column) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    Flush();
    const int row = currentRow_;
    if (Valid(row)) {
        SetSelected(row, false);
    }
    sortAscending = (column == sortColumn && sortAscending == 0) ? 1 : 0;
    sortColumn = column;
    const bool ascending = sortAscending != 0;
    header_->SetSortArrow(column, ascending);

    const auto& rows = model_->rows;
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    auto entryOf = [&](int i) -> const MailEntry& {
        const MailEntry* e = rows[static_cast<std::size_t>(i)].entry;
        return e != nullptr ? *e : EmptyEntry();
    };
    std::stable_sort(order.begin(), order.end(), [&](int left, int right) {
        const MailEntry& a = entryOf(left);
        const MailEntry& b = entryOf(right);
        int c = CompareColumn(a, b, column);
        if (c != 0) {
            return ascending ? c < 0 : c > 0;
        }
        for (int next = column + 1; next < kColumnCount; ++next) {
            c = CompareColumn(a, b, next);
            if (c != 0) {
                return c < 0;
            }
        }
        return CompareText(a.date, b.date) < 0;
    });
    model_->Reorder(order);

    if (Valid(row)) {
        selectionModel()->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
        SetSelected(row, true);
    }
}

// ------------------------------------------------------------ selection

void CTarnpostView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    if (!selected.isEmpty()) {
        // The row the user went to, or else the last of those just selected.
        const QModelIndex focus = selectionModel()->currentIndex();
        int row = -1;
        if (focus.isValid() && selected.contains(focus)) {
            row = focus.row();
        } else {
            for (const QItemSelectionRange& range : selected) {
                row = std::max(row, range.bottom());
            }
        }
        if (row >= 0) {
            currentRow_ = row;
        }
    }
    // Also when rows only left the selection, so the status bar never shows
    // a count that is no longer true.
    SendSelectionSummary();
    emit selectionStateChanged();
}

void CTarnpostView::SendSelectionSummary() {
    if (engine_ == nullptr || engine_->FrameWindow() == nullptr) {
        return;
    }
    const QItemSelection selection = selectionModel()->selection();
    std::uint32_t count = 0;
    std::uint32_t total = 0;
    std::vector<char> counted;
    if (selection.size() > 1) {
        counted.assign(static_cast<std::size_t>(model_->shown), 0);
    }
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom() && row < model_->shown; ++row) {
            if (!counted.empty()) {
                if (counted[static_cast<std::size_t>(row)]) {
                    continue;
                }
                counted[static_cast<std::size_t>(row)] = 1;
            }
            ++count;
            if (const MailEntry* entry = model_->rows[static_cast<std::size_t>(row)].entry) {
                total += entry->size;  // unsigned 32-bit, as the summary was always added up
            }
        }
    }
    engine_->FrameWindow()->Send(UM_SELECTIONINFO, static_cast<WParam>(count & 0xFFFF),
                                 static_cast<LParam>(SelectionSizeCode(total)));
}

}  // namespace wp
