#include "mail/memory_list.h"

#include "decode/date_size_text.h"

namespace wp {

void MemoryList::ShowEntry(Row& row) {
    const MailEntry& entry = *row.entry;
    row.partsImage = entry.hasParts ? kImageParts : kImagePlain;
    row.texts[kColumnFrom] = entry.from;
    row.texts[kColumnSubject] = entry.subject;
    row.texts[kColumnDate] = entry.date;
    row.texts[kColumnSize] = SizeColumnText(entry.size);
}

int MemoryList::RowCount() const {
    return static_cast<int>(rows_.size());
}

MailEntry* MemoryList::RowEntry(int row) const {
    return Valid(row) ? rows_[row].entry : nullptr;
}

int MemoryList::FindRow(const MailEntry* entry) const {
    for (int i = 0; i < RowCount(); ++i) {
        if (rows_[i].entry == entry) {
            return i;
        }
    }
    return -1;
}

int MemoryList::InsertRow(MailEntry* entry, int markImage) {
    Row row;
    row.entry = entry;
    row.markImage = markImage;
    if (entry != nullptr) {
        ShowEntry(row);
    }
    rows_.push_back(std::move(row));
    return RowCount() - 1;
}

void MemoryList::UpdateRow(int row) {
    if (Valid(row) && rows_[row].entry != nullptr) {
        ShowEntry(rows_[row]);
    }
}

void MemoryList::DeleteRow(int row) {
    if (Valid(row)) {
        rows_.erase(rows_.begin() + row);
    }
}

void MemoryList::DeleteRows(std::vector<int> rows) {
    std::vector<bool> doomed(rows_.size(), false);
    for (int row : rows) {
        if (Valid(row)) {
            doomed[static_cast<std::size_t>(row)] = true;
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!doomed[i]) {
            if (kept != i) {
                rows_[kept] = std::move(rows_[i]);
            }
            ++kept;
        }
    }
    rows_.resize(kept);
}

void MemoryList::DeleteAllRows() {
    rows_.clear();
}

void MemoryList::ReserveRows(int count) {
    if (count > 0) {
        rows_.reserve(static_cast<std::size_t>(count));
    }
}

int MemoryList::MarkImage(int row) const {
    return Valid(row) ? rows_[row].markImage : -1;
}

void MemoryList::SetMarkImage(int row, int image) {
    if (Valid(row)) {
        rows_[row].markImage = image;
    }
}

bool MemoryList::IsSelected(int row) const {
    return Valid(row) && rows_[row].selected;
}

void MemoryList::SetSelected(int row, bool selected) {
    if (!Valid(row)) {
        return;
    }
    rows_[row].selected = selected;
    if (selected) {
        currentRow_ = row;
    }
}

int MemoryList::CurrentRow() const {
    return currentRow_;
}

void MemoryList::EnsureVisible(int row) {
    if (Valid(row)) {
        lastVisible_ = row;
    }
}

void MemoryList::ClearSortIndicator() {
    ++sortIndicatorClears_;
}

std::string MemoryList::Text(int row, int column) const {
    if (!Valid(row) || column < 0 || column >= kColumnCount) {
        return {};
    }
    return rows_[row].texts[column];
}

int MemoryList::PartsImage(int row) const {
    return Valid(row) ? rows_[row].partsImage : -1;
}

std::vector<int> MemoryList::SelectedRows() const {
    std::vector<int> selected;
    for (int i = 0; i < RowCount(); ++i) {
        if (rows_[i].selected) {
            selected.push_back(i);
        }
    }
    return selected;
}

}  // namespace wp
