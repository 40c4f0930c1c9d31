#include "ui/placeholder_list.h"

#include <QHeaderView>
#include <limits>

#include "decode/date_size_text.h"
#include "mail/memory_list.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/images.h"

namespace wp {
namespace {

constexpr int kEntryRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

MailEntry* EntryOf(const QTreeWidgetItem* item) {
    return item != nullptr ? static_cast<MailEntry*>(item->data(0, kEntryRole).value<void*>()) : nullptr;
}

}  // namespace

PlaceholderList::PlaceholderList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setIconSize(QSize(16, 16));
    setColumnCount(kColumnCount);
    setHeaderLabels({QString(), Cp932ToQString(Sjis("送信者")), QString(), Cp932ToQString(Sjis("件名")),
                     Cp932ToQString(Sjis("日時")), Cp932ToQString(Sjis("ｻｲｽﾞ"))});
    static const int kWidths[kColumnCount] = {18 + 8, 120, 18 + 8, 150, 130, 50};
    for (int c = 0; c < kColumnCount; ++c) {
        setColumnWidth(c, kWidths[c]);
    }
    headerItem()->setTextAlignment(kColumnSize, Qt::AlignRight | Qt::AlignVCenter);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] { NoteSelection(); });
}

int PlaceholderList::RowCount() const {
    return topLevelItemCount();
}

MailEntry* PlaceholderList::RowEntry(int row) const {
    return EntryOf(topLevelItem(row));
}

int PlaceholderList::FindRow(const MailEntry* entry) const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (EntryOf(topLevelItem(i)) == entry) {
            return i;
        }
    }
    return -1;
}

int PlaceholderList::InsertRow(MailEntry* entry, int markImage) {
    auto* item = new QTreeWidgetItem;
    item->setData(0, kEntryRole, QVariant::fromValue(static_cast<void*>(entry)));
    item->setTextAlignment(kColumnSize, Qt::AlignRight | Qt::AlignVCenter);
    addTopLevelItem(item);
    ShowEntry(item);
    SetMarkImage(topLevelItemCount() - 1, markImage);
    return topLevelItemCount() - 1;
}

void PlaceholderList::ShowEntry(QTreeWidgetItem* item) const {
    const MailEntry* entry = EntryOf(item);
    if (entry == nullptr) {
        return;
    }
    item->setIcon(kColumnParts, RowImage(entry->hasParts ? kImageParts : kImagePlain));
    item->setText(kColumnFrom, Cp932ToQString(entry->from));
    item->setText(kColumnSubject, Cp932ToQString(entry->subject));
    item->setText(kColumnDate, Cp932ToQString(entry->date));
    item->setText(kColumnSize, Cp932ToQString(SizeColumnText(entry->size)).trimmed());
}

void PlaceholderList::UpdateRow(int row) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        ShowEntry(item);
    }
}

void PlaceholderList::DeleteRow(int row) {
    delete takeTopLevelItem(row);
}

void PlaceholderList::DeleteAllRows() {
    clear();
    currentRow_ = -1;
}

void PlaceholderList::ReserveRows(int /*count*/) {}

int PlaceholderList::MarkImage(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? item->data(kColumnMark, kImageRole).toInt() : -1;
}

void PlaceholderList::SetMarkImage(int row, int image) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        item->setData(kColumnMark, kImageRole, image);
        item->setIcon(kColumnMark, RowImage(image));
    }
}

bool PlaceholderList::IsSelected(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr && item->isSelected();
}

void PlaceholderList::SetSelected(int row, bool selected) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        item->setSelected(selected);
        if (selected) {
            currentRow_ = row;
        }
    }
}

int PlaceholderList::CurrentRow() const {
    return currentRow_;
}

void PlaceholderList::EnsureVisible(int row) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        scrollToItem(item);
    }
}

void PlaceholderList::ClearSortIndicator() {
    header()->setSortIndicatorShown(false);
}

void PlaceholderList::MarkSelected(bool marked) {
    for (int row = 0; row < topLevelItemCount(); ++row) {
        if (!IsSelected(row)) {
            continue;
        }
        SetMarkImage(row, marked ? kImageMarked : kImageUnmarked);
        if (MailEntry* entry = RowEntry(row)) {
            entry->mark = static_cast<std::int16_t>(marked ? 1 : 2);
        }
    }
}

int PlaceholderList::SelectedCount() const {
    return static_cast<int>(selectedItems().size());
}

std::uint32_t PlaceholderList::SelectedSize() const {
    std::uint64_t sum = 0;
    for (const QTreeWidgetItem* item : selectedItems()) {
        if (const MailEntry* entry = EntryOf(item)) {
            sum += entry->size;
        }
    }
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(sum, std::numeric_limits<std::uint32_t>::max()));
}

void PlaceholderList::NoteSelection() {
    QTreeWidgetItem* item = currentItem();
    if (item != nullptr && item->isSelected()) {
        currentRow_ = indexOfTopLevelItem(item);
    }
    const int count = SelectedCount();
    if (count > 0 && selectionChanged) {
        selectionChanged(count, SelectedSize());
    }
}

}  // namespace wp
