#pragma once
// The viewer: the modeless window in which the user reads one mail. The
// main frame opens it for the selected row and starts the fetch, whose
// results reach it on the user-interface thread (FetchViewer); the user
// switches the source code, shows or hides the header, steps to the
// previous or next mail, selects all and saves the mail.

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "decode/date_size_text.h"
#include "mail/mail_text.h"
#include "mail/stored_mail.h"
#include "ui/main_frame.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace wp {

class CMailTextView;
class Profile;
class Prompt;
struct MailEntry;

class CMailViewDlg : public QDialog, public FrameViewer {
public:
    // Control ids.
    static constexpr int kProgress = 1031;
    static constexpr int kSizeBox = 1032;
    static constexpr int kPrevious = 1033;
    static constexpr int kNext = 1034;
    static constexpr int kClose = 2;
    static constexpr int kCancel = 3;
    static constexpr int kSeparatorThin = 1037;
    static constexpr int kSeparatorThick = 1036;
    static constexpr int kAttachmentLabel = 1035;
    static constexpr int kAttachmentList = 1030;
    static constexpr int kHeaderCheck = 1046;
    static constexpr int kCodeAuto = 1050;
    static constexpr int kCodeJis = 1051;
    static constexpr int kCodeSjis = 1052;
    static constexpr int kCodeEuc = 1053;
    static constexpr int kCodeUtf8 = 1054;
    static constexpr int kText = 1045;
    static constexpr int kHeaderText = 1047;
    // Commands of the menu and the keys (besides 1033, 1034 and 2).
    static constexpr int kSelectAllCommand = 32792;
    static constexpr int kSaveCommand = 32794;
    // Shows the stored mail as received and converted, without the MIME reading.
    static constexpr int kSourceCommand = 32800;

    // The save dialog; returns the chosen path, or an empty text when the
    // user cancelled. Replaceable for tests.
    using SaveChooser = std::function<QString(QWidget* parent, const QString& proposedName)>;

    CMailViewDlg(ViewerOwner& owner, Profile& profile, Prompt& prompt, QWidget* parent = nullptr);
    ~CMailViewDlg() override;

    QWidget* Control(int id) const;
    // The action of a menu command or key: 32792, 32794, 1033, 1034, 2.
    QAction* Command(int id) const;
    void SetSaveChooser(SaveChooser chooser) { saveChooser_ = std::move(chooser); }

    MailEntry* Entry() const { return entry_; }
    const StoredMail& MailFile() const { return mailFile_; }
    // The text control.
    CMailTextView& TextView() const { return *text_; }
    // The save's proposed file name (UTF-8 on disk).
    QString ProposedSaveName() const;

    // The commands.
    void OnSelectAll();
    void OnSave();
    void OnHeaderToggle();
    void OnCodeChoice(std::int32_t code);
    void OnSource();

    // FrameViewer
    QWidget* Window() override { return this; }
    void SetEntry(MailEntry* entry) override;
    void SetSizeText(const std::string& text) override;
    void ResetProgress() override;
    // ViewerHooks
    void BeginReceive() override;
    void EndReceive() override;
    void PostClose() override;
    // FetchViewer
    void SetStatusText(const std::string& text) override;
    void ClearMailText() override;
    void AppendReceivedText(const char* data, std::size_t length, int bytesReceived) override;
    void SetMailFile(const StoredMail& mail) override;
    void SetWaitCursor(bool on) override;
    void ClearAttachments() override;
    void AddAttachment(const std::string& name) override;
    void ShowMailText(MailView view) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void BuildMenu();
    QAction* MakeCommand(int id, const char* text, const QKeySequence& key);
    // Moves the parts into the text control and the hidden header control.
    void ShowText(MailTextParts parts);
    void ShowHeaderText();
    // Converts the stored mail again, for a code choice or the source.
    void ShowStoredMail(std::int32_t code);
    // A live text that no finished mail replaced: what arrived is kept, split
    // as a finished mail would be.
    void FinishLiveText();
    // The received size and the bar follow a fast RETR a few times a second,
    // as the live text does; the last step is never left unshown.
    void ShowReceived(const ReceivedSizeView& shown);
    void ShowPendingReceived();
    // The source code the checked button names; -1 when none is checked.
    std::int32_t CheckedCode() const;
    // Writes the settings and the rectangle, removes the stored mail and
    // tells the frame; once.
    void Finish();
    void Warn(const std::string& text);

    ViewerOwner& owner_;
    Profile& profile_;
    Prompt& prompt_;
    SaveChooser saveChooser_;

    QProgressBar* progress_ = nullptr;
    QLineEdit* sizeBox_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QCheckBox* headerCheck_ = nullptr;
    QButtonGroup* codes_ = nullptr;
    CMailTextView* text_ = nullptr;
    QPlainTextEdit* headerText_ = nullptr;
    std::map<int, QAction*> commands_;

    MailEntry* entry_ = nullptr;
    std::string subject_;  // CP932, the title
    std::uint32_t size_ = 0;
    std::string sizeText_;
    StoredMail mailFile_;
    LiveMailText live_;
    bool liveShown_ = false;  // the text control holds a live text
    QTimer* receivedTimer_ = nullptr;
    QElapsedTimer receivedShown_;
    std::optional<ReceivedSizeView> receivedPending_;
    // The source is to be shown of a mail whose stored file is still to come.
    bool sourcePending_ = false;
    bool finished_ = false;
};

}  // namespace wp
