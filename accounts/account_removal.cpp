#include "accounts/account_removal.h"

#include <string>

#include "accounts/account_files.h"
#include "accounts/account_info.h"
#include "accounts/account_list.h"

namespace wp {
namespace {

// Long enough for a writer that has finished its work to put its files in
// place and let go; short enough for a click.
constexpr int kLockPatienceMs = 2000;

}  // namespace

AccountRemoval RemoveAccount(CAccountList& store, int number, std::string_view dataFolder) {
    AccountRemoval removal;
    const AccountInfo* account = store.Lookup(number);
    if (account == nullptr || account->IsBlank()) {
        return removal;
    }
    removal.found = true;
    const std::string name(account->Name());
    removal.recordWritten = store.ClearAccount(number);

    // Files another account also names (written before names were checked
    // this strictly) stay for that account.
    const std::string stem = AccountFileStem(name);
    for (int n = 1; n <= store.Size(); ++n) {
        const AccountInfo* other = store.Lookup(n);
        if (other != nullptr && !other->IsBlank() && AccountFileStem(other->Name()) == stem) {
            removal.filesRemoved = true;
            return removal;
        }
    }
    CacheLock lock = CacheLock::Acquire(name, dataFolder, kLockPatienceMs);
    if (lock.state() == CacheLock::State::kBusy) {
        // The writer finds the account gone and removes what it wrote.
        removal.filesRemoved = true;
        return removal;
    }
    removal.filesRemoved = DeleteAccountCacheFiles(name, dataFolder);
    return removal;
}

}  // namespace wp
