// list and cached: the receive command and the account switch through the
// engine, with the message list in memory.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <cerrno>
#include <memory>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "cli/cli_frame.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "engine/frame_engine.h"
#include "engine/mail_request.h"
#include "platform/profile.h"
#include "platform/string_table.h"

namespace wp::cli {
namespace {

// The password box takes what the request block holds.
constexpr std::size_t kBarTextMax = sizeof(MailRequest::password) - 1;

int interruptPipe[2] = {-1, -1};

void OnInterrupt(int) {
    const int saved = errno;
    [[maybe_unused]] auto written = write(interruptPipe[1], "!", 1);
    errno = saved;
}

// Ctrl-C (or SIGTERM) while the engine works does what the receive command
// does while it runs: the operation stops at its next check and ends the
// usual way. A second one ends the program at once.
class InterruptWatch {
public:
    explicit InterruptWatch(FrameEngine& engine) {
        if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [&engine] {
            char drain[16];
            while (read(interruptPipe[0], drain, sizeof drain) > 0) {
            }
            engine.CancelOperation();
        });
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
        installed_ = true;
    }
    ~InterruptWatch() {
        if (installed_) {
            sigaction(SIGINT, &oldInt_, nullptr);
            sigaction(SIGTERM, &oldTerm_, nullptr);
        }
        notifier_.reset();
        for (int& fd : interruptPipe) {
            if (fd >= 0) {
                close(fd);
                fd = -1;
            }
        }
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    bool installed_ = false;
};

// Status texts still queued when the work ended are shown too.
void ShowPendingMessages() {
    QCoreApplication::sendPostedEvents();
}

// The named account of a read-only store, as the account bar holds it.
// CommandFailed when there is none.
const AccountInfo& NamedAccount(const CAccountList& accounts, const std::string& name,
                                const std::string& typed) {
    const AccountInfo* account = accounts.Lookup(FindAccount(accounts, name));
    if (account == nullptr) {
        Complain("アカウントがありません: " + typed);
        throw CommandFailed{};
    }
    return *account;
}

}  // namespace

int RunList(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    std::optional<std::string> givenPassword;
    if (std::optional<std::string> value = context.args.Value("--password")) {
        givenPassword = Cp932Argument("--password", *value, kBarTextMax);
    }

    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);
    // The account bar: the stored password only when the account keeps one.
    std::string password = givenPassword             ? *givenPassword
                           : account.SavesPassword() ? std::string(account.Password())
                                                     : std::string();
    if (password.empty()) {
        // The receive command refuses an empty password box.
        PrintError(TerminalText(LoadString(IDS_ENTER_PASSWORD), true));
        return kExitFailed;
    }

    TerminalPrompt prompt;
    CliFrame frame(account, std::string(account.LoginId()), password);
    FrameEngine engine(frame, prompt, context.DataFolder());
    // Selecting the account shows its cached list first.
    engine.SwitchAccount(name);
    ShowPendingMessages();

    InterruptWatch interrupts(engine);
    engine.StartOperation(kOperationList);
    if (engine.receiving) {
        QEventLoop loop;
        engine.WhenIdle([&loop] { loop.quit(); });
        loop.exec();
    }
    ShowPendingMessages();
    PrintRows(frame.Rows());
    return ListingExitStatus(frame.LastStatus());
}

int RunCached(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);

    TerminalPrompt prompt;
    CliFrame frame(account, std::string(account.LoginId()), std::string());
    FrameEngine engine(frame, prompt, context.DataFolder());
    engine.SwitchAccount(name);
    ShowPendingMessages();
    PrintRows(frame.Rows());
    return kExitOk;
}

}  // namespace wp::cli
