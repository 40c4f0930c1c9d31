// The account settings dialog through its real widgets, offscreen, against a
// real store in a folder of its own and a frame that records what it is told.

#include "accounts/widgets/account_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QtTest/QTest>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_files.h"
#include "accounts/store_fixture.h"
#include "accounts/widgets/account_frame.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"

namespace wp::test {
namespace {

using Dlg = CAccountDlg;

class FakeFrame : public AccountFrame {
public:
    FakeFrame(std::string dataFolder, Profile& profile, std::string dataPath)
        : dataFolder_(std::move(dataFolder)), profile_(profile), dataPath_(std::move(dataPath)) {}

    CAccountList& Accounts() override {
        if (!store_) {
            store_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
        }
        return *store_;
    }
    bool OperationRunning() override { return running; }
    bool ConnectionAnswers() override { return false; }
    void CancelAndDisconnect() override {}
    void LoadCachedList(const std::string&) override {}
    void ActivateFrame() override {}
    std::string GetSelectedAccountName() override { return selected; }
    void AccountSaved(const AccountRecord& record, std::string_view password) override {
        saved.push_back({record, std::string(password)});
    }
    void ReloadAccounts() override {
        ++reloads;
        store_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
        fileSizeAtReload = ReadBytes(dataPath_).size();
    }

    struct Saved {
        AccountRecord record;
        std::string password;
    };
    bool running = false;
    std::string selected;
    std::vector<Saved> saved;
    int reloads = 0;
    std::size_t fileSizeAtReload = 0;

private:
    std::string dataFolder_;
    Profile& profile_;
    std::string dataPath_;
    std::unique_ptr<CAccountList> store_;
};

struct SeedAccount {
    std::string name;  // CP932
    std::string loginId = "user";
    std::string server = "pop.example.jp";
    bool savePassword = true;
    bool useApop = false;
    std::string password = "pw";
};

class AccountDialog : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        frame_ = std::make_unique<FakeFrame>(dataFolder_, *profile_, DataPath());
    }
    void TearDown() override {
        delete dialog_.data();
        StoreTest::TearDown();
    }

    void Seed(const std::vector<SeedAccount>& accounts) {
        auto store = Open(false);
        for (const SeedAccount& seed : accounts) {
            AccountRecord record =
                MakeRecord(seed.name, seed.loginId, seed.server, seed.savePassword, seed.useApop);
            ASSERT_TRUE(store->SaveAccount(record, seed.password));
            if (seed.savePassword) {
                store->StorePassword(seed.name, seed.password);
            }
        }
    }

    Dlg& OpenDialog() {
        dialog_ = new Dlg(*frame_, prompt_, dataFolder_, *profile_);
        dialog_->show();
        return *dialog_;
    }

    QListWidget* List() { return qobject_cast<QListWidget*>(dialog_->Control(Dlg::kAccountList)); }
    QLineEdit* Box(int id) { return qobject_cast<QLineEdit*>(dialog_->Control(id)); }
    QCheckBox* Check(int id) { return qobject_cast<QCheckBox*>(dialog_->Control(id)); }
    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(dialog_->Control(id)); }

    void Click(int id) { QTest::mouseClick(dialog_->Control(id), Qt::LeftButton); }
    void Type(int id, const QString& text) {
        Box(id)->clear();
        QTest::keyClicks(Box(id), text);
    }
    // Clicks the item the way a user picks an account.
    void Pick(const std::string& name) {
        QList<QListWidgetItem*> items = List()->findItems(Cp932ToQString(name), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << Cp932ToUtf8(name);
        QRect rect = List()->visualItemRect(items.first());
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        ASSERT_TRUE(items.first()->isSelected());
    }
    QStringList ListTexts() {
        QStringList texts;
        for (int row = 0; row < List()->count(); ++row) {
            texts << List()->item(row)->text();
        }
        return texts;
    }
    // The account a list item stands for, by its item data, in a fresh store.
    std::string NameOfItem(int row) {
        auto store = Open(true);
        const AccountInfo* account = store->Lookup(List()->item(row)->data(Qt::UserRole).toInt());
        return account != nullptr ? std::string(account->Name()) : "<none>";
    }

    void ExpectBox(const std::string& text, const std::string& caption) {
        PromptRequest request;
        request.text = text;
        request.caption = caption;
        request.buttons = PromptButtons::Ok;
        request.icon = PromptIcon::Exclamation;
        prompt_.Expect(request, PromptAnswer::Ok);
    }

    ScriptedPrompt prompt_;
    std::unique_ptr<FakeFrame> frame_;
    QPointer<Dlg> dialog_;
};

TEST_F(AccountDialog, OpensWithTheBarsAccountShown) {
    Seed({{.name = "C", .savePassword = false, .password = ""},
          {.name = "a"},
          {.name = "B",
           .loginId = "bob",
           .server = "pop.b.example:995",
           .useApop = true,
           .password = "secret"}});
    struct Case {
        const char* bar;
        const char* name;  // expected in the name box; nullptr: nothing selected
        const char* loginId;
        const char* server;
        bool savePassword;
        const char* password;
        bool apop;
    } cases[] = {
        {"B", "B", "bob", "pop.b.example:995", true, "secret", true},
        {"C", "C", "user", "pop.example.jp", false, "", false},
        {"", nullptr, "", "", true, "", false},  // a fresh account: password saved, APOP off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bar);
        frame_->selected = c.bar;
        OpenDialog();
        // Sorted without regard to case; each item names its own slot.
        EXPECT_EQ(ListTexts(), (QStringList{"a", "B", "C"}));
        for (int row = 0; row < List()->count(); ++row) {
            EXPECT_EQ(NameOfItem(row), List()->item(row)->text().toStdString());
        }
        QListWidgetItem* current = List()->selectedItems().value(0);
        EXPECT_EQ(current != nullptr ? current->text() : QString(), QString(c.name ? c.name : ""));
        EXPECT_EQ(Box(Dlg::kNameBox)->text(), QString(c.name ? c.name : ""));
        EXPECT_EQ(Box(Dlg::kLoginIdBox)->text(), QString(c.loginId));
        EXPECT_EQ(Box(Dlg::kServerBox)->text(), QString(c.server));
        EXPECT_EQ(Check(Dlg::kSavePasswordCheck)->isChecked(), c.savePassword);
        EXPECT_EQ(Box(Dlg::kPasswordBox)->isEnabled(), c.savePassword);
        EXPECT_EQ(Box(Dlg::kPasswordBox)->text(), QString(c.password));
        EXPECT_EQ(Check(Dlg::kApopCheck)->isChecked(), c.apop);
        EXPECT_EQ(dialog_->focusWidget(), Box(Dlg::kNameBox));
        delete dialog_.data();
    }
}

struct NameCase {
    const char* existing;
    const char* typed;
    int refusal;  // 0: the account is created
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << '"' << c.typed << "\" beside \"" << c.existing << "\" -> " << c.refusal;
}

class AccountDialogNames : public AccountDialog, public ::testing::WithParamInterface<NameCase> {};

TEST_P(AccountDialogNames, RefusesWhatTheRulesRefuse) {
    const NameCase& c = GetParam();
    Seed({{.name = c.existing}});
    OpenDialog();
    const auto before = FileBytes();
    Type(Dlg::kNameBox, c.typed);
    Type(Dlg::kLoginIdBox, "someone");
    if (c.refusal != 0) {
        ExpectBox(LoadString(c.refusal), LoadString(57344));
    }
    Click(Dlg::kSaveButton);
    if (c.refusal != 0) {
        EXPECT_EQ(FileBytes(), before) << "nothing is written";
        EXPECT_EQ(Box(Dlg::kNameBox)->text(), QString(c.typed)) << "fields stay as typed";
        EXPECT_EQ(Box(Dlg::kLoginIdBox)->text(), QString("someone"));
        EXPECT_EQ(dialog_->focusWidget(), Box(Dlg::kNameBox));
        EXPECT_TRUE(frame_->saved.empty());
        return;
    }
    EXPECT_EQ(FileNames(), (std::vector<std::string>{c.existing, c.typed}));
    ASSERT_EQ(frame_->saved.size(), 1u);
    EXPECT_EQ(frame_->saved[0].record.Number(), 2);
    EXPECT_EQ(frame_->saved[0].record.Name(), c.typed);
    // The new item carries the new account's number, not its neighbour's.
    int row = ListTexts().indexOf(QString(c.typed));
    ASSERT_GE(row, 0);
    EXPECT_EQ(List()->item(row)->data(Qt::UserRole).toInt(), 2);
    EXPECT_TRUE(Box(Dlg::kNameBox)->text().isEmpty()) << "a save ends with fresh fields";
}

std::string CaseName(const ::testing::TestParamInfo<NameCase>& info) {
    std::string name = std::to_string(info.index) + "_";
    for (const char* text : {info.param.existing, "_vs_", info.param.typed}) {
        for (const char* at = text; *at != '\0'; ++at) {
            name += std::isalnum(static_cast<unsigned char>(*at)) ? *at : '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, AccountDialogNames,
                         ::testing::Values(NameCase{"AB", "ab", IDS_ACCOUNT_EXISTS},
                                           NameCase{"ab", "a:b", IDS_ACCOUNT_STEM_EXISTS},
                                           NameCase{"a:b", "ab", IDS_ACCOUNT_STEM_EXISTS},
                                           NameCase{"x", "", IDS_ACCOUNT_NAME_EMPTY},
                                           NameCase{"Mail2", "Mail", 0}, NameCase{"mail", "Mail2", 0}),
                         CaseName);

TEST_F(AccountDialog, TrailingBlanksGoButABlankNameStaysOneBlank) {
    struct Case {
        const char* typed;
        const char* stored;
    } cases[] = {{"Name  ", "Name"}, {"   ", " "}, {" lead ", " lead"}};
    OpenDialog();
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Type(Dlg::kNameBox, c.typed);
        // Enter saves: the save button is the default one.
        QTest::keyClick(Box(Dlg::kNameBox), Qt::Key_Return);
        expected.push_back(c.stored);
        EXPECT_EQ(FileNames(), expected);
    }
}

TEST_F(AccountDialog, RenamingTheSelectedAccountAddsANewOneAndKeepsIt) {
    Seed({{.name = "x", .loginId = "lx", .server = "sx", .password = "px"}});
    OpenDialog();
    const auto slotOfX = Slot(1);
    Pick("x");
    Type(Dlg::kNameBox, "y");
    Click(Dlg::kSaveButton);
    EXPECT_EQ(ListTexts(), (QStringList{"x", "y"}));
    EXPECT_EQ(Slot(1), slotOfX) << "x is left as it was";
    auto store = Open(true);
    ASSERT_EQ(store->Size(), 2);
    const AccountInfo& y = *store->Lookup(2);
    EXPECT_EQ(y.Name(), "y");
    EXPECT_EQ(y.LoginId(), "lx");
    EXPECT_EQ(y.Server(), "sx");
    EXPECT_EQ(y.Password(), "px");
    EXPECT_EQ(store->Lookup(1)->Password(), "px");
}

TEST_F(AccountDialog, AnUnchangedNameIsSavedInItsOwnSlot) {
    Seed({{.name = "a"}, {.name = "b"}, {.name = "c"}});
    OpenDialog();
    const auto slot1 = Slot(1);
    const auto slot3 = Slot(3);
    Pick("b");
    Type(Dlg::kServerBox, "pop.b.example:110");
    Click(Dlg::kApopCheck);
    Type(Dlg::kPasswordBox, "new");
    Click(Dlg::kSaveButton);

    EXPECT_EQ(FileBytes().size(), 3 * kAccountRecordSize);
    EXPECT_EQ(Slot(1), slot1);
    EXPECT_EQ(Slot(3), slot3);
    auto store = Open(true);
    EXPECT_EQ(store->Lookup(2)->Server(), "pop.b.example:110");
    EXPECT_TRUE(store->Lookup(2)->UsesApop());
    EXPECT_EQ(store->Lookup(2)->Password(), "new");
    EXPECT_EQ(ListTexts(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(List()->item(1)->data(Qt::UserRole).toInt(), 2);
    ASSERT_EQ(frame_->saved.size(), 1u);
    EXPECT_EQ(frame_->saved[0].record.Number(), 2);
    EXPECT_EQ(frame_->saved[0].password, "new");

    // While an operation runs the store is written but the bar left alone.
    frame_->running = true;
    Pick("b");
    Type(Dlg::kLoginIdBox, "later");
    Click(Dlg::kSaveButton);
    EXPECT_EQ(Open(true)->Lookup(2)->LoginId(), "later");
    EXPECT_EQ(frame_->saved.size(), 1u);
}

// The protection is saved with the account; a certificate the user trusted
// stays while the server stays, and goes with a changed server.
TEST_F(AccountDialog, SavesTheEncryptionAndKeepsATrustedCertificateForItsServerOnly) {
    Seed({{.name = "a"}, {.name = "b"}});
    std::array<std::uint8_t, 32> print{};
    print.fill(0x5A);
    {
        auto store = Open(false);
        for (int number : {1, 2}) {
            AccountInfo* account = store->Lookup(number);
            account->SetTlsModeValue(2);
            account->SetPinnedCert(print);
            ASSERT_TRUE(store->SaveAccount(*account));
        }
    }
    OpenDialog();
    auto* choice = qobject_cast<QComboBox*>(dialog_->Control(Dlg::kTlsChoice));
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->count(), 3);
    EXPECT_EQ(choice->itemText(0), QString::fromUtf8("なし"));

    Pick("a");
    EXPECT_EQ(choice->currentText(), "SSL/TLS");
    choice->setCurrentIndex(1);
    Click(Dlg::kSaveButton);
    Pick("b");
    Type(Dlg::kServerBox, "pop.other.example");
    Click(Dlg::kSaveButton);

    auto store = Open(true);
    EXPECT_EQ(store->Lookup(1)->TlsModeValue(), 1);
    EXPECT_EQ(store->Lookup(1)->PinnedCert(), print);
    EXPECT_EQ(store->Lookup(2)->TlsModeValue(), 2);
    EXPECT_EQ(store->Lookup(2)->PinnedCert(), (std::array<std::uint8_t, 32>{}));

    // A new account starts without.
    Click(Dlg::kNewButton);
    EXPECT_EQ(choice->currentIndex(), 0);
}

TEST_F(AccountDialog, UncheckingThePasswordKeepsItsTextButStoresNone) {
    Seed({{.name = "a", .password = "secret"}});
    ASSERT_TRUE(profile_->HasValue(kPasswordSection, "a"));
    OpenDialog();
    Pick("a");
    Click(Dlg::kSavePasswordCheck);
    EXPECT_FALSE(Box(Dlg::kPasswordBox)->isEnabled());
    EXPECT_EQ(Box(Dlg::kPasswordBox)->text(), "secret");
    Click(Dlg::kSavePasswordCheck);
    EXPECT_TRUE(Box(Dlg::kPasswordBox)->isEnabled());
    Click(Dlg::kSavePasswordCheck);

    Click(Dlg::kSaveButton);
    EXPECT_FALSE(profile_->HasValue(kPasswordSection, "a")) << "the stored password is deleted";
    auto store = Open(true);
    EXPECT_FALSE(store->Lookup(1)->SavesPassword());
    EXPECT_EQ(store->Lookup(1)->Password(), "");
    Pick("a");
    EXPECT_FALSE(Box(Dlg::kPasswordBox)->isEnabled());
    EXPECT_EQ(Box(Dlg::kPasswordBox)->text(), "");
}

TEST_F(AccountDialog, DeletingTakesTheItemThePasswordAndTheCacheOfThatAccountOnly) {
    const std::string japanese = Sjis("仕事:メール");
    Seed({{.name = japanese}, {.name = "b"}});
    std::vector<std::string> gone;
    std::vector<std::string> kept;
    for (const std::string& name : {japanese, std::string("b")}) {
        AccountFilePaths files = AccountCacheFiles(name, dataFolder_);
        for (const std::string& path : {files.header, files.index, files.message}) {
            std::ofstream(path) << "cache";
            (name == japanese ? gone : kept).push_back(path);
        }
    }
    OpenDialog();
    Pick(japanese);
    Click(Dlg::kDeleteButton);  // no question asked: the prompt would fail the test

    EXPECT_EQ(ListTexts(), QStringList{"b"});
    EXPECT_EQ(Slot(1), std::vector<std::uint8_t>(kAccountRecordSize, 0));
    EXPECT_FALSE(profile_->HasValue(kPasswordSection, japanese));
    EXPECT_TRUE(profile_->HasValue(kPasswordSection, "b"));
    for (const std::string& path : gone) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    for (const std::string& path : kept) {
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
    EXPECT_TRUE(Box(Dlg::kNameBox)->text().isEmpty());

    // Without a selection Delete only clears the fields.
    Type(Dlg::kNameBox, "typed");
    Click(Dlg::kDeleteButton);
    EXPECT_TRUE(Box(Dlg::kNameBox)->text().isEmpty());
    EXPECT_EQ(ListTexts(), QStringList{"b"});
    EXPECT_TRUE(Open(true)->Lookup(2)->Name() == "b");
}

// A running listing would write a fresh cache for the account afterwards,
// which a new account of the same name would then show as its own.
TEST_F(AccountDialog, DeletingIsRefusedWhileAnOperationRuns) {
    Seed({{.name = "busy"}, {.name = "other"}});
    AccountFilePaths files = AccountCacheFiles("busy", dataFolder_);
    for (const std::string& path : {files.header, files.index}) {
        std::ofstream(path) << "cache";
    }
    OpenDialog();
    Pick("busy");
    const auto before = FileBytes();
    frame_->running = true;
    ExpectBox(LoadString(IDS_ACCOUNT_IN_USE), Sjis("ｱｶｳﾝﾄ設定"));
    Click(Dlg::kDeleteButton);
    EXPECT_EQ(ListTexts(), (QStringList{"busy", "other"}));
    EXPECT_EQ(FileBytes(), before);
    EXPECT_TRUE(profile_->HasValue(kPasswordSection, "busy"));
    EXPECT_TRUE(std::filesystem::exists(files.header));
    EXPECT_TRUE(std::filesystem::exists(files.index));

    // Once it has ended the same click deletes.
    frame_->running = false;
    Click(Dlg::kDeleteButton);
    EXPECT_EQ(ListTexts(), QStringList{"other"});
    EXPECT_FALSE(std::filesystem::exists(files.header));
}

// A second window's dialog, or wrenpost-cli, has AccData.dat: this one may
// not write it, so the frame does not show it.
TEST_F(AccountDialog, AStoreThatAnotherWriterHoldsIsNotWritable) {
    Seed({{.name = "a"}});
    auto holder = Open(false);
    ASSERT_TRUE(holder->Writable());
    {
        Dlg second(*frame_, prompt_, dataFolder_, *profile_);
        EXPECT_FALSE(second.StoreWritable());
        EXPECT_EQ(second.RefusalText(), LoadString(IDS_ACCOUNTS_BUSY));
    }
    holder.reset();
    OpenDialog();
    EXPECT_TRUE(dialog_->StoreWritable());
}

TEST_F(AccountDialog, ClosingReloadsTheBarAndThenCompactsTheFile) {
    Seed({{.name = "a"}, {.name = "b"}, {.name = "c"}});
    OpenDialog();
    Pick("b");
    Click(Dlg::kDeleteButton);
    QTest::keyClick(dialog_, Qt::Key_Escape);
    EXPECT_EQ(frame_->reloads, 1);
    EXPECT_EQ(frame_->fileSizeAtReload, 3 * kAccountRecordSize) << "the bar reloads before the compaction";
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(PumpUntil([&] { return dialog_.isNull(); })) << "the dialog deletes itself";

    // The next session numbers the compacted file afresh; its close button
    // closes as Esc does.
    OpenDialog();
    EXPECT_EQ(ListTexts(), (QStringList{"a", "c"}));
    EXPECT_EQ(List()->item(1)->data(Qt::UserRole).toInt(), 2);
    Click(Dlg::kCloseButton);
    EXPECT_EQ(frame_->reloads, 2);
    EXPECT_TRUE(PumpUntil([&] { return dialog_.isNull(); }));
}

TEST_F(AccountDialog, RefusesTextItCannotStoreFaithfully) {
    struct Case {
        int box;
        QString text;
        const char* refusal;  // UTF-8; nullptr: saved
    } cases[] = {
        {Dlg::kNameBox, QString::fromUtf8("a\u200Bb"),
         "ｱｶｳﾝﾄ名に保存できない文字 (U+200B) が含まれています。\n別の文字に置き換えてください。"},
        {Dlg::kNameBox, QString::fromUtf8("\U0001F600mail"),
         "ｱｶｳﾝﾄ名に保存できない文字 (U+1F600) が含まれています。\n別の文字に置き換えてください。"},
        {Dlg::kNameBox, QString(256, QChar('x')),
         "ｱｶｳﾝﾄ名が長すぎます。\n半角255文字 (全角127文字) 以内で入力してください。"},
        {Dlg::kNameBox, QString(128, QChar(0x3042)),
         "ｱｶｳﾝﾄ名が長すぎます。\n半角255文字 (全角127文字) 以内で入力してください。"},
        {Dlg::kNameBox, QString(127, QChar(0x3042)) + "x", nullptr},
        {Dlg::kNameBox, QString::fromUtf8("仕事～ﾒｰﾙ"), nullptr},
        {Dlg::kLoginIdBox, QString::fromUtf8("us\ter"),
         "ﾛｸﾞｲﾝIDに保存できない文字 (U+0009) が含まれています。\n別の文字に置き換えてください。"},
        {Dlg::kLoginIdBox, QString(50, QChar('u')),
         "ﾛｸﾞｲﾝIDが長すぎます。\n半角49文字 (全角24文字) 以内で入力してください。"},
        {Dlg::kLoginIdBox, QString(49, QChar('u')), nullptr},
        {Dlg::kServerBox, QString::fromUtf8("pop.caf\u00E9.jp"),
         "POPｻｰﾊﾞｰに保存できない文字 (U+00E9) が含まれています。\n別の文字に置き換えてください。"},
        {Dlg::kPasswordBox, QString::fromUtf8("p\u00E4ss"),
         "ﾊﾟｽﾜｰﾄﾞに保存できない文字が含まれています。\n別の文字に置き換えてください。"},
        {Dlg::kPasswordBox, QString(50, QChar('p')),
         "ﾊﾟｽﾜｰﾄﾞが長すぎます。\n半角49文字 (全角24文字) 以内で入力してください。"},
    };
    int saved = 0;
    OpenDialog();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        Click(Dlg::kNewButton);
        Box(Dlg::kNameBox)->setText(QString("n%1").arg(saved));
        Box(Dlg::kLoginIdBox)->setText("user");
        Box(Dlg::kServerBox)->setText("pop.example.jp");
        Box(Dlg::kPasswordBox)->setText("pw");
        Box(c.box)->setText(c.text);
        const auto before = FileBytes();
        if (c.refusal != nullptr) {
            ExpectBox(Sjis(c.refusal), Sjis("ｱｶｳﾝﾄ設定"));
        }
        Click(Dlg::kSaveButton);
        if (c.refusal != nullptr) {
            EXPECT_EQ(FileBytes(), before);
            EXPECT_EQ(Box(c.box)->text(), c.text);
            EXPECT_EQ(dialog_->focusWidget(), Box(c.box));
            continue;
        }
        ++saved;
        auto store = Open(true);
        ASSERT_EQ(store->Size(), saved);
        const AccountInfo& account = *store->Lookup(saved);
        const std::string bytes = QStringToCp932(c.text).value();
        std::string_view field = c.box == Dlg::kNameBox      ? account.Name()
                                 : c.box == Dlg::kLoginIdBox ? account.LoginId()
                                                             : account.Server();
        EXPECT_EQ(field, bytes);
    }
    EXPECT_EQ(saved, 3);
}

TEST_F(AccountDialog, ControlsCarryTheirTextsOrderAndHelp) {
    OpenDialog();
    EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("ｱｶｳﾝﾄ設定"));
    EXPECT_FALSE(dialog_->isModal());
    struct Case {
        int id;
        const char* text;  // nullptr for boxes and the list
        bool help;
    } cases[] = {
        {Dlg::kAccountList, nullptr, true},
        {Dlg::kNameBox, nullptr, true},
        {Dlg::kLoginIdBox, nullptr, true},
        {Dlg::kServerBox, nullptr, true},
        {Dlg::kSavePasswordCheck, "ﾊﾟｽﾜｰﾄﾞの保存(&W) :", true},
        {Dlg::kPasswordBox, nullptr, true},
        {Dlg::kApopCheck, "APOP対応(&P)", true},
        {Dlg::kTlsChoice, nullptr, true},
        {Dlg::kCheckEvery, nullptr, true},
        {Dlg::kNewButton, "新規ｱｶｳﾝﾄ(&N)", false},
        {Dlg::kDeleteButton, "削除(&R)", true},
        {Dlg::kSaveButton, "登録(&U)", true},
        {Dlg::kCloseButton, "閉じる", true},
    };
    std::vector<int> expectedOrder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        QWidget* control = dialog_->Control(c.id);
        ASSERT_NE(control, nullptr);
        if (c.text != nullptr) {
            EXPECT_EQ(control->property("text").toString(), QString::fromUtf8(c.text));
        }
        EXPECT_EQ(!control->whatsThis().isEmpty(), c.help);
        expectedOrder.push_back(c.id);
    }
    EXPECT_TRUE(Button(Dlg::kSaveButton)->isDefault());
    EXPECT_EQ(Box(Dlg::kPasswordBox)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog_->Control(Dlg::kSeparator)->height(), 3);

    // F1 on a field shows that field's help.
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_));
    Box(Dlg::kServerBox)->setFocus();
    QTest::keyClick(Box(Dlg::kServerBox), Qt::Key_F1);
    ASSERT_TRUE(PumpUntil([] { return QApplication::activePopupWidget() != nullptr; }));
    QWidget* popup = QApplication::activePopupWidget();
    EXPECT_TRUE(popup->inherits("QWhatsThat"));
    popup->close();

    // Tab visits the controls in the template's order and comes round again.
    std::vector<int> order;
    QWidget* at = List();
    do {
        // A spin box's own editor is the box.
        const bool innerEditor = !at->property("controlId").isValid() && at->parentWidget() != nullptr &&
                                 at->parentWidget()->property("controlId").isValid();
        if ((at->focusPolicy() & Qt::TabFocus) && at->isEnabled() && at->isVisible() && !innerEditor) {
            order.push_back(at->property("controlId").toInt());
        }
        at = at->nextInFocusChain();
    } while (at != List() && order.size() < 40);
    EXPECT_EQ(order, expectedOrder);
}

TEST_F(AccountDialog, LaysOutEveryControlWhollyInsideWithItsTextUncut) {
    Seed({{.name = Sjis("仕事用ﾒｰﾙ"), .loginId = "taro", .server = "pop.example.jp:110", .useApop = true},
          {.name = "personal"}});
    frame_->selected = Sjis("仕事用ﾒｰﾙ");
    OpenDialog();
    const QRect inside = dialog_->rect();
    const auto widgets = dialog_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::vector<QRect> placed;
    for (QWidget* widget : widgets) {
        SCOPED_TRACE(widget->objectName().toStdString() + " " +
                     widget->property("text").toString().toStdString());
        EXPECT_TRUE(inside.contains(widget->geometry())) << "outside the dialog";
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_GE(widget->width(), widget->sizeHint().width()) << "text cut";
        }
        for (const QRect& other : placed) {
            EXPECT_FALSE(other.intersects(widget->geometry())) << "overlaps another control";
        }
        placed.push_back(widget->geometry());
    }
    // Something to look at: the dialog as it opens on a selected account.
    const char* tmp = std::getenv("WRENPOST_TEST_TMP");
    if (tmp != nullptr) {
        auto folder = std::filesystem::path(tmp).parent_path().parent_path() / "screenshots";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(dialog_->grab().save(QString::fromStdString((folder / "account_dialog.png").string())));
    }
}

}  // namespace
}  // namespace wp::test
