#include "accounts/account_rules.h"
#include "decode/jis_sjis.h"

#include "accounts/account_files.h"
#include "accounts/account_list.h"
#include "accounts/file_name_chars.h"
#include "platform/string_table.h"

namespace wp {
namespace {

unsigned char Fold(unsigned char ch) {
    return (ch >= 'a' && ch <= 'z') ? static_cast<unsigned char>(ch - 'a' + 'A') : ch;
}

}  // namespace

std::string TrimAccountName(std::string_view name) {
    std::size_t end = name.size();
    while (end > 1 && name[end - 1] == ' ') {
        --end;
    }
    return std::string(name.substr(0, end));
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (IsSjisLeadByte(x) && i + 1 < a.size()) {
            // A double-byte character: both bytes exactly, so a trail byte
            // that looks like a letter is never folded.
            if (x != y || a[i + 1] != b[i + 1]) {
                return false;
            }
            ++i;
            continue;
        }
        if (Fold(x) != Fold(y)) {
            return false;
        }
    }
    return true;
}

int CheckAccountName(const CAccountList& accounts, std::string_view name, int target) {
    if (name.empty()) {
        return IDS_ACCOUNT_NAME_EMPTY;
    }
    for (int n = 1; n <= accounts.Size(); ++n) {
        const AccountInfo* other = accounts.Lookup(n);
        if (n == target || other == nullptr || other->IsBlank()) {
            continue;
        }
        if (EqualIgnoringCase(other->Name(), name)) {
            return IDS_ACCOUNT_EXISTS;
        }
    }
    std::string stem = StripFileNameChars(name);
    // The stem on disk is also cut to fit a file name, so two long names
    // that agree up to the cut would share (and delete) one set of files.
    std::string diskStem = AccountFileStem(name);
    for (int n = 1; n <= accounts.Size(); ++n) {
        const AccountInfo* other = accounts.Lookup(n);
        if (n == target || other == nullptr || other->IsBlank()) {
            continue;
        }
        if (EqualIgnoringCase(StripFileNameChars(other->Name()), stem) ||
            AccountFileStem(other->Name()) == diskStem) {
            return IDS_ACCOUNT_STEM_EXISTS;
        }
    }
    return 0;
}

int FindAccount(const CAccountList& accounts, std::string_view name) {
    for (int n = 1; n <= accounts.Size(); ++n) {
        const AccountInfo* account = accounts.Lookup(n);
        if (account != nullptr && !account->IsBlank() && account->Name() == name) {
            return n;
        }
    }
    return 0;
}

}  // namespace wp
