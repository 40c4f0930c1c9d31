// account add, list and remove: the account store with the settings
// dialog's rules.

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "accounts/account_removal.h"
#include "accounts/account_rules.h"
#include "cli/commands.h"
#include "cli/terminal.h"
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
    if (!accounts.SaveAccount(record, password)) {
        Complain("アカウントを保存できませんでした: " + accounts.Path());
        return kExitFailed;
    }
    if (savePassword) {
        accounts.StorePassword(name, password);
    } else {
        accounts.DeletePassword(name);
    }
    return kExitOk;
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
                  TerminalText(account->LoginId()) + "\t" + (account->UsesApop() ? "apop" : "user"));
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
