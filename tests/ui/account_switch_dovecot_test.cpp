// The account bar and the message list together on a small frame around a
// real engine, against Dovecot: picking another account while a listing
// runs.

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <optional>

#include "accounts/account_list.h"
#include "accounts/widgets/account_bar.h"
#include "accounts/widgets/account_frame.h"
#include "list_rig.h"
#include "mail/mailbox_files.h"
#include "mail/mailbox_fixture.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::PumpUntil;

// What the main frame does for the two widgets, and no more.
class SmallFrame : public FrameView, public AccountFrame {
public:
    explicit SmallFrame(const std::string& root)
        : profile_(root + "/profile.ini"),
          dataFolder_(test::ListRig::DataFolder(root)),
          engine(*this, prompt, dataFolder_) {}

    void Open() {
        store_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
        window = std::make_unique<QMainWindow>();
        window->setFont(QFont("IPAPGothic", 9));
        bar = new CAccountBar(*this, prompt, profile_, window.get());
        window->addToolBar(bar);
        view = new CTarnpostView(profile_, window.get());
        view->SetEngine(&engine);
        window->setCentralWidget(view);
        window->resize(620, 320);
        window->show();
        ASSERT_TRUE(bar->Create());
    }
    ~SmallFrame() override {
        // The rows point into the engine's entries: the window goes first.
        window.reset();
    }

    // FrameView
    const AccountInfo* SelectedAccount() override { return bar->GetSelectedAccount(); }
    std::string AccountText() override { return bar->GetSelectedAccountName(); }
    std::string LoginIdText() override { return bar->LoginIdText(); }
    std::string PasswordText() override { return bar->PasswordText(); }
    void SetPaneText(int pane, const std::string& text) override {
        if (pane == 3 && !text.empty()) {
            statuses.push_back(text);
        }
    }
    void ResetProgress() override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    void SetRunningImages(bool) override {}
    void SetDocumentTitle(const std::string&) override {}
    void FocusList() override {}
    void CloseWindow() override {}
    MailList& List() override { return *view; }

    // AccountFrame
    CAccountList& Accounts() override { return *store_; }
    bool OperationRunning() override { return engine.receiving != 0; }
    bool ConnectionAnswers() override { return engine.CheckConnection(); }
    void CancelAndDisconnect() override {
        engine.CancelOperation();
        // The running operation still uses the session: the login ends when
        // the operation has let go of it.
        engine.WhenIdle([this] { engine.Disconnect(); });
    }
    void LoadCachedList(const std::string& accountName) override { engine.SwitchAccount(accountName); }
    void ActivateFrame() override {}
    std::string GetSelectedAccountName() override { return bar->GetSelectedAccountName(); }
    void AccountSaved(const AccountRecord& record, std::string_view password) override {
        bar->AccountSaved(record, password);
    }
    void ReloadAccounts() override {
        store_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
        bar->ReloadAccounts();
    }

    bool Saw(int id) const {
        return std::find(statuses.begin(), statuses.end(), LoadString(id)) != statuses.end();
    }

    test::ScriptedPrompt prompt;
    std::vector<std::string> statuses;
    std::unique_ptr<QMainWindow> window;
    CAccountBar* bar = nullptr;
    CTarnpostView* view = nullptr;

private:
    Profile profile_;
    std::string dataFolder_;
    std::unique_ptr<CAccountList> store_;

public:
    FrameEngine engine;

    Profile& profile() { return profile_; }
    const std::string& dataFolder() const { return dataFolder_; }
};

class AccountSwitchDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = test::FindDovecot();
        ASSERT_TRUE(server_) << server_.error;
        user_ = test::LeaseUser();
        ASSERT_TRUE(user_) << user_.error();
        std::vector<std::string> mails;
        for (int i = 1; i <= kMails; ++i) {
            mails.push_back("From: sender" + std::to_string(i) + "@example.jp\nSubject: listed " +
                            std::to_string(i) + "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n\nbody\n");
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), mails));
        root_ = test::FreshFolder("switch");
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // "alpha" is the Dovecot user; "beta" exists only in its cache, which
    // holds two mails.
    void Prepare(SmallFrame& frame) {
        {
            CAccountList store(false, frame.dataFolder(), frame.profile());
            for (const char* name : {"alpha", "beta"}) {
                AccountInfo info;
                info.SetName(name);
                info.SetServer(server_.host + ":" + std::to_string(server_.port));
                info.SetLoginId(user_.name());
                info.SetPassword(user_.password());
                info.SetSavePassword(true);
                ASSERT_TRUE(store.SaveAccount(info));
                store.StorePassword(name, user_.password());
            }
        }
        CMailboxFiles beta("beta", frame.dataFolder());
        std::string blocks;
        std::vector<IndexRecord> records;
        for (int i = 1; i <= 2; ++i) {
            std::string block =
                "+OK\r\nFrom: cached@example.jp\r\nSubject: cached " + std::to_string(i) + "\r\n\r\n.\r\n";
            records.push_back(
                test::Record(i, i, 100 * i, static_cast<int>(block.size()), "c" + std::to_string(i)));
            blocks += block;
        }
        test::Spit(beta.sidPath, test::IndexBytes(records));
        test::Spit(beta.kvtPath, blocks);
    }

    static constexpr int kMails = 300;
    test::DovecotServer server_;
    test::DovecotUserLease user_;
    std::string root_;
};

TEST_F(AccountSwitchDovecot, PickingAnotherAccountDuringAListingAsksFirst) {
    struct Case {
        const char* what;
        PromptAnswer answer;
    } cases[] = {{"cancel keeps the listing and the account", PromptAnswer::Cancel},
                 {"OK stops the listing and loads the other account", PromptAnswer::Ok}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        SmallFrame frame(root_);
        Prepare(frame);
        frame.Open();
        ASSERT_TRUE(PumpUntil([&] { return frame.engine.Mailbox() != nullptr; }));
        ASSERT_EQ(Cp932ToUtf8(frame.bar->GetSelectedAccountName()), "alpha");
        ASSERT_EQ(frame.view->RowCount(), 0) << "alpha has no cache yet";

        PromptRequest box;
        box.text = Sjis("[beta] がｱｸﾃｨﾌﾞです。\n通信を中断して、ｱｶｳﾝﾄを切り換えます。");
        box.caption = Sjis("Wrenpost");
        box.buttons = PromptButtons::OkCancel;
        box.icon = PromptIcon::Exclamation;
        box.defaultAnswer = PromptAnswer::Ok;
        frame.prompt.Expect(box, c.answer);

        // The user picks "beta" while the rows are still coming in.
        bool picked = false;
        int rowsWhenPicked = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!picked && frame.view->RowCount() >= 5) {
                picked = true;
                rowsWhenPicked = frame.view->RowCount();
                frame.bar->AccountCombo()->setFocus();
                QTest::keyClick(frame.bar->AccountCombo(), Qt::Key_Down);
            }
        });
        timer.start(1);
        frame.view->setFocus();
        QTest::keyClick(frame.view, Qt::Key_F5);
        EXPECT_EQ(frame.engine.receiving, 1) << "F5 in the list starts the listing";
        ASSERT_TRUE(
            PumpUntil([&] { return picked && frame.engine.receiving == 0; }, std::chrono::seconds(60)));
        timer.stop();
        ASSERT_TRUE(PumpUntil([&] { return frame.prompt.Pending() == 0; }));
        EXPECT_EQ(frame.prompt.Count(), 1u);

        if (c.answer == PromptAnswer::Cancel) {
            EXPECT_EQ(Cp932ToUtf8(frame.bar->GetSelectedAccountName()), "alpha");
            EXPECT_TRUE(PumpUntil([&] { return frame.Saw(IDS_STATUS_LIST_DONE); }));
            frame.view->Flush();
            EXPECT_EQ(frame.view->RowCount(), kMails);
            EXPECT_EQ(frame.view->model()->rowCount(), kMails);
        } else {
            EXPECT_EQ(Cp932ToUtf8(frame.bar->GetSelectedAccountName()), "beta");
            EXPECT_TRUE(PumpUntil([&] { return frame.Saw(IDS_STATUS_LIST_PARTIAL); }));
            ASSERT_TRUE(PumpUntil([&] { return frame.view->RowCount() == 2; }));
            EXPECT_EQ(Cp932ToUtf8(frame.view->RowEntry(0)->subject), "cached 1");
            ASSERT_NE(frame.engine.Mailbox(), nullptr);
            EXPECT_EQ(frame.engine.Mailbox()->sidPath, CMailboxFiles("beta", frame.dataFolder()).sidPath);
            EXPECT_EQ(frame.engine.sessionAlive, 0);
            // alpha's cache describes what its listing got through before it stopped.
            CMailboxFiles alpha("alpha", frame.dataFolder());
            EXPECT_TRUE(test::ConsistentPair(alpha));
            const auto records = test::ReadIndex(alpha.sidPath);
            EXPECT_EQ(records.size(), static_cast<std::size_t>(kMails));
            frame.view->Flush();
            frame.window->grab().save(QString::fromStdString(test::ScreenshotFile("account_switch")));
        }
        EXPECT_GE(rowsWhenPicked, 5);
    }
}

}  // namespace
}  // namespace wp
