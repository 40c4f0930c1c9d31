// AccData.dat as anything may have left it: loaded read-only, each account
// looked at, then loaded by a writer that rewrites it, and loaded again.

#include "accounts/account_files.h"
#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "fuzz_files.h"
#include "platform/profile.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

namespace {

int Look(const wp::CAccountList& accounts) {
    int named = 0;
    for (int i = 1; i <= accounts.Size(); ++i) {
        const wp::AccountInfo* account = accounts.Lookup(i);
        if (account == nullptr) {
            std::abort();  // every number up to Size() has its slot
        }
        if (!account->IsBlank()) {
            ++named;
            (void)wp::AccountFileStem(account->Name());
        }
        (void)account->LoginId();
        (void)account->Server();
        (void)account->Password();
    }
    return named;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = wp::fuzz::ScratchFolder();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    wp::fuzz::WriteBytes(folder + "/AccData.dat", bytes);
    std::filesystem::remove(folder + "/profile.ini");
    wp::Profile profile(folder + "/profile.ini");
    int named = 0;
    {
        wp::CAccountList reader(true, folder + "/Mail", profile);
        named = Look(reader);
    }
    {
        wp::CAccountList writer(false, folder + "/Mail", profile);
        (void)Look(writer);
    }
    {
        wp::CAccountList again(true, folder + "/Mail", profile);
        // The rewrite drops blanked slots only: every named account survives.
        if (Look(again) != named && again.Size() < wp::CAccountList::kMaxAccounts) {
            std::abort();
        }
    }
    (void)wp::CAccountList::DecodePasswordValue(
        std::span<const std::uint8_t>(data, size < 64 ? size : 64));
    return 0;
}
