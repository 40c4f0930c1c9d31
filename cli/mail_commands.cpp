// list and cached: the receive command and the account switch through the
// engine, with the message list in memory.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "cli/cli_frame.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "decode/charset.h"
#include "decode/kanji_converter.h"
#include "engine/account_check.h"
#include "engine/frame_engine.h"
#include "engine/mail_request.h"
#include "engine/viewer_forwarder.h"
#include "mail/delete_marked.h"
#include "mail/fetch_for_view.h"
#include "mail/mail_text.h"
#include "mail/retrieve_selected.h"
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
    explicit InterruptWatch(FrameEngine& engine) : InterruptWatch([&engine] { engine.CancelOperation(); }) {}
    explicit InterruptWatch(std::function<void()> cancel) {
        if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [cancel = std::move(cancel)] {
            char drain[16];
            while (read(interruptPipe[0], drain, sizeof drain) > 0) {
            }
            cancel();
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

// The password box of the account bar: --password, else the stored one when
// the account keeps it.
std::string BarPassword(const AccountInfo& account, const std::optional<std::string>& given) {
    if (given) {
        return *given;
    }
    return account.SavesPassword() ? std::string(account.Password()) : std::string();
}

// The viewer of the view command: what the window would show, kept until
// the fetch is over and then printed.
class CliViewer final : public ViewerHooks {
public:
    ~CliViewer() override {
        // The viewer is closed with the program: its stored mail goes.
        mailFile.Remove();
    }
    void BeginReceive() override {}
    void EndReceive() override {}
    void PostClose() override {}
    void SetStatusText(const std::string& status) override {
        if (!status.empty()) {
            PrintError(TerminalText(status, true));
        }
    }
    void ClearMailText() override {}
    void AppendReceivedText(const char*, std::size_t, int) override {}
    void SetMailFile(const StoredMail& mail) override {
        if (!mailFile.SameAs(mail)) {
            mailFile.Remove();
        }
        mailFile = mail;
    }
    void SetWaitCursor(bool) override {}
    void ClearAttachments() override { attachments.clear(); }
    void AddAttachment(const std::string& name) override { attachments.push_back(name); }
    void ShowMailText(MailView shownView) override {
        view = std::move(shownView);
        shown = true;
    }

    MailView view;
    bool shown = false;
    std::vector<std::string> attachments;
    StoredMail mailFile;
};

// A row of `cached NAME`, counted from 1.
// The optional --password, checked like the bar's password box.
std::optional<std::string> PasswordOption(const CommandContext& context) {
    if (std::optional<std::string> value = context.args.Value("--password")) {
        return Cp932Argument("--password", *value, kBarTextMax);
    }
    return std::nullopt;
}

// Rows are 1-based rows of `cached`; every one past the end is named.
void RequireRows(const std::vector<int>& indexes, int rows) {
    std::string outOfRange;
    for (int row : indexes) {
        if (row > rows) {
            outOfRange += (outOfRange.empty() ? "" : " ") + std::to_string(row);
        }
    }
    if (!outOfRange.empty()) {
        throw UsageError{"INDEX " + outOfRange + " は範囲外です (cached の行は " + std::to_string(rows) + " 行)"};
    }
}

int RowArgument(const std::string& word) {
    int value = 0;
    for (char ch : word) {
        if (ch < '0' || ch > '9' || value > 10000000) {
            throw UsageError{"INDEX は 1 から始まる行番号です: " + word};
        }
        value = value * 10 + (ch - '0');
    }
    if (word.empty() || value < 1) {
        throw UsageError{"INDEX は 1 から始まる行番号です: " + word};
    }
    return value;
}

std::int32_t SourceCodeOption(const CommandContext& context) {
    const std::string value = context.Option("--code", "auto");
    static constexpr std::pair<std::string_view, std::int32_t> kCodes[] = {
        {"auto", -1}, {"jis", 1}, {"sjis", 0}, {"euc", 2}, {"utf8", 3}};
    for (const auto& [name, code] : kCodes) {
        if (name == value) {
            return code;
        }
    }
    throw UsageError{"--code の値が正しくありません: " + value};
}

// Mail text for the terminal: one line break per line end. The MIME
// reading is UTF-8 already and goes out as it is.
std::string MailTerminalText(std::string_view shown, bool unicode) {
    std::string text;
    text.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n') {
            continue;
        }
        text += shown[i];
    }
    return unicode ? TerminalUtf8(text, true) : TerminalText(text, true);
}

}  // namespace

int RunView(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    const int row = RowArgument(context.args.positionals[1]);
    const std::int32_t code = SourceCodeOption(context);
    const bool header = context.args.Has("--header");
    const bool source = context.args.Has("--source");
    const std::optional<std::string> givenPassword = PasswordOption(context);

    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);
    const std::string password = BarPassword(account, givenPassword);

    TerminalPrompt prompt;
    CliFrame frame(account, password);
    FrameEngine engine(frame, prompt, context.DataFolder());
    engine.SwitchAccount(name);
    ShowPendingMessages();
    RequireRows({row}, frame.Rows().RowCount());
    if (password.empty()) {
        PrintError(TerminalText(LoadString(IDS_ENTER_PASSWORD), true));
        return kExitFailed;
    }
    // The row is selected as the view command finds it.
    frame.Rows().SetSelected(row - 1, true);
    const MailEntry entry = *frame.Rows().RowEntry(row - 1);

    CliViewer viewer;
    frame.SetViewer(&viewer);
    int result = 1;  // the fetch did not run: the login failed
    engine.Operations().fetchForView = [&](OperationContext& operation) {
        ViewerForwarder forwarder(engine);
        result = RunFetchForView(*engine.Mailbox(), operation, entry, forwarder, [code] { return code; });
        return result;
    };
    {
        InterruptWatch interrupts(engine);
        engine.StartOperation(kOperationView);
        if (engine.receiving) {
            QEventLoop loop;
            engine.WhenIdle([&loop] { loop.quit(); });
            loop.exec();
        }
        ShowPendingMessages();
    }
    frame.SetViewer(nullptr);

    if (result == 0 && viewer.shown) {
        if (source && viewer.view.legacy.empty()) {
            // The fetch leaves the source of a decoded mail to be made from the stored file.
            std::optional<std::string> stored = viewer.mailFile.Read();
            if (!stored) {
                PrintError("ソースを表示できません: 保存したメールを読めません");
                return kExitFailed;
            }
            viewer.view.legacy = MailTextToShow(std::move(*stored), code == KANJI_UTF8 ? KANJI_AUTO : code);
        }
        const MailTextParts parts = PartsToShow(viewer.view, header, source);
        std::string body = MailTerminalText(parts.body, parts.unicode);
        if (!body.empty() && body.back() != '\n') {
            body += '\n';
        }
        WriteOut(body);
        PrintLine("--");
        for (const std::string& attachment : viewer.attachments) {
            PrintLine(TerminalText(attachment));
        }
        return kExitOk;
    }
    if (result == -2) {
        return kExitNotOnServer;
    }
    if (engine.Session().cancel != 0 || frame.LastStatus() == LoadString(IDS_STATUS_CANCELLED)) {
        return kExitInterrupted;
    }
    return kExitFailed;
}

int RunList(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    const std::optional<std::string> givenPassword = PasswordOption(context);

    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);
    // The account bar: the stored password only when the account keeps one.
    std::string password = BarPassword(account, givenPassword);
    if (password.empty()) {
        // The receive command refuses an empty password box.
        PrintError(TerminalText(LoadString(IDS_ENTER_PASSWORD), true));
        return kExitFailed;
    }

    TerminalPrompt prompt;
    CliFrame frame(account, password);
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

int RunCheck(CommandContext& context) {
    Profile profile;
    std::vector<std::string> names;
    for (const std::string& typed : context.args.positionals) {
        names.push_back(Cp932Argument("NAME", typed, kAccountNameMax));
    }
    CAccountList accounts(true, context.DataFolder(), profile);
    std::vector<const AccountInfo*> chosen;
    for (std::size_t i = 0; i < names.size(); ++i) {
        chosen.push_back(&NamedAccount(accounts, names[i], context.args.positionals[i]));
    }
    if (names.empty()) {
        for (int number = 1; number <= accounts.Size(); ++number) {
            const AccountInfo* account = accounts.Lookup(number);
            if (account != nullptr && !account->IsBlank() && account->SavesPassword() &&
                !account->Password().empty()) {
                chosen.push_back(account);
            }
        }
    }
    int status = kExitOk;
    for (const AccountInfo* account : chosen) {
        if (!account->SavesPassword() || account->Password().empty()) {
            // Nobody is asked for a password here.
            PrintError(TerminalText(account->Name()) + ": " +
                       TerminalText(LoadString(IDS_ENTER_PASSWORD), true));
            status = std::max(status, kExitFailed);
            continue;
        }
        CheckResult result;
        QEventLoop loop;
        AccountCheck check(context.DataFolder(), *account, std::string(account->Password()),
                           [&](const CheckResult& done) {
                               result = done;
                               loop.quit();
                           });
        {
            InterruptWatch interrupts([&check] { check.Cancel(); });
            check.Start();
            loop.exec();
        }
        if (result.ok) {
            PrintLine(TerminalText(account->Name()) + "\t" + std::to_string(result.newCount) + "\t" +
                      std::to_string(result.total));
            continue;
        }
        if (!result.failure.empty()) {
            PrintError(TerminalText(account->Name()) + ": " + TerminalText(result.failure, true));
        }
        if (result.stopped) {
            // Stopped by the user: the rest are not checked either.
            return kExitInterrupted;
        }
        status = kExitFailed;
    }
    return status;
}

int RunCached(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);

    TerminalPrompt prompt;
    CliFrame frame(account, std::string());
    FrameEngine engine(frame, prompt, context.DataFolder());
    engine.SwitchAccount(name);
    ShowPendingMessages();
    PrintRows(frame.Rows());
    return kExitOk;
}

// ---------------------------------------------------------------- delete

namespace {

// What became of one row, as the delete command prints it.
const char* DeletionWord(const DeletionReport& report, const DeletedRow* row) {
    if (row == nullptr) {
        return "not deleted";  // not reached: stopped, or failed before the first DELE
    }
    switch (row->outcome) {
        case DeleteOutcome::kDeleted:
            return report.quitAcknowledged ? "deleted" : "not carried out";
        case DeleteOutcome::kNotOnServer:
            return "not on server";
        case DeleteOutcome::kRefused:
            return "refused";
        case DeleteOutcome::kNotDeletable:
            break;
    }
    return "not deletable";
}

}  // namespace

int RunDelete(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    std::vector<int> indexes;
    for (std::size_t i = 1; i < context.args.positionals.size(); ++i) {
        const int row = RowArgument(context.args.positionals[i]);
        if (std::find(indexes.begin(), indexes.end(), row) != indexes.end()) {
            throw UsageError{"INDEX " + std::to_string(row) + " が二度指定されています"};
        }
        indexes.push_back(row);
    }
    const std::optional<std::string> givenPassword = PasswordOption(context);

    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);
    const std::string password = BarPassword(account, givenPassword);

    TerminalPrompt prompt;
    CliFrame frame(account, password);
    FrameEngine engine(frame, prompt, context.DataFolder());
    engine.SwitchAccount(name);
    ShowPendingMessages();
    MemoryList& rows = frame.Rows();
    RequireRows(indexes, rows.RowCount());
    if (password.empty()) {
        PrintError(TerminalText(LoadString(IDS_ENTER_PASSWORD), true));
        return kExitFailed;
    }
    // Exactly the rows named are marked: the command deletes what is marked.
    std::vector<MailEntry*> named;
    for (int row = 0; row < rows.RowCount(); ++row) {
        rows.SetMarkImage(row, kImageUnmarked);
    }
    for (int row : indexes) {
        rows.SetMarkImage(row - 1, kImageMarked);
        named.push_back(rows.RowEntry(row - 1));
    }

    {
        InterruptWatch interrupts(engine);
        engine.StartOperation(kOperationDelete);
        if (engine.receiving) {
            QEventLoop loop;
            engine.WhenIdle([&loop] { loop.quit(); });
            loop.exec();
        }
        ShowPendingMessages();
    }

    const DeletionReport& report = engine.LastDeletion();
    bool allWent = report.settled && report.result == 0;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        const DeletedRow* handled = nullptr;
        for (const DeletedRow& row : report.rows) {
            if (row.entry == named[i]) {
                handled = &row;
            }
        }
        const std::string word = DeletionWord(report, handled);
        allWent = allWent && (word == "deleted" || word == "not on server");
        PrintLine(std::to_string(indexes[i]) + "\t" + word);
    }
    if (report.result == -2 || (!report.settled && (engine.Session().cancel != 0 ||
                                                    frame.LastStatus() == LoadString(IDS_STATUS_CANCELLED)))) {
        return kExitInterrupted;
    }
    return allWent ? kExitOk : kExitFailed;
}

// ---------------------------------------------------------------- save

namespace {

// The folder of --to as the save command keeps it: an existing folder,
// ending with "/".
std::string SaveFolderArgument(const std::string& typed) {
    if (typed.empty()) {
        throw UsageError{"--to のフォルダ名が空です"};
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(typed, ec)) {
        Complain("保存先のフォルダがありません: " + typed);
        throw CommandFailed{};
    }
    return typed.back() == '/' ? typed : typed + "/";
}

}  // namespace

int RunSave(CommandContext& context) {
    const std::string& typed = context.args.positionals[0];
    const std::string name = Cp932Argument("NAME", typed, kAccountNameMax);
    std::vector<int> rowNumbers;
    for (std::size_t i = 1; i < context.args.positionals.size(); ++i) {
        rowNumbers.push_back(RowArgument(context.args.positionals[i]));
    }
    const std::string folder = SaveFolderArgument(context.Required("--to"));
    const std::optional<std::string> givenPassword = PasswordOption(context);

    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    const AccountInfo& account = NamedAccount(accounts, name, typed);
    const std::string password = BarPassword(account, givenPassword);

    TerminalPrompt prompt;
    CliFrame frame(account, password);
    FrameEngine engine(frame, prompt, context.DataFolder());
    engine.SwitchAccount(name);
    ShowPendingMessages();
    RequireRows(rowNumbers, frame.Rows().RowCount());
    if (password.empty()) {
        PrintError(TerminalText(LoadString(IDS_ENTER_PASSWORD), true));
        return kExitFailed;
    }
    for (int row : rowNumbers) {
        frame.Rows().SetSelected(row - 1, true);
    }

    FileNameMap names;
    NameSelectedRows(frame.Rows(), names, folder);
    RetrieveRun run;
    run.folder = folder;
    run.names = &names;
    int result = 1;  // the retrieval did not run: the login failed
    engine.Operations().retrieveSelected = [&](OperationContext& operation, ProgressHooks* progress) {
        run.progress = progress;
        result = RetrieveSelected(*engine.Mailbox(), operation, run);
        engine.retrieveReport = RetrieveReportText(run);
        return result;
    };
    {
        InterruptWatch interrupts(engine);
        engine.StartOperation(kOperationRetrieve);
        ShowPendingMessages();
    }

    for (const std::string& path : run.written) {
        PrintLine(path);
    }
    for (const std::string& notSaved : run.notSaved) {
        Complain("保存できませんでした: " + TerminalText(notSaved + kSavedMailExtension));
    }
    if (result == -2) {
        return kExitInterrupted;
    }
    if (result != 0 || run.notSaved.size() > static_cast<std::size_t>(run.notOnServer)) {
        return kExitFailed;
    }
    return run.notOnServer > 0 ? kExitNotOnServer : kExitOk;
}

}  // namespace wp::cli
