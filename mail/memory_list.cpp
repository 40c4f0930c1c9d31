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
    return Valid(row) ? rows_[row]->entry : nullptr;
}

const std::unordered_map<const MailEntry*, int>& MemoryList::RowIndex() const {
    if (rowOfStale_) {
        rowOf_.clear();
        rowOf_.reserve(rows_.size());
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i]->entry != nullptr) {
                rowOf_.try_emplace(rows_[i]->entry, static_cast<int>(i));
            }
        }
        rowOfStale_ = false;
    }
    return rowOf_;
}

int MemoryList::FindRow(const MailEntry* entry) const {
    if (entry == nullptr) {
        return -1;
    }
    const auto& index = RowIndex();
    auto found = index.find(entry);
    return found == index.end() ? -1 : found->second;
}

int MemoryList::InsertRow(MailEntry* entry, int markImage) {
    Row row;
    row.entry = entry;
    row.markImage = markImage;
    if (entry != nullptr) {
        ShowEntry(row);
        if (!rowOfStale_) {
            rowOf_.try_emplace(entry, RowCount());
        }
    }
    rows_.push_back(std::make_unique<Row>(std::move(row)));
    return RowCount() - 1;
}

void MemoryList::Reorder(const std::vector<int>& order) {
    if (order.size() != rows_.size()) {
        return;
    }
    std::vector<bool> seen(rows_.size(), false);
    for (int from : order) {
        if (!Valid(from) || seen[static_cast<std::size_t>(from)]) {
            return;
        }
        seen[static_cast<std::size_t>(from)] = true;
    }
    std::vector<std::unique_ptr<Row>> sorted;
    sorted.reserve(rows_.size());
    for (int from : order) {
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(from)]));
    }
    rows_ = std::move(sorted);
    rowOfStale_ = true;
}

void MemoryList::UpdateRow(int row) {
    if (Valid(row) && rows_[row]->entry != nullptr) {
        ShowEntry(*rows_[row]);
    }
}

void MemoryList::DeleteRow(int row) {
    if (Valid(row)) {
        rows_.erase(rows_.begin() + row);
        rowOfStale_ = true;
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
    rowOfStale_ = true;
}

void MemoryList::DeleteAllRows() {
    rows_.clear();
    rowOf_.clear();
    rowOfStale_ = false;
}

void MemoryList::ReserveRows(int count) {
    if (count > 0) {
        rows_.reserve(static_cast<std::size_t>(count));
    }
}

int MemoryList::MarkImage(int row) const {
    return Valid(row) ? rows_[row]->markImage : -1;
}

void MemoryList::SetMarkImage(int row, int image) {
    if (Valid(row)) {
        rows_[row]->markImage = image;
    }
}

bool MemoryList::IsSelected(int row) const {
    return Valid(row) && rows_[row]->selected;
}

void MemoryList::SetSelected(int row, bool selected) {
    if (!Valid(row)) {
        return;
    }
    rows_[row]->selected = selected;
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
    return rows_[row]->texts[column];
}

int MemoryList::PartsImage(int row) const {
    return Valid(row) ? rows_[row]->partsImage : -1;
}

std::vector<int> MemoryList::SelectedRows() const {
    std::vector<int> selected;
    for (int i = 0; i < RowCount(); ++i) {
        if (rows_[i]->selected) {
            selected.push_back(i);
        }
    }
    return selected;
}

}  // namespace wp
