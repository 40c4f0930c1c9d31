#pragma once
// The rules an account name must pass before it is saved; the settings
// dialog and wrenpost-cli apply the same ones.

#include <string>
#include <string_view>

namespace wp {

class CAccountList;

// Trailing blanks go, but never the first character: a name of blanks only
// becomes one blank.
std::string TrimAccountName(std::string_view name);

// Case-insensitive comparison of CP932 texts: ASCII letters fold, the bytes
// of double-byte characters compare exactly.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// Why a name cannot be saved as the account with number `target` (0 for a
// new account): 0 when it can; IDS_ACCOUNT_NAME_EMPTY (40102) for an empty
// name; IDS_ACCOUNT_EXISTS (40101) when another account has the same name
// ignoring case; IDS_ACCOUNT_STEM_EXISTS (40108) when another account's file
// stem is the same ignoring case, or when both names make the same cache
// file names (long names cut to fit a file name). Blanked slots do not count.
int CheckAccountName(const CAccountList& accounts, std::string_view name, int target);

// The number of the account named exactly `name`; 0 when none.
int FindAccount(const CAccountList& accounts, std::string_view name);

}  // namespace wp
