#pragma once
// The account settings dialog: where accounts are created, changed and
// deleted. It is modeless and works on a writable store of its own: every
// save writes the account's slot of AccData.dat at once, every delete blanks
// it at once, and closing tells the main window to reload its accounts before
// the store goes, which compacts the file.
//
// The main window (command 32777) keeps at most one, and never deletes it:
//
//     QPointer<CAccountDlg> accountDlg;  // the frame's member
//     ...
//     if (accountDlg) {
//         accountDlg->raise();
//         accountDlg->activateWindow();
//     } else {
//         accountDlg = new CAccountDlg(*this, prompt, dataFolder, profile, this);
//         if (!accountDlg->StoreWritable()) { ...RefusalText()...; delete accountDlg; }
//         else accountDlg->show();
//     }
//
// The constructor loads the store and fills the dialog (the bar's account
// selected). A dialog whose store is not writable (StoreWritable) is not
// shown: the frame says why and deletes it. Close, Esc and the window's close button call
// AccountFrame::ReloadAccounts, where the frame forgets the dialog (clears
// accountDlg); the dialog then compacts the file, hides and deletes itself
// (deleteLater). Destroyed with its parent instead, it compacts the file and
// calls nothing on the frame.

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;

namespace wp {

class AccountFrame;
class CAccountList;
class Profile;
class Prompt;

class CAccountDlg : public QDialog {
    Q_OBJECT

public:
    // Control ids; each control carries its id as the property "controlId".
    static constexpr int kSaveButton = 1;
    static constexpr int kCloseButton = 2;
    static constexpr int kDeleteButton = 3;
    static constexpr int kNewButton = 4;
    static constexpr int kAccountList = 1009;
    static constexpr int kSavePasswordCheck = 1010;
    static constexpr int kNameBox = 1011;
    static constexpr int kLoginIdBox = 1012;
    static constexpr int kServerBox = 1013;
    static constexpr int kPasswordBox = 1014;
    static constexpr int kApopCheck = 1018;
    static constexpr int kSeparator = 1019;
    static constexpr int kCheckEvery = 1031;  // minutes between checks by itself; 0 never
    static constexpr int kTlsChoice = 1030;  // 暗号化: なし / STARTTLS / SSL/TLS (the stored mode's order)

    // frame: the main window; prompt: its message boxes; dataFolder: where
    // the cache files lie (AccData.dat is in its parent); profile: where the
    // passwords are kept; parent: the main window's widget.
    CAccountDlg(AccountFrame& frame, Prompt& prompt, std::string dataFolder, Profile& profile,
                QWidget* parent = nullptr);
    ~CAccountDlg() override;

    // The control with that id; nullptr for an id the dialog does not have.
    QWidget* Control(int id) const;

    // Whether the dialog's store may write AccData.dat. It may not while
    // another window's dialog or wrenpost-cli holds the file, nor when the
    // file could not be read whole; the frame then tells the user
    // (RefusalText, CP932) and deletes the dialog unshown.
    bool StoreWritable() const;
    std::string RefusalText() const;

protected:
    // Esc and the window's close button close the dialog like button 2.
    void reject() override;

private:
    void BuildControls();
    void Start();
    void ShowSelected();
    void NewAccount();
    void SaveAccount();
    void DeleteAccount();
    void CloseDialog();
    void ShowFieldHelp();

    QListWidgetItem* SelectedItem() const;
    // Adds an item where the sorted order puts it.
    QListWidgetItem* AddListItem(const QString& name, int number);
    void SelectQuietly(QListWidgetItem* item);
    // The text of a box as CP932, or nullopt after telling the user why it
    // cannot be stored (the box then has the focus).
    std::optional<std::string> ReadField(QLineEdit* box, const char* label, std::size_t maxBytes,
                                         bool trimName);
    void Refuse(QLineEdit* box, const std::string& text, const std::string& caption);
    void WarnNotWritten();

    AccountFrame& frame_;
    Prompt& prompt_;
    std::string dataFolder_;
    Profile& profile_;
    std::unique_ptr<CAccountList> store_;
    bool closing_ = false;

    QListWidget* list_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* loginId_ = nullptr;
    QLineEdit* server_ = nullptr;
    QCheckBox* savePassword_ = nullptr;
    QLineEdit* password_ = nullptr;
    QCheckBox* apop_ = nullptr;
    QComboBox* tls_ = nullptr;
    QSpinBox* checkEvery_ = nullptr;
    QPushButton* new_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* close_ = nullptr;
    QFrame* separator_ = nullptr;
};

}  // namespace wp
