#pragma once
// The main window on a fresh folder of its own: a data folder, the account
// file beside it, a profile file and a scripted prompt. The window can be
// closed and opened again on the same folder, as a restart would.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "accounts/account_list.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"
#include "ui/mail_app.h"
#include "ui/main_frame.h"

namespace wp::test {

// A system text written in the source, as the widgets show it.
inline QString Shown(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

// A fresh folder under WRENPOST_TEST_TMP, removed afterwards.
class FreshFolder {
public:
    explicit FreshFolder(const char* what) {
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        // Absolute: the program under test changes its directory.
        std::filesystem::path root =
            std::filesystem::absolute((base != nullptr && *base != '\0') ? base : "/tmp");
        std::filesystem::create_directories(root);
        std::string pattern = (root / (std::string(what) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a folder under " << root;
        }
        path_ = pattern;
    }
    ~FreshFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    FreshFolder(const FreshFolder&) = delete;
    FreshFolder& operator=(const FreshFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string Sub(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class FrameRig {
public:
    FrameRig() : folder_("frame"), dataFolder_(folder_.Sub("Mail")), profile_(folder_.Sub("profile.ini")) {
        std::filesystem::create_directories(dataFolder_);
        // The program's font and icon, so that the window looks as it will.
        SetApplicationIdentity();
    }
    ~FrameRig() { frame.reset(); }

    // Adds an account (texts UTF-8) to the account file and its password to
    // the profile, as the settings dialog would.
    void AddAccount(const std::string& name, const std::string& login, const std::string& server,
                    const std::string& password, bool savePassword = true, bool apop = false) {
        CAccountList store(false, dataFolder_, profile_);
        AccountInfo account;
        account.SetName(*Utf8ToCp932(name));
        account.SetLoginId(*Utf8ToCp932(login));
        account.SetServer(server);
        account.SetSavePassword(savePassword);
        account.SetUseApop(apop);
        account.SetPassword(password);
        ASSERT_TRUE(store.SaveAccount(account));
        if (savePassword) {
            store.StorePassword(account.Name(), password);
        }
    }

    // Opens the window as the program does and lets the account bar load
    // the selected account.
    CMainFrame& Open() {
        frame = std::make_unique<CMainFrame>(dataFolder_, profile_, &prompt);
        frame->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        QCoreApplication::processEvents();
        return *frame;
    }
    // Destroys the window, which saves its layout.
    void Close() { frame.reset(); }

    // The account bar's boxes, by name.
    QComboBox* Combo() {
        return frame->AccountBarWidget()->findChild<QComboBox*>(QStringLiteral("accountCombo"));
    }
    QLineEdit* LoginBox() {
        return frame->AccountBarWidget()->findChild<QLineEdit*>(QStringLiteral("loginIdBox"));
    }
    QLineEdit* PasswordBox() {
        return frame->AccountBarWidget()->findChild<QLineEdit*>(QStringLiteral("passwordBox"));
    }
    QString PaneText(int pane) { return frame->PaneText(pane); }

    const std::string& DataFolder() const { return dataFolder_; }
    Profile& profile() { return profile_; }
    const FreshFolder& Folder() const { return folder_; }

    ScriptedPrompt prompt;
    std::unique_ptr<CMainFrame> frame;

private:
    FreshFolder folder_;
    std::string dataFolder_;
    Profile profile_;
};

// Where a test leaves the screenshots a person should look at.
inline QString ScreenshotPath(const char* name) {
    QString dir = QStringLiteral(WRENPOST_BUILD_DIR "/screenshots");
    QDir().mkpath(dir);
    return dir + QChar('/') + QString::fromLatin1(name);
}

}  // namespace wp::test
