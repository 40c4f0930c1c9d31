#pragma once
// Deleting an account: the one way the settings dialog and wrenpost-cli do
// it, so that both leave the same nothing behind.

#include <string_view>

namespace wp {

class CAccountList;

struct AccountRemoval {
    bool found = false;          // the number named a live account
    bool recordWritten = false;  // its slot of AccData.dat is blank on disk
    bool filesRemoved = false;   // none of its cache files is left
};

// Blanks account `number` of a writable store (its stored password goes
// too), then deletes its cache files and their temporaries, unless another
// account of the store names the same files. The files go under the
// account's cache lock, waited for a short while; a writer in another
// process that keeps it longer finds the account gone when it ends, and
// keeps nothing.
AccountRemoval RemoveAccount(CAccountList& store, int number, std::string_view dataFolder);

}  // namespace wp
