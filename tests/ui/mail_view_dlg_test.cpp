// The viewer window offscreen, with a recording owner in place of the main
// frame: its controls, the text it shows and the header toggle, the code
// choice from the stored mail, the live text, the save, and its end.

#include "ui/mail_view_dlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <fstream>
#include <sstream>

#include "decode/date_size_text.h"
#include "decode/header_fields.h"
#include "frame_rig.h"
#include "mail/mail_entry.h"
#include "mail/mail_text.h"
#include "mail/stored_mail.h"
#include "ui/mail_text_view.h"

namespace wp {
namespace {

using test::FreshFolder;
using test::Shown;

class RecordingOwner final : public ViewerOwner {
public:
    void CancelOperation() override { ++cancels; }
    void ShowPrevious(MailEntry* entry) override { previous.push_back(entry); }
    void ShowNext(MailEntry* entry) override { next.push_back(entry); }
    void ViewerClosed() override { ++closed; }
    int cancels = 0;
    int closed = 0;
    std::vector<MailEntry*> previous;
    std::vector<MailEntry*> next;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct ViewerRig {
    ViewerRig() : folder("viewer"), profile(folder.Sub("profile.ini")) { Open(); }
    ~ViewerRig() { delete dialog.data(); }

    void Open() {
        dialog = new CMailViewDlg(owner, profile, prompt);
        entry.subject = Sjis("件名");
        entry.size = 12600;
        dialog->SetEntry(&entry);
        dialog->show();
    }
    // Stores a RETR reply as the fetch would, and shows it converted.
    void Show(const std::string& reply, std::int32_t code = -1) {
        std::optional<StoredMail> stored = StoredMail::Write(folder.Sub("acc.eml"), reply);
        ASSERT_TRUE(stored);
        MailView view = ViewOfMail(reply, code);
        dialog->ClearAttachments();
        for (const std::string& name : view.attachments) {
            dialog->AddAttachment(name);
        }
        dialog->ShowMailText(std::move(view));
        dialog->SetMailFile(*stored);
    }
    CMailTextView* Text() { return static_cast<CMailTextView*>(dialog->Control(CMailViewDlg::kText)); }
    QPlainTextEdit* Header() {
        return static_cast<QPlainTextEdit*>(dialog->Control(CMailViewDlg::kHeaderText));
    }
    QAbstractButton* Button(int id) { return static_cast<QAbstractButton*>(dialog->Control(id)); }
    QString SizeBox() { return static_cast<QLineEdit*>(dialog->Control(CMailViewDlg::kSizeBox))->text(); }

    FreshFolder folder;
    Profile profile;
    test::ScriptedPrompt prompt;
    RecordingOwner owner;
    MailEntry entry;
    QPointer<CMailViewDlg> dialog;
};

const std::string kSimple = "+OK 40 octets\r\nSubject: a\r\nFrom: b\r\n\r\nline 1\r\n\r\nline 2\r\n.\r\n";

TEST(MailViewDlg, ControlsAreThereWithTheirTextsAndRoles) {
    ViewerRig rig;
    CMailViewDlg& d = *rig.dialog;
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("件名"));
    const struct {
        int id;
        const char* kind;
        const char* text;
        bool visible;
        bool enabled;
    } controls[] = {
        {CMailViewDlg::kProgress, "QProgressBar", nullptr, true, true},
        {CMailViewDlg::kSizeBox, "QLineEdit", nullptr, true, true},
        {CMailViewDlg::kPrevious, "QPushButton", "↑", true, true},
        {CMailViewDlg::kNext, "QPushButton", "↓", true, true},
        {CMailViewDlg::kClose, "QPushButton", "閉じる", false, true},
        {CMailViewDlg::kCancel, "QPushButton", "受信中止(&C)", true, false},
        {CMailViewDlg::kSeparatorThin, "QFrame", nullptr, true, true},
        {CMailViewDlg::kSeparatorThick, "QFrame", nullptr, true, true},
        {CMailViewDlg::kAttachmentLabel, "QLabel", "添付:", true, true},
        {CMailViewDlg::kAttachmentList, "QListWidget", nullptr, true, true},
        {CMailViewDlg::kHeaderCheck, "QCheckBox", "ヘッダも見る(&H)", true, true},
        {CMailViewDlg::kCodeAuto, "QPushButton", "自動", true, true},
        {CMailViewDlg::kCodeJis, "QPushButton", "JIS", true, true},
        {CMailViewDlg::kCodeSjis, "QPushButton", "S-JIS", true, true},
        {CMailViewDlg::kCodeEuc, "QPushButton", "EUC", true, true},
        {CMailViewDlg::kCodeUtf8, "QPushButton", "UTF-8", true, true},
        {CMailViewDlg::kText, "QAbstractScrollArea", nullptr, true, true},
        {CMailViewDlg::kHeaderText, "QPlainTextEdit", nullptr, false, true},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        QWidget* control = d.Control(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->inherits(c.kind));
        if (c.text != nullptr) {
            const QString text = control->inherits("QLabel") ? static_cast<QLabel*>(control)->text()
                                                             : static_cast<QAbstractButton*>(control)->text();
            EXPECT_EQ(text, Shown(c.text));
        }
        EXPECT_EQ(control->isVisible(), c.visible);
        EXPECT_EQ(control->isEnabled(), c.enabled);
    }
    EXPECT_EQ(d.Control(CMailViewDlg::kSeparatorThin)->height(), 2);
    EXPECT_EQ(d.Control(CMailViewDlg::kSeparatorThick)->height(), 3);
    EXPECT_EQ(static_cast<QProgressBar*>(d.Control(CMailViewDlg::kProgress))->maximum(), 13);
    // The code buttons are push buttons that behave as radio buttons.
    for (int id :
         {CMailViewDlg::kCodeAuto, CMailViewDlg::kCodeJis, CMailViewDlg::kCodeSjis, CMailViewDlg::kCodeEuc}) {
        EXPECT_TRUE(rig.Button(id)->isCheckable());
    }
    EXPECT_TRUE(rig.Button(CMailViewDlg::kCodeAuto)->isChecked()) << "-1 when the profile has none";

    const struct {
        int id;
        const char* tip;
    } tips[] = {{CMailViewDlg::kNext, "次のﾒｰﾙ(Alt+→)"},
                {CMailViewDlg::kPrevious, "前のﾒｰﾙ(Alt+←)"},
                {CMailViewDlg::kCancel, "受信ｷｬﾝｾﾙ"}};
    for (const auto& t : tips) {
        EXPECT_EQ(d.Control(t.id)->toolTip(), Shown(t.tip));
    }

    const struct {
        int id;
        const char* text;
        QKeySequence key;
    } commands[] = {
        {CMailViewDlg::kSaveCommand, "保存(&S)", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {CMailViewDlg::kSelectAllCommand, "すべて選択(&A)\tCtrl+A", QKeySequence(Qt::CTRL | Qt::Key_A)},
        {CMailViewDlg::kClose, "閉じる(&C)", QKeySequence()},
        {CMailViewDlg::kPrevious, "前のメール\tAlt+←", QKeySequence(Qt::ALT | Qt::Key_Left)},
        {CMailViewDlg::kNext, "次のメール\tAlt+→", QKeySequence(Qt::ALT | Qt::Key_Right)},
        {CMailViewDlg::kSourceCommand, "ソース表示", QKeySequence()},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.text);
        QAction* action = d.Command(c.id);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text(), Shown(c.text));
        EXPECT_EQ(action->shortcut(), c.key);
    }
    EXPECT_FALSE(d.Command(CMailViewDlg::kSaveCommand)->isEnabled()) << "no mail yet";

    auto* bar = d.findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QStringList titles;
    for (QAction* menu : bar->actions()) {
        titles << menu->text();
    }
    EXPECT_EQ(titles, (QStringList{Shown("ﾌｧｲﾙ(&F)"), Shown("操作(&R)")}));
    QStringList fileItems;
    for (QAction* item : bar->actions()[0]->menu()->actions()) {
        fileItems << item->text();
    }
    EXPECT_EQ(fileItems, (QStringList{Shown("保存(&S)"), Shown("編集(&E)"), QString(), Shown("閉じる(&C)")}));
}

TEST(MailViewDlg, HeaderToggleRoundTripAndAMailWithoutAnEmptyLine) {
    ViewerRig rig;
    rig.Show(kSimple);
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("line 1\n\nline 2\n"));
    EXPECT_EQ(rig.Header()->toPlainText(), QStringLiteral("Subject: a\nFrom: b\n\n"));

    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("Subject: a\nFrom: b\n\nline 1\n\nline 2\n"));
    EXPECT_EQ(rig.Header()->toPlainText(), QString());
    EXPECT_EQ(rig.profile.GetInt("Mail", "Head", -1), 1);
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("line 1\n\nline 2\n"));
    EXPECT_EQ(rig.profile.GetInt("Mail", "Head", -1), 0);
    EXPECT_FALSE(rig.Button(CMailViewDlg::kHeaderCheck)->hasFocus());

    // Header only: nothing in the text control until the header is shown.
    rig.Show("+OK\r\nSubject: only\r\nFrom: b\r\n.\r\n");
    EXPECT_EQ(rig.Text()->toPlainText(), QString());
    EXPECT_EQ(rig.Header()->toPlainText(), QStringLiteral("Subject: only\nFrom: b\n"));
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("Subject: only\nFrom: b\n"));

    // The next viewer starts with the header shown, as left.
    rig.dialog->close();
    rig.Open();
    EXPECT_TRUE(rig.Button(CMailViewDlg::kHeaderCheck)->isChecked());
    rig.Show(kSimple);
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("Subject: a\nFrom: b\n\nline 1\n\nline 2\n"));
}

// The text control splits a text without copying it, and shows exactly
// what the split of a converted mail gives, with the header and without.
TEST(MailViewDlg, TheTextIsSplitAsAConvertedMailIsSplit) {
    const char* texts[] = {
        "+OK\r\nSubject: a\r\n\r\nbody\r\n",
        "+OK\r\nSubject: a\r\nFrom: b\r\n",
        "+OK\r\n\r\nonly a body",
        "+OK\r\n",
        "+OK no line end at all",
        "",
    };
    for (const char* text : texts) {
        for (bool header : {false, true}) {
            SCOPED_TRACE(std::string(text) + (header ? " with the header" : ""));
            ViewerRig rig;
            rig.Button(CMailViewDlg::kHeaderCheck)->setChecked(header);
            MailView view;
            view.legacy = text;
            rig.dialog->ShowMailText(std::move(view));
            const MailTextParts parts = SplitMailText(text, header);
            EXPECT_EQ(rig.Text()->toPlainText(), QString::fromStdString(parts.body).remove(QChar('\r')));
            EXPECT_EQ(rig.Header()->toPlainText(), QString::fromStdString(parts.header).remove(QChar('\r')));
        }
    }
}

TEST(MailViewDlg, ACodeChoiceConvertsTheStoredMailAgainAndIsRemembered) {
    ViewerRig rig;
    const std::string jis = "+OK\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n.\r\n";
    rig.Show(jis);
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("日本\n"));

    QTest::mouseClick(rig.Button(CMailViewDlg::kCodeEuc), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("\x1b$BF|K\\\x1b(B\n")) << "unconverted";
    EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), 2);
    EXPECT_FALSE(rig.Button(CMailViewDlg::kCodeEuc)->hasFocus());
    QTest::mouseClick(rig.Button(CMailViewDlg::kCodeAuto), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("日本\n"));
    QTest::mouseClick(rig.Button(CMailViewDlg::kCodeSjis), Qt::LeftButton);
    EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), 0);

    // Remembered for the next viewer: S-JIS is checked there.
    rig.dialog->close();
    EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), 0);
    rig.Open();
    EXPECT_TRUE(rig.Button(CMailViewDlg::kCodeSjis)->isChecked());
    // Without a stored mail only the setting changes.
    QTest::mouseClick(rig.Button(CMailViewDlg::kCodeJis), Qt::LeftButton);
    EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), 1);
    EXPECT_EQ(rig.Text()->toPlainText(), QString());
    // A value no button names checks none, and is written back as -1.
    rig.dialog->close();
    rig.profile.SetInt("Mail", "Encode", 7);
    rig.Open();
    EXPECT_EQ(
        rig.Button(CMailViewDlg::kCodeAuto)->isChecked() || rig.Button(CMailViewDlg::kCodeJis)->isChecked(),
        false);
    rig.dialog->close();
    EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), -1);
}

// A Gmail-style multipart mail in UTF-8: the text part decoded, with every
// character CP932 lacks; the header as received above it; the source as
// the plain viewer shows it; the UTF-8 choice remembered.
const std::string kTodays =
    "+OK\r\nFrom: =?UTF-8?B?5L2Q6Jek?= <s@example.jp>\r\nSubject: =?UTF-8?B?8J+MuA==?=\r\n"
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: multipart/alternative; boundary=\"a\"\r\n\r\n"
    "--a\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "5pel5pys8J+MuCDwoK63IO2VnOq4gA0K\r\n"
    "--a\r\nContent-Type: text/html; charset=\"UTF-8\"\r\n\r\n<p>html</p>\r\n--a--\r\n"
    "--b\r\nContent-Type: application/pdf\r\n"
    "Content-Disposition: attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D.pdf\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n--b--\r\n.\r\n";

TEST(MailViewDlg, TodaysMailReachesTheTextInFullUnicode) {
    ViewerRig rig;
    rig.Show(kTodays);
    const QString body = QString::fromUtf8("日本🌸 𠮷 한글\n");
    EXPECT_EQ(rig.Text()->toPlainText(), body);
    auto* list = static_cast<QListWidget*>(rig.dialog->Control(CMailViewDlg::kAttachmentList));
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QString::fromUtf8("見積.pdf"));

    // The header as received, then the same decoded text.
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    const QString shown = rig.Text()->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("From: =?UTF-8?B?5L2Q6Jek?= <s@example.jp>\n"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("boundary=\"b\"\n\n") + body)) << shown.toStdString();
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), body);

    // The source: the stored mail as received and converted, parts and all.
    rig.dialog->Command(CMailViewDlg::kSourceCommand)->trigger();
    EXPECT_TRUE(rig.Text()->toPlainText().contains(QStringLiteral("5pel5pys8J+MuCDwoK63IO2VnOq4gA0K")));
    rig.dialog->Command(CMailViewDlg::kSourceCommand)->trigger();
    EXPECT_EQ(rig.Text()->toPlainText(), body);

    // A forced Japanese code reads the part's bytes that way; UTF-8 back.
    QTest::mouseClick(rig.Button(CMailViewDlg::kCodeSjis), Qt::LeftButton);
    EXPECT_NE(rig.Text()->toPlainText(), body);
    QTest::mouseClick(rig.Button(CMailViewDlg::kCodeUtf8), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), body);
    EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), 3);
    rig.dialog->close();
    rig.Open();
    EXPECT_TRUE(rig.Button(CMailViewDlg::kCodeUtf8)->isChecked());
}

TEST(MailViewDlg, UndeclaredUtf8IsUtf8OnlyForTheAutomaticChoice) {
    ViewerRig rig;
    const std::string mail = "+OK\r\nSubject: x\r\n\r\n\xE6\x97\xA5\xF0\x9F\x8C\xB8\r\n.\r\n";
    rig.Show(mail);
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("日🌸\n"));
    // A chosen Japanese code reads the same bytes as it always did.
    rig.Show(mail, 0);
    EXPECT_NE(rig.Text()->toPlainText(), QString::fromUtf8("日🌸\n"));
    EXPECT_FALSE(rig.dialog->TextView().Unicode());
}

TEST(MailViewDlg, TheLiveTextShowsTheBodyAndTheProgressWhileTheMailArrives) {
    ViewerRig rig;
    CMailViewDlg& d = *rig.dialog;
    d.SetSizeText("12.3Kbyte");
    d.ResetProgress();
    d.BeginReceive();
    for (int id : {CMailViewDlg::kPrevious, CMailViewDlg::kNext, CMailViewDlg::kHeaderCheck}) {
        EXPECT_FALSE(d.Control(id)->isEnabled());
    }
    EXPECT_TRUE(d.Control(CMailViewDlg::kCancel)->isEnabled());
    d.SetStatusText(Sjis("ﾛｸﾞｲﾝしてます。"));
    EXPECT_EQ(rig.SizeBox(), Shown("ﾛｸﾞｲﾝしてます。"));
    d.SetStatusText("");
    EXPECT_EQ(rig.SizeBox(), QStringLiteral("12.3Kbyte")) << "the size comes back";

    // A Shift_JIS reply cut inside a character and inside a line end.
    const std::string reply = "+OK\r\nSubject: s\r\n\r\n" + Sjis("日本語") + "\r\nnext\r\n";
    d.ClearMailText();
    const std::size_t cuts[] = {3, 20, 22, reply.size() - 7, reply.size()};
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        d.AppendReceivedText(reply.data() + from, cut - from, static_cast<int>(cut));
        from = cut;
    }
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("日本語\nnext\n"));
    EXPECT_EQ(rig.Header()->toPlainText(), QStringLiteral("Subject: s\n\n"));
    // Steps that come quicker than the eye follows are shown a moment later,
    // the last one always.
    const QString last = QStringLiteral("%1/12.3Kbyte").arg(reply.size());
    EXPECT_TRUE(test::PumpUntil([&] { return rig.SizeBox() == last; })) << rig.SizeBox().toStdString();
    d.AppendReceivedText("", 0, 12600);
    // The end of the receive shows at once a step not shown yet.
    d.EndReceive();
    EXPECT_EQ(rig.SizeBox(), QStringLiteral("12.3KB/12.3Kbyte"));
    EXPECT_EQ(static_cast<QProgressBar*>(d.Control(CMailViewDlg::kProgress))->value(), 13);

    for (int id : {CMailViewDlg::kPrevious, CMailViewDlg::kNext, CMailViewDlg::kHeaderCheck}) {
        EXPECT_TRUE(d.Control(id)->isEnabled());
    }
    EXPECT_FALSE(d.Control(CMailViewDlg::kCancel)->isEnabled());
    // The partial mail can be toggled like a whole one.
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("Subject: s\n\n日本語\nnext\n"));

    // The next receive, however soon it comes, shows its first step at once.
    d.ResetProgress();
    d.BeginReceive();
    d.AppendReceivedText(reply.data(), 3, 3);
    EXPECT_EQ(rig.SizeBox(), QStringLiteral("3/12.3Kbyte"));
    d.EndReceive();
}

TEST(MailViewDlg, ButtonsAndKeysGoToTheFrame) {
    ViewerRig rig;
    CMailViewDlg& d = *rig.dialog;
    QTest::mouseClick(rig.Button(CMailViewDlg::kPrevious), Qt::LeftButton);
    QTest::mouseClick(rig.Button(CMailViewDlg::kNext), Qt::LeftButton);
    EXPECT_EQ(rig.owner.previous, std::vector<MailEntry*>{&rig.entry});
    EXPECT_EQ(rig.owner.next, std::vector<MailEntry*>{&rig.entry});
    // While receiving the buttons are off, but the keys still step (the frame
    // stops the fetch first) and the cancel button stops it.
    d.BeginReceive();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QTest::keyClick(&d, Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(rig.owner.next.size(), 2u);
    QTest::mouseClick(rig.Button(CMailViewDlg::kCancel), Qt::LeftButton);
    EXPECT_EQ(rig.owner.cancels, 1);
    d.EndReceive();

    rig.Show(kSimple);
    d.Command(CMailViewDlg::kSelectAllCommand)->trigger();
    EXPECT_TRUE(rig.Text()->hasFocus());
    EXPECT_EQ(rig.Text()->selectedText(), QStringLiteral("line 1\n\nline 2\n"));
}

TEST(MailViewDlg, SaveProposesTheSubjectAndWritesTheMailWithoutItsFraming) {
    ViewerRig rig;
    const struct {
        const char* subject;
        const char* proposed;
    } names[] = {
        {"Re: a/b", "Re_ a_b.eml"},
        {"ソフト/表", "ソフト_表.eml"},
        {"<?>|*\"", "______.eml"},
        {"", ".eml"},
    };
    for (const auto& n : names) {
        rig.entry.subject = Sjis(n.subject);
        rig.dialog->SetEntry(&rig.entry);
        EXPECT_EQ(rig.dialog->ProposedSaveName(), QString::fromUtf8(n.proposed));
    }
    // A long subject is cut to a file name the file system takes.
    rig.entry.subject.clear();
    for (int i = 0; i < 200; ++i) {
        rig.entry.subject += Sjis("表");
    }
    rig.dialog->SetEntry(&rig.entry);
    const QByteArray longName = rig.dialog->ProposedSaveName().toUtf8();
    EXPECT_LE(longName.size(), 255);
    EXPECT_TRUE(longName.endsWith(".eml"));

    rig.Show("+OK 30 octets\r\nSubject: s\r\n\r\n..\r\n..dot\r\nend\r\n.\r\n");
    ASSERT_TRUE(rig.dialog->Command(CMailViewDlg::kSaveCommand)->isEnabled());
    QString proposed;
    const std::string target = rig.folder.Sub("saved.eml");
    rig.dialog->SetSaveChooser([&](QWidget*, const QString& name) {
        proposed = name;
        return QString::fromStdString(target);
    });
    rig.dialog->Command(CMailViewDlg::kSaveCommand)->trigger();
    EXPECT_EQ(proposed, rig.dialog->ProposedSaveName());
    EXPECT_EQ(ReadAll(target), "Subject: s\r\n\r\n.\r\n.dot\r\nend\r\n");

    // A target that cannot be written says so.
    rig.dialog->SetSaveChooser(
        [&](QWidget*, const QString&) { return QString::fromStdString(rig.folder.Sub("missing/x.eml")); });
    rig.prompt.Expect(Sjis("ﾒｰﾙを保存できませんでした。\n") + rig.folder.Sub("missing/x.eml") + "\n" +
                      QStringToCp932Lossy(QString::fromLocal8Bit(std::strerror(ENOENT))));
    rig.dialog->Command(CMailViewDlg::kSaveCommand)->trigger();
    EXPECT_EQ(rig.prompt.Count(), 1u);
    // A cancelled dialog writes nothing.
    rig.dialog->SetSaveChooser([](QWidget*, const QString&) { return QString(); });
    rig.dialog->Command(CMailViewDlg::kSaveCommand)->trigger();
    EXPECT_EQ(rig.prompt.Count(), 1u);
}

TEST(MailViewDlg, ClosingWritesTheSettingsRemovesTheStoredMailAndTellsTheFrame) {
    for (bool byEscape : {false, true}) {
        SCOPED_TRACE(byEscape ? "Esc" : "close command");
        ViewerRig rig;
        rig.dialog->move(120, 80);
        rig.dialog->resize(500, 400);
        rig.Show(kSimple);
        const std::string stored = rig.dialog->MailFile().Path();
        ASSERT_FALSE(stored.empty());
        if (byEscape) {
            QTest::keyClick(rig.dialog.data(), Qt::Key_Escape);
        } else {
            rig.dialog->Command(CMailViewDlg::kClose)->trigger();
        }
        ASSERT_TRUE(test::PumpUntil([&] { return rig.dialog.isNull(); }));
        EXPECT_EQ(rig.owner.closed, 1);
        EXPECT_GE(rig.owner.cancels, 1);
        EXPECT_FALSE(std::filesystem::exists(stored));
        EXPECT_EQ(rig.profile.GetInt("WinPosition\\DlgRect", "Left", -1), 120);
        EXPECT_EQ(rig.profile.GetInt("WinPosition\\DlgRect", "Top", -1), 80);
        EXPECT_EQ(rig.profile.GetInt("WinPosition\\DlgRect", "Right", -1), 620);
        EXPECT_EQ(rig.profile.GetInt("WinPosition\\DlgRect", "Bottom", -1), 480);
        EXPECT_EQ(rig.profile.GetInt("Mail", "Head", -1), 0);
        EXPECT_EQ(rig.profile.GetInt("Mail", "Encode", -9), -1);
    }
}

// The next mail's receive starts without waiting for the last one's file
// to go, but it goes: a moment later, or with the window if that is sooner.
TEST(MailViewDlg, TheLastMailsFileGoesWhenTheNextReceiveStarts) {
    for (const bool closeAtOnce : {false, true}) {
        SCOPED_TRACE(closeAtOnce ? "the window closed at once" : "left open");
        ViewerRig rig;
        rig.Show(kSimple);
        const std::string stored = rig.dialog->MailFile().Path();
        ASSERT_TRUE(std::filesystem::exists(stored));
        rig.dialog->BeginReceive();
        EXPECT_TRUE(rig.dialog->MailFile().Empty());
        EXPECT_FALSE(rig.dialog->Command(CMailViewDlg::kSaveCommand)->isEnabled());
        if (closeAtOnce) {
            delete rig.dialog.data();
            EXPECT_FALSE(std::filesystem::exists(stored));
        } else {
            EXPECT_TRUE(test::PumpUntil([&] { return !std::filesystem::exists(stored); }));
        }
    }
    // A file the next mail was stored under meanwhile is that mail's.
    ViewerRig rig;
    rig.Show(kSimple);
    rig.dialog->BeginReceive();
    std::optional<StoredMail> next = StoredMail::Write(rig.folder.Sub("acc.eml"), kSimple);
    ASSERT_TRUE(next);
    rig.dialog->SetMailFile(*next);
    QCoreApplication::processEvents();
    EXPECT_TRUE(std::filesystem::exists(next->Path()));
}

// A large mail is in the text control at once, all of it: select all takes
// it in, and so does the live text while it arrives, taken over by the
// finished mail without a copy of its text.
TEST(MailViewDlg, ALargeMailIsShownWholeAtOnceAndWhileItArrives) {
    ViewerRig rig;
    std::string body;
    QString shown;
    for (int i = 0; body.size() < 700 * 1024; ++i) {
        body += "line " + std::to_string(i) + " of a large mail\r\n";
        shown += QStringLiteral("line %1 of a large mail\n").arg(i);
    }
    rig.Show("+OK\r\nSubject: s\r\n\r\n" + body + ".\r\n");
    EXPECT_EQ(rig.Text()->toPlainText(), shown);
    // Ctrl+A in the text control is the window's select all.
    rig.dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.dialog.data()));
    rig.Text()->setFocus();
    QTest::keyClick(rig.Text(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(rig.Text()->selectedText().size(), shown.size());

    const std::string reply = "+OK\r\nSubject: s\r\n\r\n" + body;
    rig.dialog->BeginReceive();
    for (std::size_t at = 0; at < reply.size(); at += 65536) {
        const std::size_t n = std::min<std::size_t>(65536, reply.size() - at);
        rig.dialog->AppendReceivedText(reply.data() + at, n, static_cast<int>(at + n));
    }
    EXPECT_EQ(rig.Text()->toPlainText(), shown);
    EXPECT_EQ(rig.dialog->TextView().BodyBytes(), body);
    EXPECT_EQ(rig.Header()->toPlainText(), QStringLiteral("Subject: s\n\n"));
    rig.dialog->EndReceive();
    // The header toggle of a mail cut short shows all that arrived.
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("Subject: s\n\n") + shown);

    // With the header shown from the start, the toggle still splits it off.
    rig.dialog->BeginReceive();
    rig.dialog->ClearMailText();
    rig.dialog->AppendReceivedText(reply.data(), reply.size(), static_cast<int>(reply.size()));
    EXPECT_EQ(rig.Text()->toPlainText(), QStringLiteral("Subject: s\n\n") + shown);
    rig.dialog->EndReceive();
    QTest::mouseClick(rig.Button(CMailViewDlg::kHeaderCheck), Qt::LeftButton);
    EXPECT_EQ(rig.Text()->toPlainText(), shown);
    EXPECT_EQ(rig.Header()->toPlainText(), QStringLiteral("Subject: s\n\n"));

    // Once the fetch converts the whole mail, the live text keeps only what
    // is in view until the converted text replaces it.
    rig.dialog->BeginReceive();
    rig.dialog->AppendReceivedText(reply.data(), reply.size(), static_cast<int>(reply.size()));
    ASSERT_EQ(rig.Text()->toPlainText(), shown);
    rig.dialog->SetWaitCursor(true);
    const int lines = rig.Text()->LineCount();
    EXPECT_LT(lines, 1000);
    EXPECT_GE(lines, rig.Text()->viewport()->height() / rig.Text()->fontMetrics().lineSpacing());
    EXPECT_TRUE(shown.startsWith(rig.Text()->toPlainText()));
    EXPECT_LT(rig.dialog->TextView().BodyCapacity(), 64u * 1024);

    // The finished mail replaces the live text and is not copied on its way.
    MailView view = ViewOfMail("+OK\r\nSubject: s\r\n\r\n" + body + ".\r\n", -1);
    ASSERT_FALSE(view.decoded);
    const char* text = view.legacy.data();
    rig.dialog->ShowMailText(std::move(view));
    rig.dialog->SetWaitCursor(false);
    rig.dialog->EndReceive();
    // Nor moved: the body is shown where it lies, after the status line and header.
    EXPECT_EQ(rig.dialog->TextView().BodyBytes().data(), text + std::strlen("+OK\r\nSubject: s\r\n\r\n"));
    EXPECT_EQ(rig.Text()->toPlainText(), shown);
}

// The source of a decoded mail that came without its source text is read
// from the stored mail once that is there.
TEST(MailViewDlg, TheSourceOfADecodedMailIsReadFromTheStoredMail) {
    ViewerRig rig;
    rig.dialog->Command(CMailViewDlg::kSourceCommand)->trigger();
    std::optional<StoredMail> stored = StoredMail::Write(rig.folder.Sub("acc.eml"), kTodays);
    ASSERT_TRUE(stored);
    MailView view = ViewOfMail(kTodays, -1);
    ASSERT_TRUE(view.decoded);
    view.legacy.clear();
    rig.dialog->ShowMailText(std::move(view));
    rig.dialog->SetMailFile(*stored);
    EXPECT_TRUE(rig.Text()->toPlainText().contains(QStringLiteral("5pel5pys8J+MuCDwoK63IO2VnOq4gA0K")));
    EXPECT_FALSE(rig.dialog->TextView().Unicode());
    rig.dialog->Command(CMailViewDlg::kSourceCommand)->trigger();
    EXPECT_EQ(rig.Text()->toPlainText(), QString::fromUtf8("日本🌸 𠮷 한글\n"));
}

// Resizing moves the window's edge, not the controls' margins: the text
// control takes the whole change, the attachment list its width only.
TEST(MailViewDlg, ResizingKeepsTheMarginsOfTheTextAndTheAttachmentList) {
    ViewerRig rig;
    QWidget* text = rig.dialog->Control(CMailViewDlg::kText);
    QWidget* list = rig.dialog->Control(CMailViewDlg::kAttachmentList);
    rig.dialog->resize(500, 400);
    ASSERT_TRUE(test::PumpUntil([&] { return text->geometry().bottom() > 300; }));
    const QRect textBefore = text->geometry();
    const QRect listBefore = list->geometry();
    rig.dialog->resize(650, 520);
    ASSERT_TRUE(test::PumpUntil([&] { return text->width() == textBefore.width() + 150; }));
    EXPECT_EQ(text->height(), textBefore.height() + 120);
    EXPECT_EQ(text->geometry().topLeft(), textBefore.topLeft());
    EXPECT_EQ(list->width(), listBefore.width() + 150);
    EXPECT_EQ(list->height(), listBefore.height());
}

// A failed login closes the viewer as a posted close would.
TEST(MailViewDlg, PostCloseClosesItSoon) {
    ViewerRig rig;
    rig.dialog->PostClose();
    EXPECT_FALSE(rig.dialog.isNull()) << "not from inside the call";
    ASSERT_TRUE(test::PumpUntil([&] { return rig.dialog.isNull(); }));
    EXPECT_EQ(rig.owner.closed, 1);
}

// The demo's mails as a person reads them: JIS, Shift_JIS and EUC-JP, one
// with the header shown.
TEST(MailViewDlg, ScreenshotsOfTheDemoMails) {
    const struct {
        const char* file;
        const char* shot;
        bool header;
    } mails[] = {
        {"01-meeting.eml", "viewer_jis.png", false},
        {"03-maintenance-sjis.eml", "viewer_sjis.png", false},
        {"04-party-eucjp.eml", "viewer_euc.png", false},
        {"07-estimate-pdf.eml", "viewer_header.png", true},
        {"23-utf8-emoji.eml", "viewer_utf8_emoji.png", false},
        {"24-outlook-alternative.eml", "viewer_utf8_alternative_header.png", true},
        {"25-html-only.eml", "viewer_html_only.png", false},
        {"26-rfc2231-attachment.eml", "viewer_rfc2231.png", false},
        {"27-korean-newsletter.eml", "viewer_korean.png", false},
    };
    for (const auto& m : mails) {
        SCOPED_TRACE(m.file);
        std::string mail = ReadAll(std::string(WRENPOST_SOURCE_DIR) + "/scripts/demo-mail/alice/" + m.file);
        ASSERT_FALSE(mail.empty());
        std::string crlf;
        for (char ch : mail) {
            if (ch == '\n') {
                crlf += '\r';
            }
            crlf += ch;
        }
        ViewerRig rig;
        if (m.header) {
            rig.Button(CMailViewDlg::kHeaderCheck)->click();
        }
        rig.entry.subject = DecodeHeaderText(GetSubject(crlf));
        rig.entry.size = static_cast<std::uint32_t>(crlf.size());
        rig.dialog->SetEntry(&rig.entry);
        rig.dialog->SetSizeText(MailSizeText(rig.entry.size));
        rig.Show("+OK\r\n" + crlf + ".\r\n");
        rig.dialog->AppendReceivedText("", 0, static_cast<int>(crlf.size()));
        rig.dialog->resize(640, 520);
        QCoreApplication::processEvents();
        EXPECT_FALSE(rig.Text()->toPlainText().contains(QChar(0xFFFD)));
        const QString shot = test::ScreenshotPath(m.shot);
        EXPECT_TRUE(rig.dialog->grab().save(shot)) << shot.toStdString();
    }
}

}  // namespace
}  // namespace wp
