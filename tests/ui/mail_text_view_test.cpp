// The viewer's text control offscreen: the line index over line ends and
// chunks, what it shows and copies, the header flag, selection by mouse and
// keys, scrolling, and texts of megabytes.

#include "ui/mail_text_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <string>
#include <vector>

#include "frame_rig.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

using test::Shown;

struct ViewRig {
    ViewRig() {
        view.resize(400, 300);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    int Cw() const { return QFontMetrics(view.font()).horizontalAdvance(QLatin1Char('0')); }
    int Lh() const { return QFontMetrics(view.font()).lineSpacing(); }
    // The middle of a column of a line shown.
    QPoint At(int column, int row) const { return Edge(column, row) + QPoint(Cw() / 4, 0); }
    // A left edge of a column: a boundary there.
    QPoint Edge(int column, int row) const {
        return {CMailTextView::kMargin + column * Cw(), CMailTextView::kMargin + row * Lh() + Lh() / 2};
    }
    QWidget* Port() { return view.viewport(); }

    CMailTextView view;
};

TEST(MailTextView, TheIndexAndThePlainTextOverLineEndsTabsAndCodes) {
    const struct {
        const char* name;
        std::string body;
        bool unicode;
        const char* shown;  // UTF-8
        int lines;
        int widest;  // columns, for the scroll bar
    } cases[] = {
        {"CR LF", "a\r\nbc\r\n", false, "a\nbc\n", 2, 2},
        {"LF", "a\nbc", false, "a\nbc", 2, 2},
        {"a lone CR ends a line", "a\rb\r\n", false, "a\nb\n", 2, 1},
        {"empty", "", false, "", 0, 0},
        {"empty lines", "\r\n\r\n", false, "\n\n", 2, 0},
        {"no line end at all", "abc", false, "abc", 1, 3},
        {"a tab takes up to eight columns", "a\tb\r\n", false, "a\tb\n", 1, 9},
        {"Shift_JIS", Sjis("日本語") + "\r\n" + Sjis("ｶﾅ"), false, "日本語\nｶﾅ", 2, 6},
        {"UTF-8", "\xE6\x97\xA5\xF0\x9F\x8C\xB8\n\xED\x95\x9C", true, "日🌸\n한", 2, 4},
        {"UTF-8 is narrower than its bytes", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E x\r\n", true, "日本語 x\n", 1, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ViewRig rig;
        rig.view.SetText({}, c.body, c.unicode);
        EXPECT_EQ(rig.view.toPlainText(), QString::fromUtf8(c.shown));
        EXPECT_EQ(rig.view.LineCount(), c.lines);
        EXPECT_EQ(rig.view.WidthInColumns(), c.widest);
    }
}

// The widest line of UTF-8 sets the horizontal scroll bar: counted as the
// characters are drawn, kana and kanji two columns, broken bytes one each.
TEST(MailTextView, TheWidestLineOfUtf8IsCountedAsItIsDrawn) {
    const struct {
        const char* name;
        std::string line;
        int columns;
    } cases[] = {
        {"kana", "\xE3\x81\x82\xE3\x81\x84", 4},
        {"U+303F is narrow", "\xE3\x80\xBF", 1},
        {"ASCII runs about kanji", "abcdefgh\xE6\x97\xA5ijklmnopq", 19},
        {"Latin", "caf\xC3\xA9", 4},
        {"Hangul and full-width forms", "\xEA\xB0\x80\xEF\xBC\xA1", 4},
        {"outside the plane", "\xF0\x9F\x8C\xB8x", 3},
        {"a kanji cut short", "\xE3\x81" "A", 3},
        {"a stray trail byte", "\x81" "abc", 4},
        {"a lead at the end", "abcdefgh\xE3", 9},
        {"a tab", "\xE3\x81\x82\tz", 9},
    };
    ViewRig rig;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Shorter lines around it, so that it is the one measured last.
        rig.view.SetText({}, "a\n" + c.line + "\nb\n", true);
        EXPECT_EQ(rig.view.WidthInColumns(), c.columns);
    }
}

// The index looks at several bytes at a time: a line end or a tab counts
// wherever it falls in them, other control bytes end nothing, and a body
// that starts inside its buffer (after a header split off without a copy)
// reads the same.
TEST(MailTextView, LineEndsAndTabsCountWhereverTheyFall) {
    const struct {
        const char* separator;
        const char* shownAs;
        int lines;   // with "x" before and "y\r\nz" after
        int extra;   // columns the separator adds to the first line
    } separators[] = {
        {"\r\n", "\n", 3, 0}, {"\n", "\n", 3, 0}, {"\r", "\n", 3, 0},
        {"\t", "\t", 2, -1},  // to the next multiple of eight
        {"\x0c", "\x0c", 2, 1},
    };
    ViewRig rig;
    for (const auto& s : separators) {
        for (std::size_t before = 0; before < 18; ++before) {
            SCOPED_TRACE(std::string(s.separator) + " after " + std::to_string(before));
            const std::string text = std::string(before, 'x') + s.separator + "y\r\nz";
            const QString shown =
                QString(static_cast<qsizetype>(before), QLatin1Char('x')) + QString::fromLatin1(s.shownAs) + "y\nz";
            const int tabbed = static_cast<int>((before / 8 + 1) * 8) + 1;
            const int widest = s.extra < 0 ? tabbed : s.lines == 3 ? std::max<int>(before, 1) : before + 2;
            for (const std::size_t from : {std::size_t{0}, std::size_t{11}}) {
                const std::string skipped = from == 0 ? "" : "-\r\n--------";
                ASSERT_EQ(skipped.size(), from);
                rig.view.SetText({}, skipped + text, false, from);
                EXPECT_EQ(rig.view.toPlainText(), shown) << "from " << from;
                EXPECT_EQ(rig.view.LineCount(), s.lines) << "from " << from;
                EXPECT_EQ(rig.view.WidthInColumns(), widest) << "from " << from;
            }
        }
    }
}

// Chunks end anywhere: inside a double-byte character, between CR and LF.
// What is shown is always a whole prefix, never a broken character or a
// line too many.
TEST(MailTextView, AppendedChunksShowOnlyWholeCharactersAndLineEnds) {
    const std::string text = Sjis("日本語") + "\r\nnext\r\n" + Sjis("ソ表") + "\r" + "\r\nend";
    const QString whole = QString::fromUtf8("日本語\nnext\nソ表\n\nend");
    for (std::size_t cut = 1; cut < text.size(); ++cut) {
        SCOPED_TRACE(cut);
        ViewRig rig;
        rig.view.ReserveBody(text.size());
        rig.view.AppendBody(std::string_view(text).substr(0, cut));
        const QString part = rig.view.toPlainText();
        EXPECT_FALSE(part.contains(QChar(0xFFFD)));
        EXPECT_TRUE(whole.startsWith(part)) << part.toStdString();
        rig.view.AppendBody(std::string_view(text).substr(cut));
        rig.view.FinishAppending();
        EXPECT_EQ(rig.view.toPlainText(), whole);
        EXPECT_EQ(rig.view.LineCount(), 5);
    }
    // What never completes is shown as it is when the text ends.
    ViewRig rig;
    rig.view.AppendBody("ab\x93");
    EXPECT_EQ(rig.view.toPlainText(), QStringLiteral("ab"));
    rig.view.FinishAppending();
    EXPECT_EQ(rig.view.toPlainText().left(2), QStringLiteral("ab"));
    EXPECT_EQ(rig.view.toPlainText().size(), 3);
}

// A fast receive brings chunks quicker than the scroll bars are redrawn:
// they catch up a moment later by themselves, and at once when it ends.
TEST(MailTextView, ScrollBarsFollowAFastStreamOfChunks) {
    for (const bool finish : {false, true}) {
        SCOPED_TRACE(finish);
        ViewRig rig;
        QScrollBar* bar = rig.view.verticalScrollBar();
        for (int i = 0; i < 300; ++i) {
            rig.view.AppendBody("line " + std::to_string(i) + "\r\n");
        }
        EXPECT_EQ(rig.view.LineCount(), 300);
        const int page = bar->pageStep();
        ASSERT_GT(page, 1);
        if (finish) {
            rig.view.FinishAppending();
            EXPECT_EQ(bar->maximum(), 300 - page);
        } else {
            EXPECT_TRUE(test::PumpUntil([&] { return bar->maximum() == 300 - page; })) << bar->maximum();
        }
        bar->setValue(bar->maximum());
        EXPECT_EQ(rig.view.FirstVisibleLine(), 300 - page) << "the last lines can be scrolled to";
        // The next text, however soon, starts its pace afresh: its first
        // chunk shows a moment later, not at once (a text whole by then is
        // never drawn raw), and not only with its second chunk.
        rig.view.Clear();
        std::string lines;
        for (int i = 0; i < 200; ++i) {
            lines += "again " + std::to_string(i) + "\r\n";
        }
        rig.view.AppendBody(lines);
        EXPECT_EQ(bar->maximum(), 0);
        EXPECT_TRUE(test::PumpUntil([&] { return bar->maximum() == 200 - page; })) << bar->maximum();
    }
}

TEST(MailTextView, TheHeaderFlagShowsTheHeaderAboveTheBodyWithoutACopy) {
    ViewRig rig;
    std::string body(100000, 'x');
    body += "\r\nlast\r\n";
    const char* bytes = body.data();
    rig.view.SetText("Subject: a\r\n\r\n", std::move(body), false);
    EXPECT_EQ(rig.view.BodyBytes().data(), bytes) << "taken over, not copied";
    EXPECT_EQ(rig.view.LineCount(), 2);
    rig.view.SetHeaderShown(true);
    EXPECT_EQ(rig.view.LineCount(), 4);
    EXPECT_TRUE(rig.view.toPlainText().startsWith(QStringLiteral("Subject: a\n\nxxx")));
    EXPECT_TRUE(rig.view.toPlainText().endsWith(QStringLiteral("x\nlast\n")));
    EXPECT_EQ(rig.view.BodyBytes().data(), bytes);
    rig.view.SetHeaderShown(false);
    EXPECT_TRUE(rig.view.toPlainText().startsWith(QStringLiteral("xxx")));
    EXPECT_EQ(rig.view.TakeBody().data(), bytes);
    EXPECT_EQ(rig.view.LineCount(), 0);
}

TEST(MailTextView, TheMouseSelectsAndTheKeysAndTheMenuCopy) {
    ViewRig rig;
    rig.view.SetText({}, Sjis("ab 日本語 cd") + "\r\nsecond line\r\n\tafter tab\r\n", false);
    // Press in "日本語" after its first character, drag into the second line.
    QTest::mousePress(rig.Port(), Qt::LeftButton, {}, rig.Edge(5, 0));
    QTest::mouseMove(rig.Port(), rig.Edge(6, 1));
    QTest::mouseRelease(rig.Port(), Qt::LeftButton, {}, rig.Edge(6, 1));
    EXPECT_TRUE(rig.view.hasFocus());
    EXPECT_EQ(rig.view.selectedText(), QString::fromUtf8("本語 cd\nsecond"));
    // A click in the middle of a wide character goes to its nearer edge.
    QTest::mouseClick(rig.Port(), Qt::LeftButton, {}, rig.At(3, 0));
    QTest::mouseClick(rig.Port(), Qt::LeftButton, Qt::ShiftModifier, rig.Edge(9, 0));
    EXPECT_EQ(rig.view.selectedText(), QString::fromUtf8("日本語"));
    // Shift+click extends from the same anchor.
    QTest::mouseClick(rig.Port(), Qt::LeftButton, Qt::ShiftModifier, rig.Edge(3, 1));
    EXPECT_EQ(rig.view.selectedText(), QString::fromUtf8("日本語 cd\nsec"));
    // A tab is eight columns: column 8 is after it.
    QTest::mouseClick(rig.Port(), Qt::LeftButton, {}, rig.Edge(8, 2));
    QTest::mouseClick(rig.Port(), Qt::LeftButton, Qt::ShiftModifier, rig.Edge(13, 2));
    EXPECT_EQ(rig.view.selectedText(), QStringLiteral("after"));
    // A double click takes a word.
    QTest::mouseDClick(rig.Port(), Qt::LeftButton, {}, rig.At(2, 1));
    EXPECT_EQ(rig.view.selectedText(), QStringLiteral("second"));
    QTest::mouseDClick(rig.Port(), Qt::LeftButton, {}, rig.At(4, 0));
    EXPECT_EQ(rig.view.selectedText(), QString::fromUtf8("日本語"));

    QApplication::clipboard()->clear();
    QTest::keyClick(&rig.view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("日本語"));
    QTest::keyClick(&rig.view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(rig.view.selectedText(), rig.view.toPlainText());
    EXPECT_TRUE(rig.view.selectedText().endsWith(QStringLiteral("after tab\n")));

    // The menu: copy only with a selection, select all.
    auto* menu = rig.view.findChild<QMenu*>(QStringLiteral("mailTextMenu"));
    ASSERT_NE(menu, nullptr);
    QAction* copy = menu->findChild<QAction*>(QStringLiteral("copy"));
    QAction* all = menu->findChild<QAction*>(QStringLiteral("selectAll"));
    ASSERT_TRUE(copy != nullptr && all != nullptr);
    EXPECT_EQ(copy->text(), Shown("コピー(&C)"));
    EXPECT_EQ(all->text(), Shown("すべて選択(&A)"));
    QTest::mouseClick(rig.Port(), Qt::LeftButton, {}, rig.Edge(0, 0));
    QContextMenuEvent event(QContextMenuEvent::Mouse, rig.Edge(1, 1), rig.Port()->mapToGlobal(rig.Edge(1, 1)));
    QApplication::sendEvent(rig.Port(), &event);
    EXPECT_FALSE(copy->isEnabled());
    menu->hide();
    all->trigger();
    EXPECT_EQ(rig.view.selectedText(), rig.view.toPlainText());
    QApplication::sendEvent(rig.Port(), &event);
    EXPECT_TRUE(copy->isEnabled());
    menu->hide();
    QApplication::clipboard()->clear();
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), rig.view.toPlainText());
}

// Shift with the arrows, Home, End and the page keys moves the selection's
// end a character, a line or a page at a time, whole double-byte
// characters only, the view following it.
TEST(MailTextView, ShiftAndTheKeysExtendTheSelection) {
    const struct {
        const char* name;
        int column, row;  // the click that sets both ends
        std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
        const char* selected;  // UTF-8
    } cases[] = {
        {"right over a kanji", 0, 0, {{Qt::Key_Right, {}}, {Qt::Key_Right, {}}, {Qt::Key_Right, {}}}, "ab "},
        {"right takes a kanji whole", 3, 0, {{Qt::Key_Right, {}}, {Qt::Key_Right, {}}}, "日本"},
        {"left takes a kanji whole", 9, 0, {{Qt::Key_Left, {}}}, "語"},
        {"right passes the line end", 11, 0, {{Qt::Key_Right, {}}, {Qt::Key_Right, {}}}, "d\n"},
        {"left passes the line end", 0, 1, {{Qt::Key_Left, {}}}, "\n"},
        {"down keeps the column", 2, 0, {{Qt::Key_Down, {}}}, " 日本語 cd\nse"},
        {"up to a kanji's edge", 6, 1, {{Qt::Key_Up, {}}}, "語 cd\nsecond"},
        {"home and end", 4, 1, {{Qt::Key_Home, {}}}, "seco"},
        {"end", 4, 1, {{Qt::Key_End, {}}}, "nd line"},
        {"control end to the end", 0, 2, {{Qt::Key_End, Qt::ControlModifier}}, "\tafter tab\n"},
        {"control home to the start", 1, 1, {{Qt::Key_Home, Qt::ControlModifier}}, "ab 日本語 cd\ns"},
        {"down past the last line", 0, 2, {{Qt::Key_Down, {}}, {Qt::Key_Down, {}}}, "\tafter tab\n"},
    };
    ViewRig rig;
    rig.view.SetText({}, Sjis("ab 日本語 cd") + "\r\nsecond line\r\n\tafter tab\r\n", false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTest::mouseClick(rig.Port(), Qt::LeftButton, {}, rig.Edge(c.column, c.row));
        for (const auto& [key, modifiers] : c.keys) {
            QTest::keyClick(&rig.view, key, modifiers | Qt::ShiftModifier);
        }
        EXPECT_EQ(rig.view.selectedText(), QString::fromUtf8(c.selected));
    }

    // Far down a long text the view follows the selection's end.
    std::string body;
    for (int i = 0; i < 300; ++i) {
        body += "line " + std::to_string(i) + "\r\n";
    }
    rig.view.SetText({}, std::move(body), false);
    QTest::mouseClick(rig.Port(), Qt::LeftButton, {}, rig.Edge(0, 0));
    for (int i = 0; i < 100; ++i) {
        QTest::keyClick(&rig.view, Qt::Key_Down, Qt::ShiftModifier);
    }
    EXPECT_GT(rig.view.FirstVisibleLine(), 100 - rig.view.verticalScrollBar()->pageStep());
    EXPECT_LE(rig.view.FirstVisibleLine(), 100);
    EXPECT_TRUE(rig.view.selectedText().endsWith(QStringLiteral("line 99\n")));
    QTest::keyClick(&rig.view, Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(rig.view.FirstVisibleLine(), 0);
    EXPECT_FALSE(rig.view.hasSelection());
}

// A drag held below the text keeps scrolling and selecting while the mouse
// rests there.
TEST(MailTextView, ADragHeldPastTheEdgeKeepsScrolling) {
    ViewRig rig;
    std::string body;
    for (int i = 0; i < 300; ++i) {
        body += "line " + std::to_string(i) + "\r\n";
    }
    rig.view.SetText({}, std::move(body), false);
    QTest::mousePress(rig.Port(), Qt::LeftButton, {}, rig.Edge(0, 0));
    QTest::mouseMove(rig.Port(), QPoint(10, rig.Port()->height() + 5));
    const int page = rig.view.verticalScrollBar()->pageStep();
    EXPECT_TRUE(test::PumpUntil([&] { return rig.view.FirstVisibleLine() >= 5; }))
        << rig.view.FirstVisibleLine();
    QTest::mouseRelease(rig.Port(), Qt::LeftButton, {}, QPoint(10, rig.Port()->height() + 5));
    const int first = rig.view.FirstVisibleLine();
    EXPECT_TRUE(rig.view.selectedText().startsWith(QStringLiteral("line 0\n")));
    EXPECT_GE(rig.view.selectedText().count(QLatin1Char('\n')), first + page - 1);
}

TEST(MailTextView, KeysAndTheWheelScrollByWholeLines) {
    ViewRig rig;
    std::string body;
    for (int i = 0; i < 500; ++i) {
        body += "line " + std::to_string(i) + "\r\n";
    }
    rig.view.SetText({}, body, false);
    rig.view.setFocus();
    QScrollBar* bar = rig.view.verticalScrollBar();
    const int page = bar->pageStep();
    ASSERT_GT(page, 1);
    EXPECT_EQ(bar->maximum(), 500 - page) << "the last line at the bottom";
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int first;
    } steps[] = {
        {Qt::Key_Down, {}, 1},
        {Qt::Key_PageDown, {}, 1 + page},
        {Qt::Key_Up, {}, page},
        {Qt::Key_PageUp, {}, 0},
        {Qt::Key_End, Qt::ControlModifier, 500 - page},
        {Qt::Key_Home, Qt::ControlModifier, 0},
    };
    for (const auto& s : steps) {
        QTest::keyClick(&rig.view, s.key, s.modifiers);
        EXPECT_EQ(rig.view.FirstVisibleLine(), s.first) << s.key;
    }
    QWheelEvent wheel(QPointF(50, 50), rig.Port()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.Port(), &wheel);
    EXPECT_EQ(rig.view.FirstVisibleLine(), QApplication::wheelScrollLines());
    // The top line shown is what a click on the first row hits.
    QTest::mouseDClick(rig.Port(), Qt::LeftButton, {}, rig.At(6, 0));
    EXPECT_EQ(rig.view.selectedText(), QString::number(QApplication::wheelScrollLines()));
}

// A line of megabytes: the scroll range reaches its end and a click there
// hits its last word, although only the part in view is ever converted.
TEST(MailTextView, ALineOfMegabytesScrollsToItsEnd) {
    ViewRig rig;
    std::string line(3 << 20, 'a');
    line += Sjis(" 末尾");
    rig.view.SetText({}, line + "\r\n", false);
    rig.view.setFocus();
    QTest::keyClick(&rig.view, Qt::Key_End);
    const int left = rig.view.horizontalScrollBar()->value();
    const int last = static_cast<int>(line.size()) - 4;  // the column of "末"
    ASSERT_GT(last, left);
    rig.view.grab();
    QTest::mouseDClick(rig.Port(), Qt::LeftButton, {}, rig.At(last - left, 0));
    EXPECT_EQ(rig.view.selectedText(), QString::fromUtf8("末尾"));
    QTest::keyClick(&rig.view, Qt::Key_Home);
    EXPECT_EQ(rig.view.horizontalScrollBar()->value(), 0);
}

// A live text is indexed only as far as someone looks; cutting it to the
// lines in view indexes just those, and a CR LF astride the pieces it
// indexes stays one line end.
TEST(MailTextView, ALiveTextCutToTheLinesInViewKeepsThemWhole) {
    for (const std::size_t longLine : {std::size_t{65535}, std::size_t{65534}, std::size_t{65536}}) {
        SCOPED_TRACE(longLine);
        ViewRig rig;
        std::string text = std::string(longLine, 'a') + "\r\n";
        for (int i = 0; i < 2000; ++i) {
            text += "line " + std::to_string(i) + "\r\n";
        }
        rig.view.ReserveBody(text.size());
        for (std::size_t at = 0; at < text.size(); at += 4096) {
            rig.view.AppendBody(std::string_view(text).substr(at, 4096));
        }
        rig.view.DropBelowView();
        const int kept = rig.view.LineCount();
        EXPECT_LT(kept, 200);
        EXPECT_GT(kept, 2);
        std::string expected = std::string(longLine, 'a') + "\n";
        for (int i = 0; i + 1 < kept; ++i) {
            expected += "line " + std::to_string(i) + "\n";
        }
        EXPECT_EQ(rig.view.toPlainText().toStdString(), expected);
    }
}

// A mail of megabytes is indexed and painted at once, its last line
// reachable.
TEST(MailTextView, AHugeTextShowsItsFirstPageAndItsLastLine) {
    ViewRig rig;
    std::string body;
    int lines = 0;
    while (body.size() < (5u << 20)) {
        body += Sjis("こんにちは、大きなメールです。") + " line " + std::to_string(lines++) + "\r\n";
    }
    rig.view.SetText({}, std::move(body), false);
    EXPECT_EQ(rig.view.LineCount(), lines);
    EXPECT_FALSE(rig.view.grab().isNull());
    rig.view.setFocus();
    QTest::keyClick(&rig.view, Qt::Key_End, Qt::ControlModifier);
    const int row = lines - 1 - rig.view.FirstVisibleLine();
    QTest::mouseDClick(rig.Port(), Qt::LeftButton, {}, rig.At(36, row));
    EXPECT_EQ(rig.view.selectedText(), QString::number(lines - 1));
}

}  // namespace
}  // namespace wp
