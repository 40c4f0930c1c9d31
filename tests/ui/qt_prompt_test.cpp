#include "ui/qt_prompt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/messages.h"
#include "platform/strings.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::PumpUntil;

// What the user saw in the box.
struct Seen {
    bool found = false;
    bool onUiThread = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;  // captions, in the order they were added
    QString defaultButton;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QWidget* parent = nullptr;
};

// Watches for the next modal box, notes what it shows, then lets act() answer
// it. After the limit it closes whatever box is open, so no test hangs.
class BoxWatcher {
public:
    explicit BoxWatcher(std::function<void(QMessageBox*)> act) : act_(std::move(act)) {
        deadline_ = QDeadlineTimer(std::chrono::seconds(20));
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(5);
    }
    const Seen& seen() const { return seen_; }

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            if (deadline_.hasExpired()) {
                timer_.stop();
            }
            return;
        }
        timer_.stop();
        seen_.found = true;
        seen_.onUiThread = QThread::currentThread() == qApp->thread() && box->thread() == qApp->thread();
        seen_.text = box->text();
        seen_.title = box->windowTitle();
        seen_.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            seen_.buttons << b->text();
        }
        std::sort(seen_.buttons.begin(), seen_.buttons.end());
        if (box->defaultButton() != nullptr) {
            seen_.defaultButton = box->defaultButton()->text();
        }
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
            seen_.labelFormat = label->textFormat();
        }
        seen_.parent = box->parentWidget();
        act_(box);
    }

    std::function<void(QMessageBox*)> act_;
    QTimer timer_;
    QDeadlineTimer deadline_;
    Seen seen_;
};

std::function<void(QMessageBox*)> Press(QMessageBox::StandardButton which) {
    return [which](QMessageBox* box) {
        QAbstractButton* button = box->button(which);
        if (button == nullptr) {
            ADD_FAILURE() << "the box has no such button";
            box->reject();
            return;
        }
        QTest::mouseClick(button, Qt::LeftButton);
    };
}

std::function<void(QMessageBox*)> PressEscape() {
    return [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); };
}

QStringList Sorted(QStringList list) {
    std::sort(list.begin(), list.end());
    return list;
}

const QString kOk = "OK";
const QString kCancel = QString::fromUtf8("キャンセル");
const QString kYes = QString::fromUtf8("はい(&Y)");
const QString kNo = QString::fromUtf8("いいえ(&N)");

struct BoxCase {
    const char* what;
    PromptButtons buttons;
    PromptIcon icon;
    PromptAnswer defaultAnswer;
    std::function<void(QMessageBox*)> act;
    QMessageBox::Icon expectedIcon;
    QStringList expectedButtons;
    QString expectedDefault;
    PromptAnswer expectedAnswer;
};

std::vector<BoxCase> Cases() {
    return {
        {"OK box, information",
         PromptButtons::Ok,
         PromptIcon::Information,
         PromptAnswer::Ok,
         Press(QMessageBox::Ok),
         QMessageBox::Information,
         {kOk},
         kOk,
         PromptAnswer::Ok},
        {"yes/no, warning, default no, user says yes",
         PromptButtons::YesNo,
         PromptIcon::Exclamation,
         PromptAnswer::No,
         Press(QMessageBox::Yes),
         QMessageBox::Warning,
         {kYes, kNo},
         kNo,
         PromptAnswer::Yes},
        {"yes/no/cancel, question, user cancels",
         PromptButtons::YesNoCancel,
         PromptIcon::Question,
         PromptAnswer::Yes,
         Press(QMessageBox::Cancel),
         QMessageBox::Question,
         {kYes, kNo, kCancel},
         kYes,
         PromptAnswer::Cancel},
        {"OK/cancel, error, user says OK",
         PromptButtons::OkCancel,
         PromptIcon::Error,
         PromptAnswer::Cancel,
         Press(QMessageBox::Ok),
         QMessageBox::Critical,
         {kOk, kCancel},
         kCancel,
         PromptAnswer::Ok},
        {"no icon",
         PromptButtons::Ok,
         PromptIcon::None,
         PromptAnswer::Ok,
         Press(QMessageBox::Ok),
         QMessageBox::NoIcon,
         {kOk},
         kOk,
         PromptAnswer::Ok},
        {"a default the buttons lack falls back to the first",
         PromptButtons::YesNo,
         PromptIcon::Question,
         PromptAnswer::Ok,
         Press(QMessageBox::No),
         QMessageBox::Question,
         {kYes, kNo},
         kYes,
         PromptAnswer::No},
        // Escape must never read as consent.
        {"escape on yes/no gives no",
         PromptButtons::YesNo,
         PromptIcon::Question,
         PromptAnswer::Yes,
         PressEscape(),
         QMessageBox::Question,
         {kYes, kNo},
         kYes,
         PromptAnswer::No},
        {"escape on OK/cancel gives cancel",
         PromptButtons::OkCancel,
         PromptIcon::Question,
         PromptAnswer::Ok,
         PressEscape(),
         QMessageBox::Question,
         {kOk, kCancel},
         kOk,
         PromptAnswer::Cancel},
        {"escape on an OK box gives OK",
         PromptButtons::Ok,
         PromptIcon::Exclamation,
         PromptAnswer::Ok,
         PressEscape(),
         QMessageBox::Warning,
         {kOk},
         kOk,
         PromptAnswer::Ok},
    };
}

PromptRequest LoginFailedBox(const BoxCase& c) {
    PromptRequest r;
    r.text = Sjis("ﾒｰﾙｻｰﾊﾞ-にﾛｸﾞｵﾝできませんでした。\nﾊﾟｽﾜｰﾄﾞが拒否されました。");
    r.caption = Sjis("ｴﾗｰ");
    r.buttons = c.buttons;
    r.icon = c.icon;
    r.defaultAnswer = c.defaultAnswer;
    return r;
}

void CheckSeen(const BoxCase& c, const Seen& seen) {
    ASSERT_TRUE(seen.found) << c.what;
    EXPECT_TRUE(seen.onUiThread) << c.what;
    EXPECT_EQ(seen.text, QString::fromUtf8("ﾒｰﾙｻｰﾊﾞ-にﾛｸﾞｵﾝできませんでした。\nﾊﾟｽﾜｰﾄﾞが拒否されました。"))
        << c.what;
    EXPECT_EQ(seen.title, QString::fromUtf8("ｴﾗｰ")) << c.what;
    EXPECT_EQ(seen.icon, c.expectedIcon) << c.what;
    EXPECT_EQ(seen.buttons, Sorted(c.expectedButtons)) << c.what;
    EXPECT_EQ(seen.defaultButton, c.expectedDefault) << c.what;
}

TEST(QtPrompt, ShowsTheBoxAskedOnTheUiThread) {
    QtPrompt prompt;
    for (const auto& c : Cases()) {
        BoxWatcher watcher(c.act);
        PromptAnswer answer = prompt.Ask(LoginFailedBox(c));
        CheckSeen(c, watcher.seen());
        EXPECT_EQ(answer, c.expectedAnswer) << c.what;
    }
}

// The worker asks; the box must still be a widget of the user-interface
// thread, and the worker must get the user's answer.
TEST(QtPrompt, ShowsTheBoxAskedByTheWorkerOnTheUiThread) {
    QtPrompt prompt;
    for (const auto& c : Cases()) {
        BoxWatcher watcher(c.act);
        std::atomic<bool> done{false};
        PromptAnswer answer = PromptAnswer::Ok;
        std::thread worker([&] {
            answer = prompt.Ask(LoginFailedBox(c));
            done = true;
        });
        bool finished = PumpUntil([&] { return done.load(); });
        worker.join();
        ASSERT_TRUE(finished) << c.what;
        CheckSeen(c, watcher.seen());
        EXPECT_EQ(answer, c.expectedAnswer) << c.what;
    }
}

TEST(QtPrompt, BoxBelongsToItsParentWindow) {
    auto frame = std::make_unique<QWidget>();
    QtPrompt prompt(frame.get());
    PromptRequest r;
    r.text = "x";
    {
        BoxWatcher watcher(Press(QMessageBox::Ok));
        prompt.Ask(r);
        EXPECT_EQ(watcher.seen().parent, frame.get());
    }
    // The frame may be gone by the time a late box comes.
    frame.reset();
    {
        BoxWatcher watcher(Press(QMessageBox::Ok));
        EXPECT_EQ(prompt.Ask(r), PromptAnswer::Ok);
        EXPECT_TRUE(watcher.seen().found);
        EXPECT_EQ(watcher.seen().parent, nullptr);
    }
}

// Texts can carry mail subjects and file names: shown as they are, never
// read as markup; bytes that are not CP932 show as a visible mark.
TEST(QtPrompt, TextsAreShownLiterally) {
    QtPrompt prompt;
    PromptRequest r;
    r.text = "<b>Re: a&b</b> \x82\xA0\x80";
    r.caption = "<i>c</i>";
    BoxWatcher watcher(Press(QMessageBox::Ok));
    prompt.Ask(r);
    ASSERT_TRUE(watcher.seen().found);
    EXPECT_EQ(watcher.seen().labelFormat, Qt::PlainText);
    EXPECT_EQ(watcher.seen().text, QString::fromUtf8("<b>Re: a&b</b> あ\xEF\xBF\xBD"));
    EXPECT_EQ(watcher.seen().title, "<i>c</i>");
}

}  // namespace
}  // namespace wp
