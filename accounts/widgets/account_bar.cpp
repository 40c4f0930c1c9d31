#include "accounts/widgets/account_bar.h"
#include "decode/jis_sjis.h"

#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QValidator>
#include <QWhatsThis>
#include <algorithm>
#include <optional>

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "accounts/widgets/account_frame.h"
#include "platform/profile.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

constexpr int kNumberRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kAppTitleId = 57344;
constexpr int kBarId = 139;

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// One character of CP932 text at `at` (a double-byte character as one
// code), ASCII letters folded to lower case; advances `at`.
unsigned NextFolded(std::string_view text, std::size_t& at) {
    unsigned c = FoldAscii(static_cast<unsigned char>(text[at++]));
    if (IsSjisLeadByte(static_cast<unsigned char>(c)) && at < text.size()) {
        c = (c << 8) | static_cast<unsigned char>(text[at++]);
    }
    return c;
}

// The order of the combo box: case-insensitive, character by character.
int CompareFolded(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        unsigned ca = NextFolded(a, i);
        unsigned cb = NextFolded(b, j);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (j < prefix.size()) {
        if (i >= text.size() || NextFolded(text, i) != NextFolded(prefix, j)) {
            return false;
        }
    }
    return true;
}

// A string-table text "prompt\ntip": the status prompt and the tooltip.
std::pair<QString, QString> PromptAndTip(int id) {
    const std::string& text = LoadString(id);
    const std::size_t cut = text.find('\n');
    if (cut == std::string::npos) {
        return {Cp932ToQString(text), Cp932ToQString(text)};
    }
    return {Cp932ToQString(text.substr(0, cut)), Cp932ToQString(text.substr(cut + 1))};
}

QString SystemText(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

// The boxes take only what the system can store and send: a character
// without a CP932 form is refused as it is typed.
class Cp932Validator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*pos*/) const override {
        // A control character (a pasted line break) would become a second
        // POP3 command after USER or PASS.
        for (QChar ch : input) {
            if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) {
                return Invalid;
            }
        }
        return QStringToCp932(input) ? Acceptable : Invalid;
    }
};

// What a box holds; text put there from a damaged record goes as well as it can.
std::string BoxText(const QLineEdit* box) {
    std::optional<std::string> text = QStringToCp932(box->text());
    return text ? *text : QStringToCp932Lossy(box->text());
}

}  // namespace

CAccountBar::CAccountBar(AccountFrame& frame, Prompt& prompt, Profile& profile, QWidget* parent)
    : QToolBar(parent),
      frame_(frame),
      prompt_(prompt),
      profile_(profile),
      combo_(new QComboBox),
      loginId_(new QLineEdit),
      password_(new QLineEdit) {
    setObjectName(QString::number(kBarId));
    setWindowTitle(SystemText("ｱｶｳﾝﾄ ﾊﾞｰ"));
    setMovable(false);
    setFloatable(false);
    setAllowedAreas(Qt::TopToolBarArea);

    // Laid out in the dialog units of the bar's template, taken from the font.
    const QFontMetrics metrics(font());
    const double unitX =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
        52.0 / 4.0;
    auto dx = [&](int units) { return static_cast<int>(units * unitX + 0.5); };

    // Each piece goes on the bar by itself, so that a narrow window moves
    // what does not fit into the bar's extension menu instead of growing.
    setContentsMargins(0, 1, 0, 1);
    layout()->setSpacing(0);
    auto gap = [&](int units) {
        auto* spacer = new QWidget;
        spacer->setFixedWidth(dx(units));
        addWidget(spacer);
    };
    auto label = [&](const char* text, int width) {
        auto* l = new QLabel(SystemText(text));
        l->setFixedWidth(std::max(dx(width), l->sizeHint().width()));
        addWidget(l);
        return l;
    };
    combo_->setObjectName(QStringLiteral("accountCombo"));
    loginId_->setObjectName(QStringLiteral("loginIdBox"));
    password_->setObjectName(QStringLiteral("passwordBox"));
    password_->setEchoMode(QLineEdit::Password);
    auto* validator = new Cp932Validator(this);
    loginId_->setValidator(validator);
    password_->setValidator(validator);
    comboWidth_ = dx(71);
    combo_->setFixedWidth(comboWidth_);
    combo_->setMaxVisibleItems(12);
    loginId_->setFixedWidth(dx(58));
    password_->setFixedWidth(dx(64));

    gap(2);
    label("ｱｶｳﾝﾄ:", 22)->setBuddy(combo_);
    gap(2);
    addWidget(combo_);
    gap(5);
    label("ﾛｸﾞｲﾝID:", 26)->setBuddy(loginId_);
    gap(1);
    addWidget(loginId_);
    gap(4);
    label("ﾊﾟｽﾜｰﾄﾞ:", 26)->setBuddy(password_);
    gap(5);
    addWidget(password_);

    const std::pair<QWidget*, int> controls[] = {
        {combo_, IDC_ACCOUNT_COMBO}, {loginId_, IDC_LOGIN_ID}, {password_, IDC_PASSWORD}};
    for (const auto& [control, id] : controls) {
        control->setProperty("controlId", id);
        const auto [statusPrompt, tip] = PromptAndTip(id);
        control->setStatusTip(statusPrompt);
        control->setToolTip(tip);
        control->setWhatsThis(statusPrompt);
        control->installEventFilter(this);
    }

    connect(combo_, &QComboBox::activated, this, &CAccountBar::OnActivated);
}

bool CAccountBar::Create() {
    Fill();
    const std::string entry = profile_.GetString("AccPosition", "AccEntry");
    SelectSilently(FindAccountPrefix(entry));
    PostSelectionChange();
    return true;
}

// ------------------------------------------------------------ the combo box

std::string CAccountBar::ItemName(int index) const {
    if (index < 0 || index >= combo_->count()) {
        return {};
    }
    return combo_->itemData(index, kNameRole).toByteArray().toStdString();
}

int CAccountBar::FindAccountPrefix(std::string_view text) const {
    for (int i = 0; i < combo_->count(); ++i) {
        if (StartsWithFolded(ItemName(i), text)) {
            return i;
        }
    }
    return -1;
}

void CAccountBar::Fill() {
    CAccountList& accounts = frame_.Accounts();
    for (int number = 1; number <= accounts.Size(); ++number) {
        const AccountInfo* account = accounts.Lookup(number);
        if (account == nullptr || account->IsBlank()) {
            continue;
        }
        const std::string name(account->Name());
        int at = 0;
        while (at < combo_->count() && CompareFolded(ItemName(at), name) <= 0) {
            ++at;
        }
        combo_->insertItem(at, Cp932ToQString(name));
        combo_->setItemData(at, QByteArray::fromStdString(name), kNameRole);
        int target = FindAccountPrefix(name);
        // Two names that differ only in case (a file written by hand) would
        // find the same item; the second keeps its own number.
        if (target < 0 || combo_->itemData(target, kNumberRole).isValid()) {
            target = at;
        }
        combo_->setItemData(target, number, kNumberRole);
    }
    FitComboWidth();
}

void CAccountBar::FitComboWidth() {
    const QFontMetrics metrics(combo_->font());
    int widest = 0;
    for (int i = 0; i < combo_->count(); ++i) {
        widest = std::max(widest, metrics.horizontalAdvance(combo_->itemText(i)));
    }
    QStyleOptionComboBox option;
    option.initFrom(combo_);
    const QSize needed = combo_->style()->sizeFromContents(QStyle::CT_ComboBox, &option,
                                                           QSize(widest, metrics.height()), combo_);
    // A name of a hundred characters gets the box three times its width and
    // its end cut, rather than half the bar.
    combo_->setFixedWidth(std::clamp(needed.width(), comboWidth_, 3 * comboWidth_));
}

void CAccountBar::SelectSilently(int index) {
    // Only a pick by the user goes through the switch check.
    const QSignalBlocker block(combo_);
    combo_->setCurrentIndex(index < combo_->count() ? index : -1);
}

void CAccountBar::PostSelectionChange() {
    QMetaObject::invokeMethod(
        this, [this] { OnSelectionChange(); }, Qt::QueuedConnection);
}

AccountInfo* CAccountBar::SelectedAccount() const {
    const int index = combo_->currentIndex();
    if (index < 0) {
        return nullptr;
    }
    const QVariant number = combo_->itemData(index, kNumberRole);
    if (!number.isValid()) {
        return nullptr;
    }
    AccountInfo* account = frame_.Accounts().Lookup(number.toInt());
    // An item that no longer names its account is stale.
    if (account == nullptr || account->IsBlank() || account->Name() != ItemName(index)) {
        return nullptr;
    }
    return account;
}

const AccountInfo* CAccountBar::GetSelectedAccount() const {
    return SelectedAccount();
}

std::string CAccountBar::GetSelectedAccountName() const {
    return ItemName(combo_->currentIndex());
}

// ------------------------------------------------------------ switching

void CAccountBar::OnActivated(int index) {
    if (index == lastSelection_) {
        // The account already shown: nothing to switch.
        return;
    }
    if (frame_.OperationRunning() || frame_.ConnectionAnswers()) {
        const std::string picked = ItemName(index);
        SelectSilently(lastSelection_);
        PromptRequest request;
        request.text = LoadString(IDS_ACCOUNT_ACTIVE);
        const std::size_t at = request.text.find("%1");
        if (at != std::string::npos) {
            request.text.replace(at, 2, picked);
        }
        request.caption = LoadString(kAppTitleId);
        request.buttons = PromptButtons::OkCancel;
        request.icon = PromptIcon::Exclamation;
        request.defaultAnswer = PromptAnswer::Ok;
        if (prompt_.Ask(request) != PromptAnswer::Ok) {
            return;
        }
        frame_.CancelAndDisconnect();
        // The list may have been refilled while the question was open.
        index = -1;
        for (int i = 0; i < combo_->count(); ++i) {
            if (ItemName(i) == picked) {
                index = i;
                break;
            }
        }
        if (index < 0) {
            return;
        }
        SelectSilently(index);
    }
    OnSelectionChange();
}

void CAccountBar::OnSelectionChange() {
    lastSelection_ = combo_->currentIndex();
    const AccountInfo* account = SelectedAccount();
    if (account == nullptr) {
        return;
    }
    loginId_->setText(Cp932ToQString(account->LoginId()));
    password_->setText(account->SavesPassword() ? Cp932ToQString(account->Password()) : QString());
    // The frame waits for a running operation before it replaces the cache.
    frame_.LoadCachedList(ItemName(lastSelection_));
    update();
    frame_.ActivateFrame();
}

void CAccountBar::ReloadAccounts() {
    const int remembered = combo_->currentIndex();
    {
        const QSignalBlocker block(combo_);
        combo_->clear();
    }
    Fill();
    const int count = combo_->count();
    SelectSilently(remembered == -1 ? 0 : std::min(remembered, count - 1));
    // Also while an operation runs: the cache object of the account now
    // selected must follow once the operation has ended, or the next listing
    // would write this account's mail into the cache of the one before.
    PostSelectionChange();
}

void CAccountBar::AccountSaved(const AccountRecord& record, std::string_view password) {
    if (combo_->count() == 0) {
        loginId_->clear();
        password_->clear();
    }
    AccountInfo* selected = SelectedAccount();
    if (selected == nullptr) {
        return;
    }
    // Names are unique, and a renamed account is saved as a new record: the
    // name tells whether the saved record is the one selected here.
    if (selected->Name() != record.Name()) {
        return;
    }
    const int number = selected->number;
    static_cast<AccountRecord&>(*selected) = record;
    selected->number = number;
    selected->SetPassword(password);
    SelectSilently(combo_->currentIndex());
    loginId_->setText(Cp932ToQString(selected->LoginId()));
    password_->setText(Cp932ToQString(selected->Password()));
}

// ------------------------------------------------------------ boxes and help

std::string CAccountBar::LoginIdText() const {
    return BoxText(loginId_);
}

std::string CAccountBar::PasswordText() const {
    return BoxText(password_);
}

void CAccountBar::FocusAccountSelector() {
    combo_->setFocus(Qt::ShortcutFocusReason);
}

void CAccountBar::FocusPasswordBox() {
    password_->setFocus(Qt::OtherFocusReason);
}

bool CAccountBar::eventFilter(QObject* watched, QEvent* event) {
    // F1 on one of the three controls explains it; the labels have no help.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        if (auto* control = qobject_cast<QWidget*>(watched);
            control != nullptr && !control->whatsThis().isEmpty()) {
            QWhatsThis::showText(control->mapToGlobal(QPoint(0, control->height())), control->whatsThis(),
                                 control);
            return true;
        }
    }
    return QToolBar::eventFilter(watched, event);
}

}  // namespace wp
