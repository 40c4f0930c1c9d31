#include "accounts/account_files.h"

#include <unistd.h>

#include <cerrno>

#include "accounts/file_name_chars.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace wp {
namespace {

// Room for "." plus a three-letter extension plus "_".
constexpr std::size_t kLongestSuffix = 5;
constexpr std::size_t kFileNameMax = 255;

bool Unlink(const std::string& path) {
    // unlink never follows a link: a planted one goes, its target stays.
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

std::string AccountFileStem(std::string_view accountName) {
    std::string_view name = accountName.substr(0, accountName.find('\0'));
    std::string stem = StripFileNameChars(name);
    return TruncateUtf8(Cp932ToUtf8(stem), kFileNameMax - kLongestSuffix);
}

AccountFilePaths AccountCacheFiles(std::string_view accountName, std::string_view dataFolder) {
    std::string base = JoinPath(dataFolder, AccountFileStem(accountName));
    return {base + ".kvt", base + ".sid", base + ".eml", base + ".lst"};
}

bool DeleteAccountCacheFiles(std::string_view accountName, std::string_view dataFolder) {
    AccountFilePaths files = AccountCacheFiles(accountName, dataFolder);
    bool gone = true;
    for (const std::string* path : {&files.header, &files.index, &files.message}) {
        gone = Unlink(*path) && gone;
        gone = Unlink(*path + "_") && gone;
    }
    // The response file of an interrupted listing.
    return Unlink(files.list + "_") && gone;
}

}  // namespace wp
