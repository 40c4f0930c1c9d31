// Writes one account of the demo into a data folder through the account
// store, as the settings dialog would: the record into AccData.dat and, for
// an account that keeps its password, the scrambled password into the
// profile ($XDG_CONFIG_HOME/Moorfield/Wrenpost.ini).
//
//   wrenpost-demo-accounts DIR NAME LOGIN SERVER PASSWORD [apop]
//
// DIR is the folder wrenpost runs in (AccData.dat lies there, the cache in
// DIR/Mail). Texts are UTF-8. An account of the same name is replaced.

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 6 && !(argc == 7 && std::strcmp(argv[6], "apop") == 0)) {
        std::fprintf(stderr, "usage: wrenpost-demo-accounts DIR NAME LOGIN SERVER PASSWORD [apop]\n");
        return 64;
    }
    const std::string dataFolder = wp::DataFolderFor(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(dataFolder, error);
    if (error) {
        std::fprintf(stderr, "wrenpost-demo-accounts: %s: %s\n", dataFolder.c_str(), error.message().c_str());
        return 1;
    }
    std::optional<std::string> name = wp::Utf8ToCp932(argv[2]);
    std::optional<std::string> login = wp::Utf8ToCp932(argv[3]);
    std::optional<std::string> server = wp::Utf8ToCp932(argv[4]);
    std::optional<std::string> password = wp::Utf8ToCp932(argv[5]);
    if (!name || !login || !server || !password) {
        std::fprintf(stderr, "wrenpost-demo-accounts: a text has characters Shift_JIS cannot hold\n");
        return 1;
    }

    wp::Profile profile;
    wp::CAccountList accounts(false, dataFolder, profile);
    const int existing = wp::FindAccount(accounts, *name);
    if (existing == 0) {
        if (int why = wp::CheckAccountName(accounts, *name, 0); why != 0) {
            std::fprintf(stderr, "wrenpost-demo-accounts: the name \"%s\" cannot be used (%d)\n", argv[2],
                         why);
            return 1;
        }
    }
    wp::AccountInfo account;
    account.number = existing == 0 ? -1 : existing;
    account.SetName(*name);
    account.SetLoginId(*login);
    account.SetServer(*server);
    account.SetSavePassword(true);
    account.SetUseApop(argc == 7);
    account.SetPassword(*password);
    if (!accounts.SaveAccount(account)) {
        std::fprintf(stderr, "wrenpost-demo-accounts: %s could not be written\n", accounts.Path().c_str());
        return 1;
    }
    accounts.StorePassword(account.Name(), account.Password());
    std::printf("account \"%s\": %s@%s%s\n", argv[2], argv[3], argv[4], argc == 7 ? " (APOP)" : "");
    return 0;
}
