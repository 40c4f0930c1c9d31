// Writing list rows from header summaries, and the in-memory list that shows them.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "mail/mail_list.h"
#include "mail/memory_list.h"

namespace wp {
namespace {

HeaderSummary Summary(std::uint32_t id, int hasParts, const char* subject, std::uint32_t size = 1234) {
    HeaderSummary s;
    s.id = id;
    s.hasParts = hasParts;
    s.from = " sender";
    s.subject = subject;
    s.date = "2005/03/07 09:05:00 ";
    s.size = size;
    return s;
}

class PutEntryRowTest : public testing::Test {
protected:
    // Appended entries belong to the caller.
    MailEntry* Keep(MailEntry* entry) {
        owned_.emplace_back(entry);
        return entry;
    }

    MemoryList list_;
    std::vector<std::unique_ptr<MailEntry>> owned_;
};

TEST_F(PutEntryRowTest, AppendMakesAnUnmarkedRow) {
    MailEntry* plain = Keep(PutEntryRow(list_, Summary(1, 0, "first", 512), nullptr));
    MailEntry* parts = Keep(PutEntryRow(list_, Summary(2, 1, "second", 70000), nullptr));
    ASSERT_NE(plain, nullptr);
    ASSERT_EQ(list_.RowCount(), 2);

    EXPECT_EQ(list_.RowEntry(0), plain);
    EXPECT_EQ(list_.RowEntry(1), parts);
    EXPECT_EQ(plain->id, 1u);
    EXPECT_EQ(parts->id, 2u);
    EXPECT_EQ(plain->mark, 0);
    EXPECT_EQ(list_.MarkImage(0), kImageUnmarked);
    EXPECT_EQ(list_.PartsImage(0), kImagePlain);
    EXPECT_EQ(list_.PartsImage(1), kImageParts);
    EXPECT_EQ(parts->hasParts, 1);

    EXPECT_EQ(list_.Text(0, kColumnFrom), " sender");
    EXPECT_EQ(list_.Text(0, kColumnSubject), "first");
    EXPECT_EQ(list_.Text(0, kColumnDate), "2005/03/07 09:05:00 ");
    EXPECT_EQ(list_.Text(0, kColumnSize), "       512");
    EXPECT_EQ(list_.Text(1, kColumnSize), "     70000");
    EXPECT_EQ(parts->size, 70000u);
}

TEST_F(PutEntryRowTest, IdZeroGivesAnEntryWithoutARow) {
    MailEntry* entry = Keep(PutEntryRow(list_, Summary(0, 1, "deleted"), nullptr));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(list_.RowCount(), 0);
    EXPECT_EQ(entry->id, 0u);
}

TEST_F(PutEntryRowTest, UpdateKeepsTheMarkTheUserSet) {
    MailEntry* entry = Keep(PutEntryRow(list_, Summary(1, 0, "old"), nullptr));
    Keep(PutEntryRow(list_, Summary(2, 0, "other"), nullptr));
    list_.SetMarkImage(0, kImageMarked);
    entry->id = 5;  // the listing renumbers before it updates

    MailEntry* updated = PutEntryRow(list_, Summary(9, 1, "new", 99), entry);
    EXPECT_EQ(updated, entry);
    EXPECT_EQ(list_.RowCount(), 2);
    EXPECT_EQ(entry->mark, 1);
    EXPECT_EQ(list_.MarkImage(0), kImageMarked);
    EXPECT_EQ(entry->id, 5u);
    EXPECT_EQ(list_.Text(0, kColumnSubject), "new");
    EXPECT_EQ(list_.Text(0, kColumnSize), "        99");
    EXPECT_EQ(list_.PartsImage(0), kImageParts);
    EXPECT_EQ(list_.Text(1, kColumnSubject), "other");
}

TEST_F(PutEntryRowTest, UpdateWithIdZeroLeavesTheRow) {
    MailEntry* entry = Keep(PutEntryRow(list_, Summary(1, 0, "kept"), nullptr));
    EXPECT_EQ(PutEntryRow(list_, Summary(0, 1, "ignored"), entry), entry);
    EXPECT_EQ(list_.Text(0, kColumnSubject), "kept");
    EXPECT_EQ(entry->hasParts, 0);
}

TEST_F(PutEntryRowTest, UpdateOfAnEntryWithoutARowChangesNothing) {
    Keep(PutEntryRow(list_, Summary(1, 0, "only"), nullptr));
    MailEntry stray;
    stray.subject = "stray";
    EXPECT_EQ(PutEntryRow(list_, Summary(2, 0, "x"), &stray), nullptr);
    EXPECT_EQ(list_.RowCount(), 1);
    EXPECT_EQ(stray.subject, "stray");
    EXPECT_EQ(list_.Text(0, kColumnSubject), "only");
}

TEST(MemoryList, SelectionAndCurrentRow) {
    MemoryList list;
    MailEntry a, b, c;
    list.InsertRow(&a, kImageUnmarked);
    list.InsertRow(&b, kImageUnmarked);
    list.InsertRow(&c, kImageMarked);
    EXPECT_EQ(list.CurrentRow(), -1);
    list.SetSelected(2, true);
    list.SetSelected(0, true);
    EXPECT_EQ(list.CurrentRow(), 0);
    list.SetSelected(0, false);
    EXPECT_EQ(list.CurrentRow(), 0);
    EXPECT_EQ(list.SelectedRows(), std::vector<int>{2});

    EXPECT_EQ(list.FindRow(&b), 1);
    list.DeleteRow(1);
    EXPECT_EQ(list.FindRow(&b), -1);
    EXPECT_EQ(list.FindRow(&c), 1);
    EXPECT_EQ(list.MarkImage(1), kImageMarked);
    EXPECT_TRUE(list.IsSelected(1));

    // Rows that do not exist are answered, never touched.
    EXPECT_EQ(list.RowEntry(5), nullptr);
    EXPECT_EQ(list.MarkImage(-1), -1);
    list.SetMarkImage(9, kImageMarked);
    list.SetSelected(9, true);
    EXPECT_EQ(list.CurrentRow(), 0);
    EXPECT_EQ(list.Text(9, kColumnFrom), "");

    list.DeleteAllRows();
    EXPECT_EQ(list.RowCount(), 0);
}

}  // namespace
}  // namespace wp
