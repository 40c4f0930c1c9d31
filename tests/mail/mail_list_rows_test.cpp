// Deleting several rows at once, by the in-memory list and by the row-by-row
// way any list has: the same rows go, the rest keep their order.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/memory_list.h"

namespace wp {
namespace {

// A list that only knows how to delete one row: DeleteRows is the
// interface's own.
class RowByRowList final : public MailList {
public:
    int RowCount() const override { return inner.RowCount(); }
    MailEntry* RowEntry(int row) const override { return inner.RowEntry(row); }
    int FindRow(const MailEntry* entry) const override { return inner.FindRow(entry); }
    int InsertRow(MailEntry* entry, int markImage) override { return inner.InsertRow(entry, markImage); }
    void UpdateRow(int row) override { inner.UpdateRow(row); }
    void DeleteRow(int row) override { inner.DeleteRow(row); }
    void DeleteAllRows() override { inner.DeleteAllRows(); }
    void ReserveRows(int count) override { inner.ReserveRows(count); }
    int MarkImage(int row) const override { return inner.MarkImage(row); }
    void SetMarkImage(int row, int image) override { inner.SetMarkImage(row, image); }
    bool IsSelected(int row) const override { return inner.IsSelected(row); }
    void SetSelected(int row, bool selected) override { inner.SetSelected(row, selected); }
    int CurrentRow() const override { return inner.CurrentRow(); }
    void EnsureVisible(int row) override { inner.EnsureVisible(row); }
    void ClearSortIndicator() override { inner.ClearSortIndicator(); }

    MemoryList inner;
};

TEST(MailListRows, DeletingSeveralRowsKeepsTheOthersInOrder) {
    struct Case {
        const char* name;
        std::vector<int> rows;
        std::vector<std::string> left;
    } cases[] = {
        {"none", {}, {"a", "b", "c", "d", "e"}},
        {"front ones", {0, 1}, {"c", "d", "e"}},
        {"scattered, unordered", {4, 0, 2}, {"b", "d"}},
        {"repeats and rows that do not exist", {1, 1, -1, 9, 3}, {"a", "c", "e"}},
        {"all", {0, 1, 2, 3, 4}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<MailEntry>> entries;
        MemoryList memory;
        RowByRowList byRow;
        for (const char* subject : {"a", "b", "c", "d", "e"}) {
            entries.push_back(std::make_unique<MailEntry>());
            entries.back()->subject = subject;
            memory.InsertRow(entries.back().get(), kImageUnmarked);
            byRow.InsertRow(entries.back().get(), kImageUnmarked);
        }
        memory.SetMarkImage(4, kImageMarked);
        memory.DeleteRows(c.rows);
        byRow.DeleteRows(c.rows);
        for (const MailList* list :
             {static_cast<const MailList*>(&memory), static_cast<const MailList*>(&byRow)}) {
            std::vector<std::string> left;
            for (int row = 0; row < list->RowCount(); ++row) {
                left.push_back(list->RowEntry(row)->subject);
            }
            EXPECT_EQ(left, c.left);
        }
        int e = memory.FindRow(entries[4].get());
        if (e >= 0) {
            EXPECT_EQ(memory.MarkImage(e), kImageMarked) << "a row keeps its own images";
            EXPECT_EQ(memory.Text(e, kColumnSubject), "e");
        }
    }
}

}  // namespace
}  // namespace wp
