#pragma once
// The names of an account's cache files in the data folder. The mail layer
// reads and writes them; the settings dialog deletes them with the account.
//
//   <stem>.sid  index file      <stem>.kvt  header file
//   <stem>.eml  message file    <stem>.lst  list file (its "_" sibling holds
//                                           the LIST/UIDL replies)
// Rebuilt files are written as siblings with "_" appended first.

#include <string>
#include <string_view>

namespace wp {

// The file stem of an account: the name (CP932, cut at a zero byte) without
// the characters file names may not hold, as UTF-8, cut at a character
// boundary so that the longest name made from it ("<stem>.sid_") stays
// within 255 bytes.
std::string AccountFileStem(std::string_view accountName);

struct AccountFilePaths {
    std::string header;   // .kvt
    std::string index;    // .sid
    std::string message;  // .eml
    std::string list;     // .lst
};

AccountFilePaths AccountCacheFiles(std::string_view accountName, std::string_view dataFolder);

// Deletes the header, index and message files of an account, and the
// temporaries a stopped run may have left beside them, so that nothing of a
// deleted account's mail stays behind. Missing files are no error. True when
// none of them is left.
bool DeleteAccountCacheFiles(std::string_view accountName, std::string_view dataFolder);

}  // namespace wp
