#include "ui/mail_checker.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QSystemTrayIcon>
#include <utility>

#include "accounts/account_list.h"
#include "accounts/check_interval.h"
#include "engine/frame_engine.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/images.h"
#include "ui/main_frame.h"

namespace wp {
namespace {

constexpr int kTickMs = 5000;
// Senders and subjects told in one notice; the rest is counted.
constexpr int kNoticeMails = 3;

QIcon CountIcon(int count) {
    const QIcon plain = AppIcon();
    if (count <= 0) {
        return plain;
    }
    QPixmap pixmap = plain.pixmap(32, 32);
    if (pixmap.isNull()) {
        pixmap = QPixmap(32, 32);
        pixmap.fill(Qt::transparent);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect badge(12, 12, 20, 20);
    painter.setBrush(QColor(200, 30, 30));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(badge);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(count > 99 ? 9 : 13);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, count > 99 ? QStringLiteral("99+") : QString::number(count));
    return QIcon(pixmap);
}

class QtTraySurface final : public TraySurface {
public:
    QtTraySurface(MailChecker& checker, CMainFrame& frame) {
        menu_.addAction(QStringLiteral("受信"), [&checker] { checker.CheckAllNow(); });
        menu_.addAction(QStringLiteral("ウィンドウを表示"), [&checker] { checker.Activate(); });
        QAction* keep = menu_.addAction(QStringLiteral("閉じてもトレイに残る"));
        keep->setCheckable(true);
        keep->setChecked(KeepInTrayOnClose(frame.AppProfile()));
        QObject::connect(keep, &QAction::toggled,
                         [&frame](bool on) { SetKeepInTrayOnClose(frame.AppProfile(), on); });
        menu_.addSeparator();
        menu_.addAction(QStringLiteral("終了"), [&frame] { frame.OnExit(); });
        icon_.setContextMenu(&menu_);
        icon_.setIcon(CountIcon(0));
        icon_.setToolTip(QStringLiteral("Wrenpost"));
        QObject::connect(&icon_, &QSystemTrayIcon::activated,
                         [&checker](QSystemTrayIcon::ActivationReason why) {
                             if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick) {
                                 checker.Activate();
                             }
                         });
        QObject::connect(&icon_, &QSystemTrayIcon::messageClicked, [&checker] { checker.Activate(); });
        icon_.show();
    }
    void SetCount(int count) override { icon_.setIcon(CountIcon(count)); }
    void SetToolTip(const QString& text) override { icon_.setToolTip(text); }
    void ShowNotice(const QString& title, const QString& text) override {
        icon_.showMessage(title, text, AppIcon());
    }

private:
    QMenu menu_;
    QSystemTrayIcon icon_;
};

QString Uni(const std::string& cp932) {
    return Cp932ToQString(cp932);
}

}  // namespace

MailChecker::MailChecker(CMainFrame& frame)
    : frame_(frame),
      now_([] { return CheckClock::now(); }),
      schedule_(CheckSchedule::Hooks{
          [this] { return now_(); },
          [this] { return Plans(); },
          [this] { return closed_ || frame_.OperationRunning() || Holding(); },
          [this](const std::string& name) { StartCheck(name); },
          [this](const std::string& name, CheckNote note) { Noted(name, note); },
      }) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        surface_ = std::make_unique<QtTraySurface>(*this, frame_);
    }
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
    // The first intervals run from the start of the program.
    Tick();
}

MailChecker::~MailChecker() {
    timer_.stop();
    check_.reset();
    finished_.reset();
}

void MailChecker::SetSurface(std::unique_ptr<TraySurface> surface) {
    surface_ = std::move(surface);
    UpdateSurface();
}

std::vector<CheckPlan> MailChecker::Plans() const {
    std::vector<CheckPlan> plans;
    CAccountList& accounts = frame_.Accounts();
    for (int number = 1; number <= accounts.Size(); ++number) {
        const AccountInfo* account = accounts.Lookup(number);
        if (account == nullptr || account->IsBlank()) {
            continue;
        }
        CheckPlan plan;
        plan.name = std::string(account->Name());
        plan.minutes = CheckInterval(frame_.AppProfile(), plan.name);
        plan.hasPassword = account->SavesPassword() && !account->Password().empty();
        plans.push_back(std::move(plan));
    }
    return plans;
}

void MailChecker::Tick() {
    schedule_.Tick();
}

void MailChecker::CheckAllNow() {
    schedule_.CheckAllNow();
}

void MailChecker::StartCheck(const std::string& name) {
    CAccountList& accounts = frame_.Accounts();
    const AccountInfo* account = nullptr;
    for (int number = 1; number <= accounts.Size() && account == nullptr; ++number) {
        const AccountInfo* candidate = accounts.Lookup(number);
        if (candidate != nullptr && !candidate->IsBlank() && candidate->Name() == name) {
            account = candidate;
        }
    }
    if (account == nullptr) {
        // Gone between the plan and the start.
        QMetaObject::invokeMethod(
            this, [this, name] { schedule_.Finished(name, true, false); }, Qt::QueuedConnection);
        return;
    }
    madeWay_ = false;
    check_ = std::make_unique<AccountCheck>(frame_.DataFolder(), *account, std::string(account->Password()),
                                            [this](const CheckResult& result) { Done(result); });
    check_->Start();
}

bool MailChecker::MakeWay(int kind, bool canWait) {
    // A check, even one that has reported and is not gone yet, may hold the
    // account's cache and a connection: the user's operation beside it would
    // be refused as if another process wrote the files.
    if (Quiet()) {
        return true;
    }
    if (check_ && check_->Running()) {
        madeWay_ = true;
        check_->Cancel();
    }
    // The check's listing runs on this thread and serves events while it
    // waits for replies: this start may come from beneath it, so nothing
    // here may wait for the check to end. The start is made again once the
    // check is gone; one that cannot wait (a drop wants its files now) is
    // refused.
    if (!canWait) {
        return false;
    }
    // A second start meanwhile is one more press of the same wish.
    if (!held_) {
        held_ = kind;
        heldAccount_ = frame_.GetSelectedAccountName();
    }
    return false;
}

void MailChecker::WindowClosed() {
    // Whatever the user started is meant for a window that is gone, and no
    // check starts any more: the program ends.
    closed_ = true;
    held_.reset();
    heldAccount_.clear();
    timer_.stop();
    if (check_) {
        madeWay_ = true;
        check_->Cancel();
    }
}

void MailChecker::CheckGone() {
    if (!Quiet() || !held_) {
        return;
    }
    const int kind = *std::exchange(held_, std::nullopt);
    const std::string account = std::exchange(heldAccount_, std::string());
    // Another account was chosen meanwhile: the operation was meant for the
    // rows that are gone. A viewer closed meanwhile wants nothing fetched.
    if (account != frame_.GetSelectedAccountName()) {
        refreshPending_ = false;  // the switch showed that account's rows
        Tick();
        return;
    }
    if (kind == kOperationView && frame_.Viewer() == nullptr) {
        RefreshOnceIdle();
        Tick();
        return;
    }
    if (kind == kOperationList) {
        refreshPending_ = false;  // the listing brings the rows itself
    }
    frame_.Engine().StartOperation(kind);
    RefreshOnceIdle();
}

void MailChecker::RefreshOnceIdle() {
    if (!refreshPending_) {
        return;
    }
    // Behind the operation just started, when it runs still.
    QPointer<MailChecker> alive(this);
    frame_.Engine().WhenIdle([this, alive] {
        if (alive && refreshPending_ && !Holding() && !closed_) {
            RefreshShownList(frame_.GetSelectedAccountName());
        }
    });
}

void MailChecker::Done(const CheckResult& result) {
    // The check object called this: it goes once the call has returned
    // (an earlier one has long returned).
    finished_ = std::move(check_);
    QMetaObject::invokeMethod(
        this,
        [this] {
            finished_.reset();
            CheckGone();
        },
        Qt::QueuedConnection);

    const bool interrupted = !result.ok && madeWay_;
    madeWay_ = false;
    if (result.ok) {
        failures_.erase(result.name);
        if (result.newCount > 0) {
            newCounts_[result.name] += result.newCount;
            noticeAccount_ = result.name;
            QString text;
            for (int i = 0; i < static_cast<int>(result.newMails.size()) && i < kNoticeMails; ++i) {
                const CheckedMail& mail = result.newMails[static_cast<std::size_t>(i)];
                text += Uni(mail.from).trimmed() + QStringLiteral(": ") + Uni(mail.subject).trimmed();
                text += QLatin1Char('\n');
            }
            if (result.newCount > kNoticeMails) {
                text += QStringLiteral("ほか %1 件\n").arg(result.newCount - kNoticeMails);
            }
            text += Uni(result.name);
            if (surface_) {
                surface_->ShowNotice(QStringLiteral("新着メール %1 件").arg(result.newCount), text);
            }
        }
        RefreshShownList(result.name);
        if (result.newCount > 0) {
            // After the refreshed list's own status, which is posted.
            const std::string text =
                result.name + Sjis(": 新着メール ") + std::to_string(result.newCount) + Sjis(" 件");
            QMetaObject::invokeMethod(
                this, [this, text] { ShowStatus(text); }, Qt::QueuedConnection);
        }
    } else if (!interrupted && !result.stopped) {
        failures_[result.name] = result.failure;
    }
    UpdateSurface();
    schedule_.Finished(result.name, result.ok, interrupted);
}

void MailChecker::Noted(const std::string& name, CheckNote note) {
    switch (note) {
        case CheckNote::kNoPassword:
            ShowStatus(name + Sjis(": パスワードが保存されていないため自動受信しません"));
            break;
        case CheckNote::kFailing: {
            auto it = failures_.find(name);
            const std::string why = it != failures_.end() ? it->second : std::string();
            ShowStatus(name + Sjis(": 自動受信に失敗しました") +
                       (why.empty() ? std::string() : Sjis(" - ") + why));
            break;
        }
        case CheckNote::kRecovered:
            break;
    }
}

void MailChecker::ShowStatus(const std::string& cp932) {
    // The user's own operation has the status bar while it runs.
    if (!frame_.OperationRunning()) {
        std::string line = cp932;
        for (char& ch : line) {
            if (ch == '\r' || ch == '\n') {
                ch = ' ';
            }
        }
        frame_.SetPaneText(3, line);
    }
}

void MailChecker::RefreshShownList(const std::string& name) {
    if (frame_.GetSelectedAccountName() != name) {
        return;
    }
    // The user's operation waits to start on these rows.
    if (Holding()) {
        refreshPending_ = true;
        return;
    }
    // The viewer shows an entry of the list: the rows are rebuilt once it closed.
    if (frame_.Viewer() != nullptr) {
        refreshPending_ = true;
        return;
    }
    refreshPending_ = false;
    frame_.LoadCachedList(name);
}

void MailChecker::ViewerClosed() {
    if (refreshPending_) {
        RefreshShownList(frame_.GetSelectedAccountName());
    }
}

void MailChecker::Activate() {
    const std::string account = noticeAccount_;
    newCounts_.clear();
    noticeAccount_.clear();
    UpdateSurface();
    frame_.ShowOnAccount(account);
}

int MailChecker::NewCount(const std::string& account) const {
    auto it = newCounts_.find(account);
    return it != newCounts_.end() ? it->second : 0;
}

int MailChecker::TotalNew() const {
    int total = 0;
    for (const auto& [name, count] : newCounts_) {
        total += count;
    }
    return total;
}

QString MailChecker::ToolTipText() const {
    QString text = QStringLiteral("Wrenpost");
    std::map<std::string, bool> names;
    for (const auto& [name, count] : newCounts_) {
        names[name] = true;
    }
    for (const auto& [name, why] : failures_) {
        names[name] = true;
    }
    for (const auto& [name, unused] : names) {
        text += QLatin1Char('\n') + Uni(name) + QStringLiteral(": ");
        if (auto failed = failures_.find(name); failed != failures_.end()) {
            text += QStringLiteral("受信できません");
            if (!failed->second.empty()) {
                text += QStringLiteral(" (") + Uni(failed->second).simplified() + QLatin1Char(')');
            }
        } else {
            text += QStringLiteral("新着 %1 件").arg(NewCount(name));
        }
    }
    return text;
}

void MailChecker::UpdateSurface() {
    if (surface_) {
        surface_->SetCount(TotalNew());
        surface_->SetToolTip(ToolTipText());
    }
}

}  // namespace wp
