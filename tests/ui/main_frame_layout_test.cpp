// The main window as a new user meets it with the demo's accounts: the
// account box wide enough for their names, and a sort arrow that always
// matches the order shown.

#include <gtest/gtest.h>

#include <QComboBox>
#include <fstream>

#include "accounts/account_files.h"
#include "frame_rig.h"
#include "mail/index_record.h"
#include "ui/message_list_view.h"

namespace wp {
namespace {

using test::FrameRig;

// The account's cache as a listing of one mail left it.
void WriteOneMailCache(const std::string& dataFolder, const std::string& account) {
    AccountFilePaths paths = AccountCacheFiles(account, dataFolder);
    const std::string block = "+OK\r\nSubject: one\r\n\r\n.\r\n";
    IndexRecord record;
    record.seq = record.msgNo = 1;
    record.size = 100;
    record.headerLength = static_cast<std::int32_t>(block.size());
    SetUid(record, "uid-one");
    IndexRecordBytes bytes = EncodeIndexRecord(record);
    std::ofstream(paths.index, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::ofstream(paths.header, std::ios::binary) << block;
}

TEST(MainFrameLayout, TheAccountBoxFitsTheDemosNamesWithinReason) {
    FrameRig rig;
    rig.AddAccount("アリス (USER/PASS)", "alice", "127.0.0.1:1", "wonderland");
    rig.AddAccount("ボブ (APOP)", "bob", "127.0.0.1:1", "builder");
    rig.Open();
    QComboBox* combo = rig.Combo();
    const QFontMetrics metrics(combo->font());
    EXPECT_GT(combo->width(), metrics.horizontalAdvance(QString::fromUtf8("アリス (USER/PASS)")) + 16);
    const int fitted = combo->width();
    rig.Close();

    FrameRig longer;
    longer.AddAccount(std::string(80, 'W'), "w", "127.0.0.1:1", "pw");
    longer.Open();
    EXPECT_LE(longer.Combo()->width(), 3 * fitted);
    EXPECT_LT(longer.Combo()->width(),
              QFontMetrics(longer.Combo()->font()).horizontalAdvance(QString(80, 'W')));
}

TEST(MainFrameLayout, TheSortArrowGoesWhenTheListIsReloadedInServerOrder) {
    FrameRig rig;
    rig.AddAccount("acc", "taro", "127.0.0.1:1", "pw");
    WriteOneMailCache(rig.DataFolder(), "acc");
    CMainFrame& frame = rig.Open();
    auto* list = static_cast<CTarnpostView*>(frame.ListWidget());
    ASSERT_TRUE(test::PumpUntil([&] { return frame.List().RowCount() == 1; }));
    list->SortByColumn(3);
    EXPECT_EQ(list->Header()->ArrowColumn(), 3);
    // What closing the account dialog does.
    frame.ReloadAccounts();
    ASSERT_TRUE(test::PumpUntil([&] { return list->Header()->ArrowColumn() == -1; }));
    EXPECT_EQ(frame.List().RowCount(), 1);
}

}  // namespace
}  // namespace wp
