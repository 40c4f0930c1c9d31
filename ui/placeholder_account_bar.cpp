#include "ui/placeholder_account_bar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>
#include <cstring>

#include "accounts/account_list.h"
#include "accounts/widgets/account_frame.h"
#include "platform/profile.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

// The boxes take only what the system can store and send.
class Cp932Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*pos*/) const override {
        return QStringToCp932(input) ? Acceptable : Invalid;
    }
};

QString Tip(int id) {
    const std::string& text = LoadString(id);
    auto at = text.find('\n');
    return Cp932ToQString(at == std::string::npos ? text : text.substr(at + 1));
}

QString PromptText(int id) {
    const std::string& text = LoadString(id);
    return Cp932ToQString(text.substr(0, text.find('\n')));
}

}  // namespace

PlaceholderAccountBar::PlaceholderAccountBar(AccountFrame& frame, Profile& profile, QWidget* parent)
    : QWidget(parent), frame_(frame), profile_(profile) {
    setObjectName(QStringLiteral("accountBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    combo_ = new QComboBox(this);
    combo_->setObjectName(QStringLiteral("accountCombo"));
    combo_->setMinimumContentsLength(10);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    login_ = new QLineEdit(this);
    login_->setObjectName(QStringLiteral("loginIdBox"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("passwordBox"));
    password_->setEchoMode(QLineEdit::Password);
    auto* validator = new Cp932Validator(this);
    login_->setValidator(validator);
    password_->setValidator(validator);
    login_->setFixedWidth(90);
    password_->setFixedWidth(100);
    struct Field {
        const char* label;
        QWidget* widget;
        int id;
    } fields[] = {{"ｱｶｳﾝﾄ:", combo_, 1000}, {"ﾛｸﾞｲﾝID:", login_, 1001}, {"ﾊﾟｽﾜｰﾄﾞ:", password_, 1002}};
    for (const Field& f : fields) {
        auto* label = new QLabel(Cp932ToQString(Sjis(f.label)), this);
        label->setBuddy(f.widget);
        layout->addWidget(label);
        layout->addWidget(f.widget);
        f.widget->setToolTip(Tip(f.id));
        f.widget->setStatusTip(PromptText(f.id));
        layout->addSpacing(4);
    }
    layout->addStretch(1);
    connect(combo_, &QComboBox::currentIndexChanged, this, [this] { OnSelectionChanged(); });
}

void PlaceholderAccountBar::Create() {
    Fill();
    QString saved = Cp932ToQString(profile_.GetString("AccPosition", "AccEntry"));
    // An empty text finds the first item.
    int index = combo_->findText(saved, Qt::MatchStartsWith);
    {
        QSignalBlocker quiet(combo_);
        combo_->setCurrentIndex(index);
    }
    PostSelectionChanged();
}

void PlaceholderAccountBar::Fill() {
    QSignalBlocker quiet(combo_);
    combo_->clear();
    const CAccountList& store = frame_.Accounts();
    std::vector<std::pair<QString, int>> items;
    for (int number = 1; number <= store.Size(); ++number) {
        const AccountInfo* account = store.Lookup(number);
        if (account == nullptr || account->IsBlank()) {
            continue;
        }
        items.emplace_back(Cp932ToQString(account->Name()), number);
    }
    // Sorted as a sorted combo box keeps them, without regard to case.
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return QString::compare(a.first, b.first, Qt::CaseInsensitive) < 0;
    });
    for (const auto& [name, number] : items) {
        combo_->addItem(name, number);
    }
}

const AccountInfo* PlaceholderAccountBar::GetSelectedAccount() const {
    int index = combo_->currentIndex();
    if (index < 0) {
        return nullptr;
    }
    return frame_.Accounts().Lookup(combo_->itemData(index).toInt());
}

QString PlaceholderAccountBar::AccountText() const {
    return combo_->currentText();
}

std::string PlaceholderAccountBar::LoginIdText() const {
    return QStringToCp932Lossy(login_->text());
}

std::string PlaceholderAccountBar::PasswordText() const {
    return QStringToCp932Lossy(password_->text());
}

void PlaceholderAccountBar::FocusAccountCombo() {
    combo_->setFocus(Qt::ShortcutFocusReason);
}

void PlaceholderAccountBar::FocusPasswordBox() {
    password_->setFocus(Qt::OtherFocusReason);
}

void PlaceholderAccountBar::PostSelectionChanged() {
    QMetaObject::invokeMethod(
        this, [this] { OnSelectionChanged(); }, Qt::QueuedConnection);
}

void PlaceholderAccountBar::OnSelectionChanged() {
    lastSelection_ = combo_->currentIndex();
    const AccountInfo* account = GetSelectedAccount();
    if (account == nullptr) {
        return;
    }
    login_->setText(Cp932ToQString(account->LoginId()));
    password_->setText(account->SavesPassword() ? Cp932ToQString(account->Password()) : QString());
    frame_.LoadCachedList(std::string(account->Name()));
    update();
    frame_.ActivateFrame();
}

void PlaceholderAccountBar::ReloadAccounts(bool operationRunning) {
    int remembered = combo_->currentIndex();
    Fill();
    int index = remembered < 0 ? 0 : std::min(remembered, combo_->count() - 1);
    {
        QSignalBlocker quiet(combo_);
        combo_->setCurrentIndex(combo_->count() > 0 ? index : -1);
    }
    if (!operationRunning) {
        PostSelectionChanged();
    }
}

void PlaceholderAccountBar::AccountSaved(const AccountRecord& record, std::string_view password) {
    if (combo_->count() == 0) {
        login_->clear();
        password_->clear();
    }
    AccountInfo* selected = frame_.Accounts().Lookup(combo_->itemData(combo_->currentIndex()).toInt());
    if (selected == nullptr) {
        return;
    }
    // Names are unique: the saved record is the selected account when its name is.
    if (selected->Name() != record.Name()) {
        return;
    }
    int number = selected->number;
    selected->Record() = record;
    selected->number = number;
    selected->SetPassword(password);
    login_->setText(Cp932ToQString(selected->LoginId()));
    password_->setText(Cp932ToQString(selected->Password()));
}

}  // namespace wp
