#pragma once
// The message list without a window: what tests and wrenpost-cli show. Rows
// keep the texts and images the list view would show; entries are not owned.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mail/mail_list.h"

namespace wp {

// Columns in insertion order.
inline constexpr int kColumnParts = 0;    // image 3 or 4
inline constexpr int kColumnFrom = 1;     // "送信者"
inline constexpr int kColumnMark = 2;     // image 1 or 2
inline constexpr int kColumnSubject = 3;  // "件名"
inline constexpr int kColumnDate = 4;     // "日時"
inline constexpr int kColumnSize = 5;     // "ｻｲｽﾞ"
inline constexpr int kColumnCount = 6;

class MemoryList final : public MailList {
public:
    int RowCount() const override;
    MailEntry* RowEntry(int row) const override;
    int FindRow(const MailEntry* entry) const override;

    int InsertRow(MailEntry* entry, int markImage) override;
    void UpdateRow(int row) override;
    void DeleteRow(int row) override;
    void DeleteRows(std::vector<int> rows) override;
    void DeleteAllRows() override;
    void ReserveRows(int count) override;

    int MarkImage(int row) const override;
    void SetMarkImage(int row, int image) override;

    bool IsSelected(int row) const override;
    void SetSelected(int row, bool selected) override;
    // Like the view's own member it is not moved when rows are deleted.
    int CurrentRow() const override;

    void EnsureVisible(int row) override;
    void ClearSortIndicator() override;

    // What the row shows in a text column (1, 3, 4, 5), CP932; empty for an
    // image column or a row that does not exist.
    std::string Text(int row, int column) const;
    // Column 0's image; -1 when the row does not exist.
    int PartsImage(int row) const;
    std::vector<int> SelectedRows() const;
    // The row last scrolled into view; -1 when none.
    int LastVisibleRow() const { return lastVisible_; }
    // The rows in a new order, as a sort of the list view leaves them:
    // order[i] is the row that goes to position i (a permutation of the
    // rows; anything else changes nothing).
    void Reorder(const std::vector<int>& order);
    int SortIndicatorClears() const { return sortIndicatorClears_; }

private:
    struct Row {
        MailEntry* entry = nullptr;
        int partsImage = kImagePlain;
        int markImage = kImageUnmarked;
        bool selected = false;
        std::string texts[kColumnCount];
    };

    bool Valid(int row) const { return row >= 0 && row < RowCount(); }
    static void ShowEntry(Row& row);

    // entry -> its first row; rebuilt after a change that moves rows.
    const std::unordered_map<const MailEntry*, int>& RowIndex() const;

    // Rows by pointer: deleting one near the top of a long list moves
    // pointers, not every row's texts.
    std::vector<std::unique_ptr<Row>> rows_;
    mutable std::unordered_map<const MailEntry*, int> rowOf_;
    mutable bool rowOfStale_ = false;
    int currentRow_ = -1;
    int lastVisible_ = -1;
    int sortIndicatorClears_ = 0;
};

}  // namespace wp
