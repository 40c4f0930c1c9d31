#pragma once
// A plain account bar for the main window until the real one takes its
// place: the account combo box (item data = the account's number), the
// login id and the password box. Choosing an account fills the boxes and
// shows its cached list. It asks nothing before a switch; the frame's engine
// still waits for a running operation before it replaces the cache.

#include <QWidget>
#include <string>
#include <string_view>

class QComboBox;
class QLineEdit;

namespace wp {

class AccountFrame;
class Profile;
struct AccountInfo;
struct AccountRecord;

class PlaceholderAccountBar : public QWidget {
public:
    PlaceholderAccountBar(AccountFrame& frame, Profile& profile, QWidget* parent = nullptr);

    // Fills the combo box, selects the account saved as "AccEntry" and, once
    // the event loop runs, loads it as if the user had chosen it.
    void Create();

    // nullptr when nothing is selected or the number is not in the store.
    const AccountInfo* GetSelectedAccount() const;
    // The combo box's text (the selected account's name).
    QString AccountText() const;
    // What the boxes hold, as CP932 (the boxes take nothing else).
    std::string LoginIdText() const;
    std::string PasswordText() const;

    void FocusAccountCombo();
    void FocusPasswordBox();

    // After the frame replaced its store.
    void ReloadAccounts(bool operationRunning);
    void AccountSaved(const AccountRecord& record, std::string_view password);

    QComboBox* Combo() const { return combo_; }
    QLineEdit* LoginBox() const { return login_; }
    QLineEdit* PasswordBox() const { return password_; }

private:
    void Fill();
    void OnSelectionChanged();
    void PostSelectionChanged();

    AccountFrame& frame_;
    Profile& profile_;
    QComboBox* combo_;
    QLineEdit* login_;
    QLineEdit* password_;
    int lastSelection_ = -1;
};

}  // namespace wp
