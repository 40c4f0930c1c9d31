// The account bar on a plain main window, with a frame that records what
// the bar asks of it and a store written to a private folder.

#include "accounts/widgets/account_bar.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "accounts/widgets/account_frame.h"
#include "platform/profile.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::PumpUntil;
using test::ScriptedPrompt;

struct Account {
    const char* name;
    const char* login;
    const char* password;
    bool savePassword;
};

class RecordingFrame : public AccountFrame {
public:
    RecordingFrame(std::string dataFolder, Profile& profile)
        : dataFolder_(std::move(dataFolder)), profile_(profile) {
        store_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
    }

    CAccountList& Accounts() override { return *store_; }
    bool OperationRunning() override { return running; }
    bool ConnectionAnswers() override { return answers; }
    void CancelAndDisconnect() override {
        ++cancels;
        running = false;
        answers = false;
    }
    void LoadCachedList(const std::string& accountName) override { loaded.push_back(accountName); }
    void ActivateFrame() override { ++activations; }
    std::string GetSelectedAccountName() override { return bar->GetSelectedAccountName(); }
    void AccountSaved(const AccountRecord& record, std::string_view password) override {
        bar->AccountSaved(record, password);
    }
    void ReloadAccounts() override {
        store_.reset();
        store_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
        bar->ReloadAccounts();
    }

    CAccountBar* bar = nullptr;
    bool running = false;
    bool answers = false;
    int cancels = 0;
    int activations = 0;
    std::vector<std::string> loaded;

private:
    std::string dataFolder_;
    Profile& profile_;
    std::unique_ptr<CAccountList> store_;
};

class AccountBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        std::filesystem::path root = base != nullptr ? base : "/tmp";
        std::filesystem::create_directories(root);
        std::string pattern = (root / "bar-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        dataFolder_ = root_ + "/Mail";
        std::filesystem::create_directory(dataFolder_);
        profile_ = std::make_unique<Profile>(root_ + "/profile.ini");
    }

    void TearDown() override {
        window_.reset();
        frame_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    void Store(const std::vector<Account>& accounts) {
        CAccountList store(false, dataFolder_, *profile_);
        for (const Account& a : accounts) {
            AccountInfo info;
            info.SetName(Sjis(a.name));
            info.SetLoginId(a.login);
            info.SetServer("pop.example.jp");
            info.SetSavePassword(a.savePassword);
            info.SetPassword(a.password);
            ASSERT_TRUE(store.SaveAccount(info));
            if (a.savePassword) {
                store.StorePassword(info.Name(), a.password);
            }
        }
    }

    // Deletes an account as the settings dialog does: blank it, then let the
    // writable store compact the file.
    void Delete(const char* name) {
        CAccountList store(false, dataFolder_, *profile_);
        for (int n = 1; n <= store.Size(); ++n) {
            if (store.Lookup(n)->Name() == Sjis(name)) {
                ASSERT_TRUE(store.ClearAccount(n));
            }
        }
    }

    // The bar as the main window makes it, with its first load done.
    void Open() {
        frame_ = std::make_unique<RecordingFrame>(dataFolder_, *profile_);
        window_ = std::make_unique<QMainWindow>();
        bar_ = new CAccountBar(*frame_, prompt_, *profile_, window_.get());
        frame_->bar = bar_;
        window_->addToolBar(bar_);
        window_->resize(700, 120);
        window_->show();
        ASSERT_TRUE(bar_->Create());
        if (bar_->AccountCombo()->currentIndex() >= 0) {
            ASSERT_TRUE(PumpUntil([&] { return frame_->loaded.size() == 1; }));
        } else {
            QCoreApplication::processEvents();
        }
    }

    QStringList Items() const {
        QStringList items;
        for (int i = 0; i < bar_->AccountCombo()->count(); ++i) {
            items << bar_->AccountCombo()->itemText(i);
        }
        return items;
    }

    std::string Selected() const { return Cp932ToUtf8(bar_->GetSelectedAccountName()); }

    // What the user does: the drop-down list's next item, from the keyboard.
    void PickNext() {
        bar_->AccountCombo()->setFocus();
        QTest::keyClick(bar_->AccountCombo(), Qt::Key_Down);
    }

    std::string root_;
    std::string dataFolder_;
    std::unique_ptr<Profile> profile_;
    ScriptedPrompt prompt_;
    std::unique_ptr<RecordingFrame> frame_;
    std::unique_ptr<QMainWindow> window_;
    CAccountBar* bar_ = nullptr;
};

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

TEST_F(AccountBarTest, FirstStartSelectsTheFirstAccountInSortedOrderAndLoadsIt) {
    Store({{"Zeta", "z", "pz", true}, {"Alpha", "a", "pa", true}, {"beta", "b", "pb", false}});
    Open();
    EXPECT_EQ(Items(), QStringList({"Alpha", "beta", "Zeta"})) << "sorted without regard to case";
    EXPECT_EQ(Selected(), "Alpha");
    EXPECT_EQ(frame_->loaded, std::vector<std::string>{"Alpha"});
    EXPECT_EQ(frame_->activations, 1);
    ASSERT_NE(bar_->GetSelectedAccount(), nullptr);
    EXPECT_EQ(bar_->GetSelectedAccount()->Number(), 2) << "item data is the account's own number";
    EXPECT_EQ(bar_->LoginIdEdit()->text(), "a");
    EXPECT_EQ(bar_->LastSelection(), 0);
    EXPECT_EQ(bar_->AccountCombo()->toolTip(), Q("ﾒｰﾙｱｶｳﾝﾄ名"));
    EXPECT_EQ(bar_->AccountCombo()->statusTip(), Q("ﾒｰﾙのｱｶｳﾝﾄ名"));
    EXPECT_EQ(bar_->PasswordEdit()->toolTip(), Q("ﾊﾟｽﾜｰﾄﾞ"));
}

TEST_F(AccountBarTest, TheAccountOfTheLastRunIsFoundByItsBeginning) {
    struct Case {
        const char* entry;
        const char* selected;  // nullptr: none, and nothing loaded
    } cases[] = {
        {"beta", "beta"}, {"BE", "beta"},  // a prefix, ignoring case
        {"", "Alpha"},    {"gamma", nullptr}, {"日本", "日本語"},
    };
    Store({{"beta", "b", "pb", true}, {"Alpha", "a", "pa", true}, {"日本語", "j", "pj", true}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        profile_->SetString("AccPosition", "AccEntry", Sjis(c.entry));
        Open();
        if (c.selected == nullptr) {
            EXPECT_EQ(bar_->AccountCombo()->currentIndex(), -1);
            EXPECT_EQ(bar_->GetSelectedAccount(), nullptr);
            EXPECT_TRUE(frame_->loaded.empty());
        } else {
            EXPECT_EQ(Selected(), c.selected);
            EXPECT_EQ(frame_->loaded.size(), 1u);
        }
    }
}

TEST_F(AccountBarTest, ASavedPasswordShowsMaskedAndAnUnsavedOneLeavesTheBoxEmpty) {
    Store({{"saved", "id1", "secret", true}, {"unsaved", "id2", "hidden", false}});
    Open();
    ASSERT_EQ(Selected(), "saved");
    EXPECT_EQ(bar_->PasswordEdit()->text(), "secret");
    EXPECT_EQ(bar_->PasswordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(bar_->PasswordEdit()->displayText().contains("secret"));
    EXPECT_EQ(bar_->PasswordText(), "secret");

    PickNext();
    ASSERT_EQ(Selected(), "unsaved");
    EXPECT_EQ(bar_->LoginIdEdit()->text(), "id2");
    EXPECT_TRUE(bar_->PasswordEdit()->text().isEmpty());
    EXPECT_EQ(frame_->loaded, (std::vector<std::string>{"saved", "unsaved"}));
}

TEST_F(AccountBarTest, LineBreaksNeverEnterTheLoginBoxes) {
    Store({{"saved", "id1", "secret", true}});
    Open();
    for (QLineEdit* box : {bar_->LoginIdEdit(), bar_->PasswordEdit()}) {
        box->clear();
        box->setFocus();
        box->insert(QStringLiteral("p\r\nDELE 2"));  // as a paste does
        EXPECT_FALSE(box->text().contains(QLatin1Char('\n')));
        EXPECT_FALSE(box->text().contains(QLatin1Char('\r')));
    }
    EXPECT_EQ(bar_->PasswordText().find('\n'), std::string::npos);
}

TEST_F(AccountBarTest, SwitchingWhileBusyAsksFirst) {
    struct Case {
        const char* what;
        bool running;
        bool answers;
        std::optional<PromptAnswer> answer;  // none: no question
        const char* selected;
        int cancels;
    } cases[] = {
        {"idle: no question", false, false, std::nullopt, "beta", 0},
        {"operation running, cancel", true, false, PromptAnswer::Cancel, "alpha", 0},
        {"operation running, OK", true, false, PromptAnswer::Ok, "beta", 1},
        {"kept login answers, OK", false, true, PromptAnswer::Ok, "beta", 1},
        {"kept login answers, cancel", false, true, PromptAnswer::Cancel, "alpha", 0},
    };
    Store({{"alpha", "a", "pa", true}, {"beta", "b", "pb", true}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Open();
        frame_->running = c.running;
        frame_->answers = c.answers;
        if (c.answer) {
            PromptRequest box;
            box.text = Sjis("[beta] がｱｸﾃｨﾌﾞです。\n通信を中断して、ｱｶｳﾝﾄを切り換えます。");
            box.caption = Sjis("Wrenpost");
            box.buttons = PromptButtons::OkCancel;
            box.icon = PromptIcon::Exclamation;
            box.defaultAnswer = PromptAnswer::Ok;
            prompt_.Expect(box, *c.answer);
        }
        PickNext();
        prompt_.VerifyAndClear();
        EXPECT_EQ(Selected(), c.selected);
        EXPECT_EQ(bar_->AccountCombo()->currentText(), Q(c.selected));
        EXPECT_EQ(frame_->cancels, c.cancels);
        const bool switched = std::string(c.selected) == "beta";
        EXPECT_EQ(frame_->loaded.back(), c.selected);
        EXPECT_EQ(frame_->loaded.size(), switched ? 2u : 1u) << "a declined switch loads nothing";
        EXPECT_EQ(bar_->LoginIdEdit()->text(), switched ? "b" : "a");
    }
}

TEST_F(AccountBarTest, AfterADeletionTheSamePositionOrTheLastIsSelected) {
    struct Case {
        const char* selected;
        const char* deleted;
        const char* expected;  // nullptr: none left
        bool running;
    } cases[] = {
        {"b", "b", "c", false}, {"c", "c", "b", false},  // the list got shorter: the last
        {"a", "a", "b", false}, {"b", "a", "c", false},  // the position counts, not the account
        {"b", "b", "c", true},  // the cache follows even when the dialog closes mid-operation
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.selected) + " without " + c.deleted);
        std::filesystem::remove(root_ + "/AccData.dat");
        Store({{"a", "ia", "pa", true}, {"b", "ib", "pb", true}, {"c", "ic", "pc", true}});
        profile_->SetString("AccPosition", "AccEntry", c.selected);
        Open();
        ASSERT_EQ(Selected(), c.selected);
        Delete(c.deleted);
        frame_->running = c.running;
        frame_->ReloadAccounts();
        EXPECT_EQ(Items().size(), 2);
        EXPECT_EQ(Selected(), c.expected);
        ASSERT_TRUE(PumpUntil([&] { return frame_->loaded.size() == 2; }));
        EXPECT_EQ(frame_->loaded.back(), c.expected);
        EXPECT_EQ(bar_->LoginIdEdit()->text(), QString("i") + c.expected);
    }
    // Every account deleted: nothing selected, nothing loaded, nothing to run.
    std::filesystem::remove(root_ + "/AccData.dat");
    Store({{"a", "ia", "pa", true}});
    profile_->SetString("AccPosition", "AccEntry", "");
    Open();
    Delete("a");
    frame_->ReloadAccounts();
    QCoreApplication::processEvents();
    EXPECT_EQ(bar_->AccountCombo()->count(), 0);
    EXPECT_EQ(bar_->GetSelectedAccount(), nullptr);
    EXPECT_EQ(frame_->loaded.size(), 1u);
}

TEST_F(AccountBarTest, ASavedAccountRefreshesTheBarOnlyWhenItIsTheSelectedOne) {
    Store({{"alpha", "a", "pa", false}, {"beta", "b", "pb", true}});
    Open();
    ASSERT_EQ(Selected(), "alpha");

    AccountRecord other;
    other.SetName("beta");
    other.SetLoginId("changed");
    frame_->AccountSaved(other, "x");
    EXPECT_EQ(bar_->LoginIdEdit()->text(), "a");
    EXPECT_TRUE(bar_->PasswordEdit()->text().isEmpty());

    AccountRecord same;
    same.SetName("alpha");
    same.SetLoginId("newid");
    same.SetServer("mail.example.jp:1110");
    frame_->AccountSaved(same, "typed");
    EXPECT_EQ(bar_->LoginIdEdit()->text(), "newid");
    EXPECT_EQ(bar_->PasswordEdit()->text(), "typed");
    ASSERT_NE(bar_->GetSelectedAccount(), nullptr);
    EXPECT_EQ(bar_->GetSelectedAccount()->Server(), "mail.example.jp:1110");
    EXPECT_EQ(bar_->GetSelectedAccount()->Number(), 1);
    EXPECT_EQ(bar_->GetSelectedAccount()->Password(), "typed");
    EXPECT_EQ(frame_->loaded.size(), 1u) << "saving does not reload the list";
}

TEST_F(AccountBarTest, NamesThatDifferOnlyInCaseEachKeepTheirAccount) {
    // The settings dialog refuses such names; an account file written by
    // other means may still hold them, and neither may become unreachable.
    Store({{"Mail", "upper", "p1", true}, {"mail", "lower", "p2", true}});
    Open();
    ASSERT_EQ(bar_->AccountCombo()->count(), 2);
    std::vector<std::string> logins;
    for (int i = 0; i < 2; ++i) {
        bar_->AccountCombo()->setCurrentIndex(i);
        ASSERT_NE(bar_->GetSelectedAccount(), nullptr);
        logins.emplace_back(bar_->GetSelectedAccount()->LoginId());
    }
    std::sort(logins.begin(), logins.end());
    EXPECT_EQ(logins, (std::vector<std::string>{"lower", "upper"}));
}

}  // namespace
}  // namespace wp
