// The message list through its real widget, offscreen: rows, the sort on a
// header click, marks from keys, mouse and commands, the column layout kept
// over a restart and the selection summary on the status bar.

#include "ui/message_list_view.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <atomic>
#include <optional>
#include <thread>

#include "list_rig.h"
#include "mail/add_mail_to_list.h"
#include "platform/text.h"

namespace wp {
namespace {

using test::ListRig;
using test::PumpUntil;

std::string Utf8(const QString& s) {
    return s.toStdString();
}

// The senders of the rows, top to bottom (the tests name rows by sender).
std::vector<std::string> Senders(const CTarnpostView& view) {
    std::vector<std::string> out;
    for (int row = 0; row < view.RowCount(); ++row) {
        out.push_back(Utf8(view.Text(row, kColumnFrom)));
    }
    return out;
}

std::vector<int> SelectedRows(const CTarnpostView& view) {
    std::vector<int> rows;
    for (int row = 0; row < view.RowCount(); ++row) {
        if (view.IsSelected(row)) {
            rows.push_back(row);
        }
    }
    return rows;
}

void ResetSortState() {
    // As at the start of the program.
    CTarnpostView::sortColumn = 0;
    CTarnpostView::sortAscending = 0;
}

TEST(MessageListView, RowsShowTheKindOfMailAndAnEntryWithoutIdGetsNoRow) {
    struct Case {
        const char* what;
        const char* header;  // between the status line and the empty line
        std::uint32_t id;
        int image;  // -1: no row
    } cases[] = {
        {"multipart/mixed", "Content-Type: multipart/mixed; boundary=\"b\"\r\n", 1, kImageParts},
        {"text/plain with a charset", "Content-Type: text/plain; charset=ISO-2022-JP\r\n", 2, kImagePlain},
        {"no Content-Type", "", 3, kImagePlain},
        {"id 0", "Content-Type: multipart/mixed; boundary=\"b\"\r\n", 0, -1},
    };
    ListRig rig;
    test::ScriptedPrompt prompt;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = rig.view->RowCount();
        std::string block =
            std::string("+OK\r\nFrom: a@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCJCIkJBsoQg==?=\r\n") +
            c.header + "Date: Mon, 7 Mar 2005 09:05:00 +0900\r\n\r\n.\r\n";
        std::unique_ptr<MailEntry> entry(
            AddMailToList(*rig.view, block.data(), block.size(), 1234, c.id, nullptr, prompt));
        ASSERT_NE(entry, nullptr) << "an entry always comes back";
        if (c.image < 0) {
            EXPECT_EQ(rig.view->RowCount(), before);
            continue;
        }
        ASSERT_EQ(rig.view->RowCount(), before + 1);
        const int row = before;
        EXPECT_EQ(rig.view->RowEntry(row), entry.get());
        EXPECT_EQ(rig.view->PartsImage(row), c.image);
        EXPECT_EQ(rig.view->MarkImage(row), kImageUnmarked);
        EXPECT_EQ(Utf8(rig.view->Text(row, kColumnSubject)), "あい");
        EXPECT_EQ(Utf8(rig.view->Text(row, kColumnDate)), "2005/03/07 09:05:00 ");
        EXPECT_EQ(Utf8(rig.view->Text(row, kColumnSize)), "1234");
        rig.entries.push_back(std::move(entry));
    }
    // The rows reach the widget by themselves.
    ASSERT_TRUE(PumpUntil([&] { return rig.view->model()->rowCount() == 3; }));

    // An update in place keeps the mark the user set.
    rig.view->SetMarkImage(0, kImageMarked);
    HeaderSummary again;
    again.id = 1;
    again.subject = "new";
    EXPECT_EQ(PutEntryRow(*rig.view, again, rig.entries[0].get()), rig.entries[0].get());
    EXPECT_EQ(rig.view->MarkImage(0), kImageMarked);
    EXPECT_EQ(rig.entries[0]->mark, kImageMarked);
    EXPECT_EQ(rig.view->PartsImage(0), kImagePlain);
    EXPECT_EQ(Utf8(rig.view->Text(0, kColumnSubject)), "new");
}

TEST(MessageListView, HeaderClicksSortAsTheColumnsPromise) {
    struct Row {
        const char* from;
        const char* subject;
        const char* date;
        std::uint32_t size;
        bool parts;
    };
    struct Step {
        std::vector<std::string> senders;
        bool arrowUp;
    };
    struct Case {
        const char* what;
        std::vector<Row> rows;
        int column;
        std::vector<Step> steps;  // after each click on the column
    };
    const std::vector<Row> dated = {
        {"mar", "x", "2005/03/07 09:05:00 ", 10, false},
        {"dec", "x", "2004/12/31 23:59:59 ", 10, false},
        {"nov", "x", "2005/11/01 08:00:00 ", 10, false},
    };
    const std::vector<Case> cases = {
        {"date: newest first, then oldest first",
         dated,
         kColumnDate,
         {{{"nov", "mar", "dec"}, false}, {{"dec", "mar", "nov"}, true}, {{"nov", "mar", "dec"}, false}}},
        {"size twice",
         {{"300", "x", "d", 300, false}, {"20", "x", "d", 20, false}, {"1000", "x", "d", 1000, false}},
         kColumnSize,
         {{{"1000", "300", "20"}, false}, {{"20", "300", "1000"}, true}}},
        {"equal subjects go by date, then size",
         {{"late", "same", "2005/02/01", 5, false},
          {"a-big", "same", "2005/01/01", 9, false},
          {"zzz", "zzz", "2005/01/01", 1, false},
          {"a-small", "same", "2005/01/01", 3, false},
          {"aaa", "aaa", "2005/01/01", 1, false}},
         kColumnSubject,
         {{{"zzz", "a-small", "a-big", "late", "aaa"}, false}}},
        {"the first click on column 0 after start goes ascending",
         {{"p1", "x", "d", 1, true},
          {"n2", "x", "d", 1, false},
          {"p0", "x", "d", 1, true},
          {"n1", "x", "d", 1, false}},
         kColumnParts,
         {{{"n1", "n2", "p0", "p1"}, true}, {{"p0", "p1", "n1", "n2"}, false}}},
        {"double-byte characters compare as whole characters",
         {{"あ", "x", "d", 1, false}, {"ｱ", "x", "d", 1, false}, {"A", "x", "d", 1, false}},
         kColumnFrom,
         {{{"あ", "ｱ", "A"}, false}, {{"A", "ｱ", "あ"}, true}}},
        {"rows equal in every key keep their order",
         {{"first", "s", "d", 1, false}, {"second", "s", "d", 1, false}, {"third", "s", "d", 1, false}},
         kColumnSubject,
         {{{"first", "second", "third"}, false}, {{"first", "second", "third"}, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSortState();
        ListRig rig;
        for (const Row& r : c.rows) {
            rig.Add(r.from, r.subject, r.date, r.size, r.parts);
        }
        EXPECT_EQ(rig.view->Header()->ArrowColumn(), -1);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("click " + std::to_string(i + 1));
            rig.ClickHeader(c.column);
            EXPECT_EQ(Senders(*rig.view), c.steps[i].senders);
            EXPECT_EQ(rig.view->Header()->ArrowColumn(), c.column);
            EXPECT_EQ(rig.view->Header()->ArrowUp(), c.steps[i].arrowUp);
        }
        rig.view->ClearSortIndicator();
        EXPECT_EQ(rig.view->Header()->ArrowColumn(), -1);
    }
}

TEST(MessageListView, SortSelectsTheRowAtTheCurrentPositionAgain) {
    ResetSortState();
    ListRig rig;
    rig.Add("b", "x", "d", 2);
    rig.Add("c", "x", "d", 3);
    rig.Add("a", "x", "d", 1);
    rig.Click(0, kColumnFrom);
    rig.Click(1, kColumnFrom, Qt::ControlModifier);
    ASSERT_EQ(rig.view->CurrentRow(), 1);
    rig.ClickHeader(kColumnSize);  // c, b, a
    ASSERT_EQ(Senders(*rig.view), (std::vector<std::string>{"c", "b", "a"}));
    // "b" kept its selection as it moved; "c" left it, and the mail now at
    // position 1 got it.
    EXPECT_EQ(SelectedRows(*rig.view), (std::vector<int>{1}));
    EXPECT_EQ(rig.view->currentIndex().row(), 1);
    EXPECT_EQ(rig.view->CurrentRow(), 1);

    rig.Click(2, kColumnFrom);     // only "a"
    rig.ClickHeader(kColumnSize);  // a, b, c
    EXPECT_EQ(Senders(*rig.view), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SelectedRows(*rig.view), (std::vector<int>{2}));
}

struct KeyStep {
    QEvent::Type type;
    Qt::Key key;
    bool autoRepeat;
};

TEST(MessageListView, HoldingSpaceTogglesTheMarkOncePerPress) {
    const KeyStep press{QEvent::KeyPress, Qt::Key_Space, false};
    const KeyStep release{QEvent::KeyRelease, Qt::Key_Space, false};
    const KeyStep repeatPress{QEvent::KeyPress, Qt::Key_Space, true};
    const KeyStep repeatRelease{QEvent::KeyRelease, Qt::Key_Space, true};
    struct Case {
        const char* what;
        std::vector<KeyStep> steps;
        int image;
    } cases[] = {
        {"held, repeating as press and release pairs",
         {press, repeatRelease, repeatPress, repeatRelease, repeatPress, repeatRelease, repeatPress, release},
         kImageMarked},
        {"held, repeating as presses alone", {press, press, press, press, release}, kImageMarked},
        {"another key let go while Space is held",
         {press,
          repeatRelease,
          repeatPress,
          {QEvent::KeyPress, Qt::Key_Shift, false},
          {QEvent::KeyRelease, Qt::Key_Shift, false},
          repeatPress,
          release},
         kImageMarked},
        {"two presses", {press, release, press, release}, kImageUnmarked},
        {"three presses", {press, release, press, release, press, release}, kImageMarked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListRig rig;
        rig.Add("a", "x", "d", 1);
        rig.Add("b", "x", "d", 1);
        rig.Click(1, kColumnSubject);
        ASSERT_EQ(rig.view->CurrentRow(), 1);
        for (const KeyStep& step : c.steps) {
            const QString text = step.key == Qt::Key_Space ? QStringLiteral(" ") : QString();
            QKeyEvent event(step.type, step.key, Qt::NoModifier, text, step.autoRepeat);
            QApplication::sendEvent(rig.view, &event);
        }
        EXPECT_EQ(rig.view->MarkImage(1), c.image);
        EXPECT_EQ(rig.view->RowEntry(1)->mark, c.image);
        EXPECT_EQ(rig.view->MarkImage(0), kImageUnmarked);
    }
}

TEST(MessageListView, EnterMarksAndMovesOn) {
    ListRig rig;
    rig.Add("a", "x", "d", 1);
    rig.Add("b", "x", "d", 1);
    rig.Add("c", "x", "d", 1);
    rig.Click(1, kColumnFrom);
    QTest::keyClick(rig.view, Qt::Key_Return);
    EXPECT_EQ(rig.view->MarkImage(1), kImageMarked);
    EXPECT_EQ(rig.view->RowEntry(1)->mark, kImageMarked);
    EXPECT_EQ(SelectedRows(*rig.view), (std::vector<int>{2}));
    EXPECT_EQ(rig.view->CurrentRow(), 2);
    EXPECT_EQ(rig.view->currentIndex().row(), 2);

    // On the last row: marked, and nothing is selected any more.
    QTest::keyClick(rig.view, Qt::Key_Return);
    EXPECT_EQ(rig.view->MarkImage(2), kImageMarked);
    EXPECT_TRUE(SelectedRows(*rig.view).empty());
    EXPECT_EQ(rig.view->MarkImage(0), kImageUnmarked);
}

TEST(MessageListView, AClickOnTheMarkColumnTogglesThatRowOnly) {
    ListRig rig;
    rig.Add("a", "x", "d", 1);
    rig.Add("b", "x", "d", 1);
    rig.Click(0, kColumnMark);
    rig.Click(1, kColumnMark);
    EXPECT_EQ(rig.view->MarkImage(0), kImageMarked);
    EXPECT_EQ(rig.view->MarkImage(1), kImageMarked);
    rig.Click(0, kColumnMark);
    EXPECT_EQ(rig.view->MarkImage(0), kImageUnmarked);
    EXPECT_EQ(rig.view->RowEntry(0)->mark, kImageUnmarked);
    // Elsewhere a click only selects.
    rig.Click(1, kColumnSubject);
    rig.Click(1, kColumnDate);
    EXPECT_EQ(rig.view->MarkImage(1), kImageMarked);
}

TEST(MessageListView, CommandsAndTheContextMenu) {
    ListRig rig;
    for (const char* from : {"a", "b", "c"}) {
        rig.Add(from, "x", "d", 1);
    }
    {
        auto menu = rig.view->MakeContextMenu();
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << action->text();
        }
        EXPECT_EQ(texts,
                  QStringList({QString::fromUtf8("ﾏｰｸする(&D)"), QString::fromUtf8("ﾏｰｸをはずす(&C)"), "",
                               QString::fromUtf8("ビュー(&V)"), QString::fromUtf8("ﾒｰﾙ保存(&A)\tCtrl+S")}));
        EXPECT_EQ(menu->defaultAction(), menu->actions()[0]);
        EXPECT_TRUE(menu->actions()[0]->font().bold());
        EXPECT_FALSE(menu->actions()[4]->isEnabled()) << "saving needs a selected row";
    }
    EXPECT_FALSE(rig.view->IsCommandEnabled(ID_MAIL_SAVE));
    rig.Click(0, kColumnFrom);
    rig.Click(2, kColumnFrom, Qt::ControlModifier);
    EXPECT_TRUE(rig.view->IsCommandEnabled(ID_MAIL_SAVE));
    EXPECT_TRUE(rig.view->MakeContextMenu()->actions()[4]->isEnabled());

    struct Case {
        int command;
        std::vector<int> images;
    } cases[] = {
        {ID_MARK, {kImageMarked, kImageUnmarked, kImageMarked}},
        {ID_UNMARK, {kImageUnmarked, kImageUnmarked, kImageUnmarked}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(rig.view->OnCommand(c.command));
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(rig.view->MarkImage(row), c.images[static_cast<std::size_t>(row)])
                << c.command << " " << row;
        }
    }
    EXPECT_EQ(rig.entries[0]->mark, kImageUnmarked) << "the entry follows the row";
    EXPECT_TRUE(rig.view->OnCommand(ID_SELECT_ALL));
    EXPECT_EQ(SelectedRows(*rig.view), (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(rig.view->OnCommand(ID_MAIL_SAVE)) << "the frame saves";
}

TEST(MessageListView, TheColumnLayoutSurvivesARestart) {
    struct Case {
        const char* what;
        const char* order;
        std::vector<int> visual;  // column shown at each position
    } cases[] = {
        {"reversed", "050403020100", {5, 4, 3, 2, 1, 0}},
        {"moved", "000103050402", {0, 1, 3, 5, 4, 2}},
        {"too short: not applied", "0504030201", {0, 1, 2, 3, 4, 5}},
        {"a column twice: not applied", "050403020101", {0, 1, 2, 3, 4, 5}},
        {"not digits: not applied", "05x403020100", {0, 1, 2, 3, 4, 5}},
        {"a column that does not exist: not applied", "090403020100", {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListRig rig;
        rig.Close();
        rig.profile.SetString("ColPosition", "ColOrder", c.order);
        for (int k = 0; k < 6; ++k) {
            rig.profile.SetInt("ColPosition", "Col" + std::to_string(k), 20 + k);
        }
        rig.Open();
        for (int position = 0; position < 6; ++position) {
            EXPECT_EQ(rig.view->header()->logicalIndex(position),
                      c.visual[static_cast<std::size_t>(position)]);
        }
        EXPECT_EQ(rig.view->header()->sectionSize(3), 23);
    }

    // What the user arranged comes back as it was.
    ListRig rig;
    EXPECT_EQ(rig.view->header()->sectionSize(kColumnFrom), 120) << "no layout stored yet";
    EXPECT_EQ(rig.view->header()->sectionSize(kColumnMark), 18);
    rig.view->header()->moveSection(rig.view->header()->visualIndex(kColumnSize), 0);
    rig.view->header()->resizeSection(kColumnSubject, 211);
    rig.Restart();
    EXPECT_EQ(rig.profile.GetString("ColPosition", "ColOrder"), "050001020304");
    EXPECT_EQ(rig.view->header()->logicalIndex(0), kColumnSize);
    EXPECT_EQ(rig.view->header()->sectionSize(kColumnSubject), 211);
    EXPECT_EQ(rig.view->header()->sectionSize(kColumnMark), 18);
}

TEST(MessageListView, TheSelectionSummaryReachesTheStatusBar) {
    ListRig rig;
    rig.Add("a", "x", "d", 1000);
    rig.Add("b", "x", "d", 100);
    rig.Add("c", "x", "d", 2'096'052);
    rig.Click(0, kColumnFrom);
    EXPECT_EQ(Cp932ToUtf8(rig.frame.panes[0]), "1件のﾒｰﾙを選択 (1000 ﾊﾞｲﾄ)");
    rig.Click(1, kColumnFrom, Qt::ControlModifier);
    EXPECT_EQ(Cp932ToUtf8(rig.frame.panes[0]), "2件のﾒｰﾙを選択 (1.0 Kﾊﾞｲﾄ)");
    EXPECT_EQ(rig.engine.selectionUnit, 1);
    EXPECT_EQ(rig.engine.selectionFigure, 10);
    rig.Click(2, kColumnFrom, Qt::ControlModifier);
    EXPECT_EQ(Cp932ToUtf8(rig.frame.panes[0]), "3件のﾒｰﾙを選択 (2.0 Mﾊﾞｲﾄ)");
    // Rows leaving the selection count too, down to none.
    for (int row = 0; row < 3; ++row) {
        rig.Click(row, kColumnFrom, Qt::ControlModifier);
    }
    EXPECT_EQ(rig.frame.panes[0], "");
    EXPECT_EQ(rig.engine.selectionUnit, 0);
}

TEST(MessageListView, DeletedRowsTakeNothingElseWithThem) {
    struct Case {
        const char* what;
        int rows;
        std::vector<int> doomed;
    };
    std::vector<int> everyOther;
    for (int row = 0; row < 200; row += 2) {
        everyOther.push_back(row);
    }
    std::vector<Case> cases = {
        {"one run", 10, {3, 4, 5}},
        {"a few, unordered, with repeats and rows that do not exist", 10, {7, 1, 7, 42, -1, 2}},
        {"many scattered rows", 200, everyOther},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListRig rig;
        for (int row = 0; row < c.rows; ++row) {
            rig.Add(std::to_string(row).c_str(), "x", "d", 1);
        }
        // Selected: every third row; the focus on row 9.
        for (int row = 0; row < c.rows; row += 3) {
            rig.view->SetSelected(row, true);
        }
        rig.view->selectionModel()->setCurrentIndex(rig.view->model()->index(9, 0),
                                                    QItemSelectionModel::NoUpdate);
        rig.view->DeleteRows(c.doomed);

        std::vector<std::string> expected;
        std::vector<int> expectedSelected;
        for (int row = 0; row < c.rows; ++row) {
            if (std::find(c.doomed.begin(), c.doomed.end(), row) != c.doomed.end()) {
                continue;
            }
            if (row % 3 == 0) {
                expectedSelected.push_back(static_cast<int>(expected.size()));
            }
            expected.push_back(std::to_string(row));
        }
        EXPECT_EQ(Senders(*rig.view), expected);
        EXPECT_EQ(rig.view->model()->rowCount(), static_cast<int>(expected.size()));
        EXPECT_EQ(SelectedRows(*rig.view), expectedSelected);
        EXPECT_EQ(Utf8(rig.view->Text(rig.view->currentIndex().row(), kColumnFrom)), "9")
            << "the focus stays";
    }
}

TEST(MessageListView, TheWorkerReadsTheCurrentRowSafely) {
    ListRig rig;
    rig.Add("a", "x", "d", 1);
    rig.Add("b", "x", "d", 1);
    rig.Click(1, kColumnFrom);
    std::atomic<bool> done{false};
    MailEntry* seen = nullptr;
    std::thread worker([&] {
        seen = rig.view->RowEntry(rig.view->CurrentRow());
        done = true;
    });
    const bool finished = PumpUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(seen, rig.entries[1].get());
}

TEST(MessageListView, ManyRowsArriveAndTheListShowsThem) {
    ListRig rig;
    const char* senders[] = {"山田 太郎 <taro@example.jp>", "ｻｰﾊﾞ管理者", "news@example.com", "佐藤 花子"};
    const char* subjects[] = {"会議の資料について", "【重要】ﾒﾝﾃﾅﾝｽのお知らせ", "Weekly digest",
                              "Re: 見積もり"};
    for (int i = 0; i < 40; ++i) {
        char date[32];
        std::snprintf(date, sizeof date, "2005/03/%02d 09:%02d:00 ", 1 + i % 28, i);
        rig.Add(senders[i % 4], subjects[i % 4], date, static_cast<std::uint32_t>(900 + i * 1733),
                i % 3 == 0);
    }
    ResetSortState();
    rig.ClickHeader(kColumnDate);
    rig.Click(2, kColumnMark);
    rig.Click(5, kColumnMark);
    rig.Click(1, kColumnSubject);
    rig.Click(3, kColumnSubject, Qt::ControlModifier);
    EXPECT_EQ(Utf8(rig.view->Text(0, kColumnDate)), "2005/03/28 09:27:00 ");
    EXPECT_TRUE(rig.view->grab().save(QString::fromStdString(test::ScreenshotFile("message_list"))));
}

}  // namespace
}  // namespace wp
