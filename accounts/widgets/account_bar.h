#pragma once
// The account bar under the toolbar: the configured accounts in a sorted
// combo box, and the login id and password the next operation uses. Picking
// an account loads its cached list; while an operation runs or a kept login
// still answers, the user is asked first. It reaches the main window only
// through AccountFrame.

#include <QToolBar>
#include <string>
#include <string_view>

class QComboBox;
class QLabel;
class QLineEdit;

namespace wp {

class AccountFrame;
class Profile;
class Prompt;
struct AccountInfo;
struct AccountRecord;

// Control ids of the bar; also the string ids of their prompts and tips.
inline constexpr int IDC_ACCOUNT_COMBO = 1000;
inline constexpr int IDC_LOGIN_ID = 1001;
inline constexpr int IDC_PASSWORD = 1002;

class CAccountBar : public QToolBar {
    Q_OBJECT
public:
    // The profile is read for the account selected at the last exit.
    CAccountBar(AccountFrame& frame, Prompt& prompt, Profile& profile, QWidget* parent = nullptr);

    // Fills the combo box from the frame's store, selects "AccEntry" of
    // "AccPosition" (or the first account) and then loads it as if the user
    // had picked it, once the caller is back in the event loop.
    bool Create();

    // The account of the selected item, looked up in the frame's store;
    // nullptr when nothing is selected or the item's account is gone.
    const AccountInfo* GetSelectedAccount() const;
    // The text of the selected item (CP932); empty when none.
    std::string GetSelectedAccountName() const;
    // After the account dialog closed and the frame replaced its store:
    // refills and selects the same position (or the last).
    void ReloadAccounts();
    // After the account dialog saved `record`: when it is the selected
    // account, the store's copy and the two boxes take its values.
    void AccountSaved(const AccountRecord& record, std::string_view password);

    // What the boxes hold, as CP932 (they take nothing else).
    std::string LoginIdText() const;
    std::string PasswordText() const;

    void FocusAccountSelector();
    void FocusPasswordBox();
    // The first item (from the top) that begins with text, ignoring the case
    // of ASCII letters; -1 when none. An empty text finds the first item.
    int FindAccountPrefix(std::string_view text) const;

    QComboBox* AccountCombo() const { return combo_; }
    QLineEdit* LoginIdEdit() const { return loginId_; }
    QLineEdit* PasswordEdit() const { return password_; }
    // The combo index at the last selection change.
    int LastSelection() const { return lastSelection_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fill();
    // Widens the account box to its longest name, within reason.
    void FitComboWidth();
    void SelectSilently(int index);
    void PostSelectionChange();
    // The user picked an item: the switch check, then the selection change.
    void OnActivated(int index);
    void OnSelectionChange();
    AccountInfo* SelectedAccount() const;
    std::string ItemName(int index) const;

    AccountFrame& frame_;
    Prompt& prompt_;
    Profile& profile_;
    QComboBox* combo_;
    int comboWidth_ = 0;  // the template's width of the account box
    QLineEdit* loginId_;
    QLineEdit* password_;
    int lastSelection_ = -1;
};

}  // namespace wp
