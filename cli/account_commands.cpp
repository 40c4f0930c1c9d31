// account add, list and remove: the account store with the settings
// dialog's rules.

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "accounts/account_removal.h"
#include "accounts/account_rules.h"
#include "accounts/check_interval.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "net/tls_channel.h"
#include "platform/profile.h"
#include "platform/string_table.h"

namespace wp::cli {
namespace {

// A writable store holds AccData.dat alone; while another (the settings
// dialog of a window, another wrenpost-cli) has it, nothing is written.
bool WritableOrSaid(const CAccountList& accounts) {
    if (accounts.Writable()) {
        return true;
    }
    if (accounts.Lock() == CAccountList::LockState::kBusy) {
        PrintError(TerminalText(LoadString(IDS_ACCOUNTS_BUSY), true));
    } else {
        Complain("アカウントのファイルを変更できません: " + accounts.Path());
    }
    return false;
}

// --check-every: minutes, 0 (off) to a day.
std::optional<int> CheckEveryOption(const CommandContext& context) {
    std::optional<std::string> value = context.args.Value("--check-every");
    if (!value) {
        return std::nullopt;
    }
    int minutes = 0;
    for (char ch : *value) {
        if (ch < '0' || ch > '9' || minutes > kCheckIntervalMax) {
            minutes = -1;
            break;
        }
        minutes = minutes * 10 + (ch - '0');
    }
    if (value->empty() || minutes < 0 || minutes > kCheckIntervalMax) {
        throw UsageError{"--check-every には 0 (しない) から " + std::to_string(kCheckIntervalMax) +
                         " までの分数を指定してください: " + *value};
    }
    return minutes;
}

bool StoreCheckEvery(Profile& profile, const std::string& name, int minutes) {
    if (SetCheckInterval(profile, name, minutes)) {
        return true;
    }
    Complain("受信間隔を保存できませんでした: " + profile.Path());
    return false;
}

}  // namespace

int RunAccountAdd(CommandContext& context) {
    const std::string name =
        TrimAccountName(Cp932Argument("NAME", context.args.positionals[0], kAccountNameMax));
    const std::string server = Cp932Argument("--server", context.Required("--server"), kServerMax);
    const std::string loginId = Cp932Argument("--login", context.Required("--login"), kLoginIdMax);
    const bool savePassword = !context.args.Has("--no-save-password");
    if (!savePassword && context.args.Has("--password")) {
        throw UsageError{"--password と --no-save-password は一緒に指定できません"};
    }
    const std::string password = Cp932Argument("--password", context.Option("--password"), kPasswordMax);
    const std::optional<int> checkEvery = CheckEveryOption(context);
    TlsMode tls = TlsMode::kNone;
    if (auto mode = context.args.Value("--tls")) {
        if (*mode == "starttls") {
            tls = TlsMode::kStartTls;
        } else if (*mode == "tls") {
            tls = TlsMode::kTls;
        } else if (*mode != "none") {
            throw UsageError{"--tls には none、starttls、tls のどれかを指定してください: " + std::string(*mode)};
        }
    }
    Fingerprint pinned{};
    if (auto hex = context.args.Value("--trust-fingerprint")) {
        if (tls == TlsMode::kNone) {
            throw UsageError{"--trust-fingerprint は --tls starttls か --tls tls と一緒に指定してください"};
        }
        if (!ParseFingerprint(*hex, &pinned)) {
            throw UsageError{"--trust-fingerprint には SHA-256 の指紋を 16 進 64 桁で指定してください（: 区切りも可）: " +
                             std::string(*hex)};
        }
    }

    Profile profile;
    CAccountList accounts(false, context.DataFolder(), profile);
    if (!WritableOrSaid(accounts)) {
        return kExitFailed;
    }
    if (int refusal = CheckAccountName(accounts, name, 0); refusal != 0) {
        PrintError(TerminalText(LoadString(refusal), true));
        return kExitFailed;
    }
    AccountRecord record;
    record.number = 0;  // a new account
    record.SetName(name);
    record.SetLoginId(loginId);
    record.SetServer(server);
    record.SetSavePassword(savePassword);
    record.SetUseApop(context.args.Has("--apop"));
    record.SetTlsModeValue(static_cast<std::int32_t>(tls));
    record.SetPinnedCert(pinned);
    if (!accounts.SaveAccount(record, password)) {
        Complain("アカウントを保存できませんでした: " + accounts.Path());
        return kExitFailed;
    }
    if (savePassword) {
        accounts.StorePassword(name, password);
    } else {
        accounts.DeletePassword(name);
    }
    // Also when none is given: an interval left by an account of that name
    // removed elsewhere must not carry over.
    if (!StoreCheckEvery(profile, name, checkEvery.value_or(0))) {
        return kExitFailed;
    }
    return kExitOk;
}

int RunAccountSet(CommandContext& context) {
    const std::string name = Cp932Argument("NAME", context.args.positionals[0], kAccountNameMax);
    const std::optional<int> checkEvery = CheckEveryOption(context);
    if (!checkEvery) {
        throw UsageError{"--check-every を指定してください"};
    }
    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    if (FindAccount(accounts, name) == 0) {
        Complain("アカウントがありません: " + context.args.positionals[0]);
        return kExitFailed;
    }
    return StoreCheckEvery(profile, name, *checkEvery) ? kExitOk : kExitFailed;
}

int RunAccountList(CommandContext& context) {
    Profile profile;
    CAccountList accounts(true, context.DataFolder(), profile);
    for (int number = 1; number <= accounts.Size(); ++number) {
        const AccountInfo* account = accounts.Lookup(number);
        if (account == nullptr || account->IsBlank()) {
            continue;
        }
        PrintLine(TerminalText(account->Name()) + "\t" + TerminalText(account->Server()) + "\t" +
                  TerminalText(account->LoginId()) + "\t" + (account->UsesApop() ? "apop" : "user") + "\t" +
                  TlsModeName(TlsModeFromStored(account->TlsModeValue())));
    }
    return kExitOk;
}

int RunAccountRemove(CommandContext& context) {
    const std::string name = Cp932Argument("NAME", context.args.positionals[0], kAccountNameMax);
    Profile profile;
    CAccountList accounts(false, context.DataFolder(), profile);
    if (!WritableOrSaid(accounts)) {
        return kExitFailed;
    }
    const int number = FindAccount(accounts, name);
    if (number == 0) {
        Complain("アカウントがありません: " + context.args.positionals[0]);
        return kExitFailed;
    }
    // The record and its cache files, as in the settings dialog.
    const AccountRemoval removal = RemoveAccount(accounts, number, context.DataFolder());
    if (!removal.recordWritten) {
        Complain("アカウントを削除できませんでした: " + accounts.Path());
        return kExitFailed;
    }
    if (!removal.filesRemoved) {
        Complain("アカウントのキャッシュを削除できませんでした: " + context.DataFolder());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace wp::cli
