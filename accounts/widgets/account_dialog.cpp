#include "accounts/widgets/account_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QWhatsThis>
#include <algorithm>
#include <cstdio>
#include <tuple>
#include <utility>

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "accounts/account_removal.h"
#include "accounts/account_rules.h"
#include "accounts/check_interval.h"
#include "accounts/widgets/account_frame.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

constexpr char kCaption[] = "ｱｶｳﾝﾄ設定";
// The application title, the caption of the framework's own message boxes.
constexpr int kAppTitleId = 57344;
constexpr int kNumberRole = Qt::UserRole;

// The dialog's size in dialog units; the controls' places are in BuildControls.
constexpr int kDialogWidth = 266;
constexpr int kDialogHeight = 225;

// Field names for the messages that refuse a text.
constexpr char kNameField[] = "ｱｶｳﾝﾄ名";
constexpr char kLoginIdField[] = "ﾛｸﾞｲﾝID";
constexpr char kServerField[] = "POPｻｰﾊﾞｰ";
constexpr char kPasswordField[] = "ﾊﾟｽﾜｰﾄﾞ";

// Control id -> help topic. 1015, 1016 and 1017 have no control here.
struct HelpPair {
    int control;
    int topic;
};
constexpr HelpPair kHelpIds[] = {
    {1009, 1000}, {1011, 1001}, {1012, 1002}, {1013, 1003}, {1010, 1004}, {1014, 1005}, {1018, 1006},
    {1015, 1007}, {1017, 1008}, {1016, 1009}, {1, 1010},    {3, 1011},    {2, 28444},   {1030, 1030}, {0, 0},
};

// The help files are not here; each topic has a short text of its own.
const char* HelpText(int topic) {
    switch (topic) {
        case 1000:
            return "登録されているｱｶｳﾝﾄの一覧です。\n"
                   "ｱｶｳﾝﾄを選ぶと、その設定が右側に表示されます。";
        case 1001:
            return "ｱｶｳﾝﾄの名前です。ﾒｲﾝｳｨﾝﾄﾞｳのｱｶｳﾝﾄ欄にも表示されます。\n"
                   "ほかのｱｶｳﾝﾄと同じ名前 (大文字と小文字は区別しません) や、"
                   "\\/:,;*?\"<>| を除くと同じになる名前は使えません。";
        case 1002:
            return "POPｻｰﾊﾞｰにﾛｸﾞｲﾝするときのIDです。";
        case 1003:
            return "POPｻｰﾊﾞｰのﾎｽﾄ名です。\n"
                   "ﾎﾟｰﾄ番号を指定するときは「ﾎｽﾄ名:ﾎﾟｰﾄ番号」と入力します (既定は110)。";
        case 1004:
            return "ﾁｪｯｸすると、ﾊﾟｽﾜｰﾄﾞを保存します。\n"
                   "ﾁｪｯｸしないときは、受信のたびにﾊﾟｽﾜｰﾄﾞを入力します。";
        case 1005:
            return "保存するﾊﾟｽﾜｰﾄﾞです。\n「ﾊﾟｽﾜｰﾄﾞの保存」をﾁｪｯｸしたときだけ入力できます。";
        case 1006:
            return "ﾁｪｯｸすると、APOPでﾛｸﾞｲﾝします。\n"
                   "ﾊﾟｽﾜｰﾄﾞをそのまま送らずにﾛｸﾞｲﾝできます。ｻｰﾊﾞｰがAPOPに対応している必要があります。";
        case 1030:
            return "POPｻｰﾊﾞｰとの通信を暗号化する方法です。\n"
                   "なし: 暗号化しません (ﾊﾟｽﾜｰﾄﾞもﾒｰﾙもそのまま流れます)。\n"
                   "STARTTLS: 通常のﾎﾟｰﾄ (既定は110) に接続してから暗号化します。"
                   "ｻｰﾊﾞｰが対応していないときは接続しません。\n"
                   "SSL/TLS: 最初から暗号化して接続します (ﾎﾟｰﾄ番号を入力しないときは995)。\n"
                   "ｻｰﾊﾞｰの証明書を確認できないときは理由と指紋を表示し、信頼するかを尋ねます。";
        case 1010:
            return "入力した内容でｱｶｳﾝﾄを登録します。\n"
                   "選んだｱｶｳﾝﾄの名前を変えたときは、新しいｱｶｳﾝﾄとして登録されます。";
        case 1011:
            return "選んだｱｶｳﾝﾄを削除します。確認はありません。\n"
                   "保存したﾊﾟｽﾜｰﾄﾞと受信結果も削除されます。";
        case 28444:
            return "ｱｶｳﾝﾄ設定を閉じます。";
        default:
            return nullptr;
    }
}

QString Ui(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

// Dialog units of the dialog's font, as the platform the layout was drawn
// for measures them: a quarter of the average character width and an eighth
// of the character height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        QFontMetrics metrics(font);
        int sample =
            metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX_ = std::max(1, (sample / 26 + 1) / 2);
        baseY_ = std::max(1, metrics.height());
    }
    int X(int units) const { return (units * baseX_ + 2) / 4; }
    int Y(int units) const { return (units * baseY_ + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const {
        return QRect(X(x), Y(y), X(x + w) - X(x), Y(y + h) - Y(y));
    }

private:
    int baseX_;
    int baseY_;
};

enum class Anchor { Left, Right };

// Places a control; a label, check box or button is widened (away from its
// anchor) and heightened (about its middle) when its text would not fit the
// drawn rectangle in this font.
void Place(QWidget* widget, QRect rect, Anchor anchor = Anchor::Left) {
    if (qobject_cast<QLabel*>(widget) == nullptr && qobject_cast<QAbstractButton*>(widget) == nullptr) {
        widget->setGeometry(rect);
        return;
    }
    QSize hint = widget->sizeHint();
    if (hint.width() > rect.width()) {
        if (anchor == Anchor::Right) {
            rect.setLeft(rect.right() + 1 - hint.width());
        } else {
            rect.setWidth(hint.width());
        }
    }
    if (hint.height() > rect.height()) {
        int middle = rect.center().y();
        rect.setTop(middle - hint.height() / 2);
        rect.setHeight(hint.height());
    }
    widget->setGeometry(rect);
}

bool Less(const QString& a, const QString& b) {
    int order = QString::compare(a, b, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
}

std::string CodePointText(char32_t cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    return buffer;
}

// The first character of text that must not be stored: a control character
// (it would cut the text or end a command line) or one CP932 cannot hold.
std::optional<char32_t> FirstUnstorable(const QString& text) {
    const QList<uint> codes = text.toUcs4();
    for (uint code : codes) {
        if (code < 0x20 || code == 0x7F) {
            return static_cast<char32_t>(code);
        }
    }
    if (QStringToCp932(text)) {
        return std::nullopt;
    }
    for (uint code : codes) {
        char32_t one = static_cast<char32_t>(code);
        if (!QStringToCp932(QString::fromUcs4(&one, 1))) {
            return one;
        }
    }
    // Every character converts alone but not together: cannot be, but the
    // text still cannot be stored.
    return U'\uFFFD';
}

std::optional<std::string> StorableText(const QString& text) {
    if (FirstUnstorable(text)) {
        return std::nullopt;
    }
    return QStringToCp932(text);
}

}  // namespace

CAccountDlg::CAccountDlg(AccountFrame& frame, Prompt& prompt, std::string dataFolder, Profile& profile,
                         QWidget* parent)
    : QDialog(parent),
      frame_(frame),
      prompt_(prompt),
      dataFolder_(std::move(dataFolder)),
      profile_(profile),
      store_(std::make_unique<CAccountList>(false, dataFolder_, profile)) {
    setWindowTitle(Ui(kCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint);
    setModal(false);
    setFont(QFont(QStringLiteral("IPAPGothic"), 9));
    BuildControls();
    Start();
}

// The store goes with the dialog; a writable one compacts the file.
CAccountDlg::~CAccountDlg() = default;

bool CAccountDlg::StoreWritable() const {
    return store_ && store_->Writable();
}

std::string CAccountDlg::RefusalText() const {
    if (!store_ || store_->Lock() == CAccountList::LockState::kBusy) {
        return LoadString(IDS_ACCOUNTS_BUSY);
    }
    // The lock file could not be made, or the file not read whole.
    return Sjis("ｱｶｳﾝﾄの設定ﾌｧｲﾙを変更できません。\n") +
           QStringToCp932Lossy(QString::fromStdString(store_->Path()));
}

QWidget* CAccountDlg::Control(int id) const {
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (child->property("controlId").toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

void CAccountDlg::BuildControls() {
    const DialogUnits du(font());
    setFixedSize(du.X(kDialogWidth), du.Y(kDialogHeight));

    auto identify = [](QWidget* widget, int id, const char* objectName) {
        widget->setProperty("controlId", id);
        widget->setObjectName(QString::fromLatin1(objectName));
    };
    auto line = [&](int id, const char* objectName) {
        auto* box = new QLineEdit(this);
        identify(box, id, objectName);
        return box;
    };
    auto label = [&](const char* text, QWidget* buddy) {
        auto* widget = new QLabel(Ui(text), this);
        widget->setBuddy(buddy);
        return widget;
    };

    list_ = new QListWidget(this);
    identify(list_, kAccountList, "accountList");
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    name_ = line(kNameBox, "nameBox");
    loginId_ = line(kLoginIdBox, "loginIdBox");
    server_ = line(kServerBox, "serverBox");
    savePassword_ = new QCheckBox(Ui("ﾊﾟｽﾜｰﾄﾞの保存(&W) :"), this);
    identify(savePassword_, kSavePasswordCheck, "savePasswordCheck");
    password_ = line(kPasswordBox, "passwordBox");
    password_->setEchoMode(QLineEdit::Password);
    apop_ = new QCheckBox(Ui("APOP対応(&P)"), this);
    identify(apop_, kApopCheck, "apopCheck");
    tls_ = new QComboBox(this);
    identify(tls_, kTlsChoice, "tlsChoice");
    tls_->addItems({Ui("なし"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    checkEvery_ = new QSpinBox(this);
    identify(checkEvery_, kCheckEvery, "checkEveryBox");
    checkEvery_->setRange(0, kCheckIntervalMax);
    checkEvery_->setSuffix(QStringLiteral(" 分"));
    checkEvery_->setSpecialValueText(QStringLiteral("しない"));
    checkEvery_->setWhatsThis(
        QStringLiteral("このアカウントを自動で受信する間隔を分で指定します。しない (0) のときは自動で受信しません。"));
    new_ = new QPushButton(Ui("新規ｱｶｳﾝﾄ(&N)"), this);
    identify(new_, kNewButton, "newButton");
    delete_ = new QPushButton(Ui("削除(&R)"), this);
    identify(delete_, kDeleteButton, "deleteButton");
    save_ = new QPushButton(Ui("登録(&U)"), this);
    identify(save_, kSaveButton, "saveButton");
    save_->setDefault(true);
    separator_ = new QFrame(this);
    identify(separator_, kSeparator, "separator");
    separator_->setFrameShape(QFrame::HLine);
    separator_->setFrameShadow(QFrame::Sunken);
    close_ = new QPushButton(Ui("閉じる"), this);
    identify(close_, kCloseButton, "closeButton");

    QLabel* listLabel = label("ｱｶｳﾝﾄ一覧(&O)", list_);
    QLabel* nameLabel = label("ｱｶｳﾝﾄ名(&A) :", name_);
    QLabel* loginIdLabel = label("ﾛｸﾞｲﾝID(&C) :", loginId_);
    QLabel* serverLabel = label("POPｻｰﾊﾞｰ(&I) :", server_);
    QLabel* tlsLabel = label("暗号化(&E) :", tls_);
    QLabel* checkEveryLabel = label("自動受信(&T) :", checkEvery_);

    Place(listLabel, du.Rect(6, 8, 44, 8));
    Place(list_, du.Rect(6, 19, 88, 143));
    Place(name_, du.Rect(150, 19, 108, 13));
    Place(loginId_, du.Rect(150, 36, 108, 13));
    Place(server_, du.Rect(150, 53, 108, 13));
    Place(savePassword_, du.Rect(104, 71, 71, 10), Anchor::Right);
    Place(password_, du.Rect(175, 70, 83, 13));
    Place(apop_, du.Rect(175, 85, 55, 10));
    Place(tls_, du.Rect(150, 100, 108, 13));
    Place(checkEvery_, du.Rect(150, 117, 60, 13));
    Place(new_, du.Rect(6, 167, 54, 16));
    Place(delete_, du.Rect(62, 167, 54, 16));
    Place(save_, du.Rect(204, 167, 54, 16));
    Place(close_, du.Rect(204, 201, 54, 16));
    // A thin sunken line, 3 pixels high, where the template draws it.
    QRect line1019 = du.Rect(6, 192, 252, 8);
    line1019.setHeight(3);
    separator_->setGeometry(line1019);
    // Labels sit level with their boxes, their colons against them.
    for (auto [widget, x, w] :
         {std::tuple{nameLabel, 107, 40}, std::tuple{loginIdLabel, 110, 37}, std::tuple{serverLabel, 104, 43},
          std::tuple{tlsLabel, 104, 43}, std::tuple{checkEveryLabel, 100, 47}}) {
        widget->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QRect box = widget->buddy()->geometry();
        Place(widget, QRect(du.X(x), box.top(), du.X(x + w) - du.X(x), box.height()), Anchor::Right);
    }

    setTabOrder(list_, name_);
    setTabOrder(name_, loginId_);
    setTabOrder(loginId_, server_);
    setTabOrder(server_, savePassword_);
    setTabOrder(savePassword_, password_);
    setTabOrder(password_, apop_);
    setTabOrder(apop_, tls_);
    setTabOrder(tls_, checkEvery_);
    setTabOrder(checkEvery_, new_);
    setTabOrder(new_, delete_);
    setTabOrder(delete_, save_);
    setTabOrder(save_, close_);

    for (const HelpPair& pair : kHelpIds) {
        if (pair.control == 0) {
            break;
        }
        QWidget* control = Control(pair.control);
        const char* text = HelpText(pair.topic);
        if (control != nullptr && text != nullptr) {
            control->setWhatsThis(Ui(text));
        }
    }
    // F1 on a control shows its help, as Shift+F1 and the title bar's "?" do.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::WidgetWithChildrenShortcut);
    connect(help, &QShortcut::activated, this, &CAccountDlg::ShowFieldHelp);

    connect(list_, &QListWidget::itemSelectionChanged, this, &CAccountDlg::ShowSelected);
    connect(savePassword_, &QCheckBox::toggled, password_, &QWidget::setEnabled);
    connect(new_, &QPushButton::clicked, this, &CAccountDlg::NewAccount);
    connect(delete_, &QPushButton::clicked, this, &CAccountDlg::DeleteAccount);
    connect(save_, &QPushButton::clicked, this, &CAccountDlg::SaveAccount);
    connect(close_, &QPushButton::clicked, this, &CAccountDlg::CloseDialog);
}

void CAccountDlg::Start() {
    for (int n = 1; n <= store_->Size(); ++n) {
        const AccountInfo* account = store_->Lookup(n);
        if (account != nullptr && !account->IsBlank()) {
            AddListItem(Cp932ToQString(account->Name()), n);
        }
    }
    NewAccount();

    const std::string barName = frame_.GetSelectedAccountName();
    if (barName.empty()) {
        return;
    }
    // The bar's own account; failing that, the first that begins with its name.
    QListWidgetItem* found = nullptr;
    for (int row = 0; row < list_->count() && found == nullptr; ++row) {
        const AccountInfo* account = store_->Lookup(list_->item(row)->data(kNumberRole).toInt());
        if (account != nullptr && account->Name() == barName) {
            found = list_->item(row);
        }
    }
    const QString prefix = Cp932ToQString(barName);
    for (int row = 0; row < list_->count() && found == nullptr; ++row) {
        if (list_->item(row)->text().startsWith(prefix, Qt::CaseInsensitive)) {
            found = list_->item(row);
        }
    }
    if (found != nullptr) {
        SelectQuietly(found);
        ShowSelected();
    }
}

QListWidgetItem* CAccountDlg::SelectedItem() const {
    const QList<QListWidgetItem*> items = list_->selectedItems();
    return items.isEmpty() ? nullptr : items.first();
}

QListWidgetItem* CAccountDlg::AddListItem(const QString& name, int number) {
    // Binary search for the first item that sorts after the name.
    int low = 0;
    int high = list_->count();
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (Less(name, list_->item(middle)->text())) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    auto* item = new QListWidgetItem(name);
    item->setData(kNumberRole, number);
    QSignalBlocker quiet(list_);
    list_->insertItem(low, item);
    return item;
}

void CAccountDlg::SelectQuietly(QListWidgetItem* item) {
    // Only the user's choice runs Show; the dialog's own changes call it
    // themselves where they need it.
    QSignalBlocker quiet(list_);
    if (item != nullptr) {
        list_->setCurrentItem(item);
    } else {
        list_->clearSelection();
        list_->setCurrentItem(nullptr);
    }
}

void CAccountDlg::ShowSelected() {
    QListWidgetItem* item = SelectedItem();
    if (item == nullptr || !store_) {
        return;
    }
    const AccountInfo* account = store_->Lookup(item->data(kNumberRole).toInt());
    if (account == nullptr || account->IsBlank()) {
        return;
    }
    name_->setText(Cp932ToQString(account->Name()));
    name_->setFocus();
    loginId_->setText(Cp932ToQString(account->LoginId()));
    server_->setText(Cp932ToQString(account->Server()));
    const bool saves = account->SavesPassword();
    savePassword_->setChecked(saves);
    password_->setEnabled(saves);
    password_->setText(saves ? Cp932ToQString(account->Password()) : QString());
    apop_->setChecked(account->UsesApop());
    tls_->setCurrentIndex(account->TlsModeValue());
    checkEvery_->setValue(CheckInterval(profile_, account->Name()));
}

void CAccountDlg::NewAccount() {
    SelectQuietly(nullptr);
    name_->clear();
    loginId_->clear();
    server_->clear();
    password_->clear();
    savePassword_->setChecked(true);
    password_->setEnabled(true);
    apop_->setChecked(false);
    tls_->setCurrentIndex(0);
    checkEvery_->setValue(0);
    name_->setFocus();
}

void CAccountDlg::Refuse(QLineEdit* box, const std::string& text, const std::string& caption) {
    PromptRequest request;
    request.text = text;
    request.caption = caption;
    request.buttons = PromptButtons::Ok;
    request.icon = PromptIcon::Exclamation;
    prompt_.Ask(request);
    box->setFocus();
}

std::optional<std::string> CAccountDlg::ReadField(QLineEdit* box, const char* label, std::size_t maxBytes,
                                                  bool trimName) {
    const QString text = box->text();
    if (std::optional<char32_t> bad = FirstUnstorable(text)) {
        // A password's characters are not repeated in a message box.
        std::string which = box == password_ ? std::string() : " (" + CodePointText(*bad) + ") ";
        Refuse(box,
               Sjis(label) + Sjis("に保存できない文字") + which +
                   Sjis("が含まれています。\n別の文字に置き換えてください。"),
               Sjis(kCaption));
        return std::nullopt;
    }
    std::string bytes = QStringToCp932(text).value_or(std::string());
    if (trimName) {
        bytes = TrimAccountName(bytes);
        if (bytes.empty()) {
            Refuse(box, LoadString(IDS_ACCOUNT_NAME_EMPTY), LoadString(kAppTitleId));
            return std::nullopt;
        }
    }
    if (bytes.size() > maxBytes) {
        Refuse(box,
               Sjis(label) + Sjis("が長すぎます。\n半角") + std::to_string(maxBytes) + Sjis("文字 (全角") +
                   std::to_string(maxBytes / 2) + Sjis("文字) 以内で入力してください。"),
               Sjis(kCaption));
        return std::nullopt;
    }
    return bytes;
}

void CAccountDlg::WarnNotWritten() {
    PromptRequest request;
    request.text = Sjis("ｱｶｳﾝﾄの設定をﾌｧｲﾙに書き込めませんでした。\n") +
                   QStringToCp932Lossy(QString::fromStdString(store_->Path()));
    request.caption = Sjis(kCaption);
    request.buttons = PromptButtons::Ok;
    request.icon = PromptIcon::Exclamation;
    prompt_.Ask(request);
}

void CAccountDlg::SaveAccount() {
    if (!store_) {
        return;
    }
    std::optional<std::string> name = ReadField(name_, kNameField, kAccountNameMax, true);
    if (!name) {
        return;
    }
    // In place only when the selected account keeps its name byte for byte;
    // a changed name makes a new account and leaves the selected one alone.
    int target = 0;
    QListWidgetItem* selected = SelectedItem();
    if (selected != nullptr) {
        int number = selected->data(kNumberRole).toInt();
        const AccountInfo* account = store_->Lookup(number);
        if (account != nullptr && !account->IsBlank() && account->Name() == *name) {
            target = number;
        }
    }
    if (int refusal = CheckAccountName(*store_, *name, target); refusal != 0) {
        Refuse(name_, LoadString(refusal), LoadString(kAppTitleId));
        return;
    }
    std::optional<std::string> loginId = ReadField(loginId_, kLoginIdField, kLoginIdMax, false);
    if (!loginId) {
        return;
    }
    std::optional<std::string> server = ReadField(server_, kServerField, kServerMax, false);
    if (!server) {
        return;
    }
    const bool savesPassword = savePassword_->isChecked();
    std::string password;
    if (savesPassword) {
        std::optional<std::string> typed = ReadField(password_, kPasswordField, kPasswordMax, false);
        if (!typed) {
            return;
        }
        password = std::move(*typed);
    } else {
        // Not stored; the kept text of the disabled box only goes to the bar,
        // and only when it could be stored.
        std::optional<std::string> kept = StorableText(password_->text());
        if (kept && kept->size() <= kPasswordMax) {
            password = std::move(*kept);
        }
    }

    // A trusted certificate stays with the account while its server does.
    std::array<std::uint8_t, 32> pinned{};
    if (const AccountInfo* before = target != 0 ? store_->Lookup(target) : nullptr;
        before != nullptr && before->Server() == *server) {
        pinned = before->PinnedCert();
    }
    if (target != 0) {
        QSignalBlocker quiet(list_);
        delete selected;
    }
    AccountRecord record;
    record.number = target;
    record.SetName(*name);
    record.SetLoginId(*loginId);
    record.SetServer(*server);
    record.SetSavePassword(savesPassword);
    record.SetUseApop(apop_->isChecked());
    record.SetTlsModeValue(tls_->currentIndex());
    record.SetPinnedCert(pinned);
    const bool written = store_->SaveAccount(record, password);
    if (savesPassword) {
        store_->StorePassword(*name, password);
    } else {
        store_->DeletePassword(*name);
    }
    SetCheckInterval(profile_, *name, checkEvery_->value());
    AddListItem(Cp932ToQString(*name), record.number);
    NewAccount();
    if (!written) {
        WarnNotWritten();
    }
    if (!frame_.OperationRunning()) {
        frame_.AccountSaved(record, password);
    }
}

void CAccountDlg::DeleteAccount() {
    QListWidgetItem* item = SelectedItem();
    if (item == nullptr || !store_) {
        NewAccount();
        return;
    }
    if (frame_.OperationRunning()) {
        // The running operation would write the files of an account that is
        // gone, for whoever takes its name next.
        PromptRequest request;
        request.text = LoadString(IDS_ACCOUNT_IN_USE);
        request.caption = Sjis(kCaption);
        request.buttons = PromptButtons::Ok;
        request.icon = PromptIcon::Exclamation;
        prompt_.Ask(request);
        return;
    }
    const int number = item->data(kNumberRole).toInt();
    const AccountRemoval removal = RemoveAccount(*store_, number, dataFolder_);
    {
        QSignalBlocker quiet(list_);
        delete item;
    }
    NewAccount();
    if (removal.found && !removal.recordWritten) {
        WarnNotWritten();
    }
}

void CAccountDlg::reject() {
    CloseDialog();
}

void CAccountDlg::CloseDialog() {
    if (closing_) {
        return;
    }
    closing_ = true;
    QPointer<CAccountDlg> self(this);
    frame_.ReloadAccounts();
    if (!self) {
        return;
    }
    // The frame has loaded the file as it stands, blanked slots included;
    // now the store goes and the file loses them.
    store_.reset();
    QDialog::done(QDialog::Rejected);
    deleteLater();
}

void CAccountDlg::ShowFieldHelp() {
    QWidget* control = focusWidget();
    if (control != nullptr && !control->whatsThis().isEmpty()) {
        QWhatsThis::showText(control->mapToGlobal(control->rect().center()), control->whatsThis(), control);
    }
}

}  // namespace wp
