#pragma once
// Where the system keeps its files on POSIX.

#include <optional>
#include <string>
#include <string_view>

namespace wp {

// "Mail" under the given directory, with no doubled separator ("/" gives "/Mail").
std::string DataFolderFor(std::string_view currentDir);

// The data folder of the current directory, created when nothing exists
// under that name (one retry); nullopt when the directory cannot be read
// or the folder can be neither found nor created.
std::optional<std::string> PrepareDataFolder();

// "AccData.dat" in the parent of the data folder.
std::string AccountDataPath(std::string_view dataFolder);

// The user's private temporary folder ($TMPDIR or /tmp, "wrenpost-<uid>"),
// created with mode 0700 and reused. When that name is taken by a link, by
// another user's entry or by anything open to others, it is never used: a
// fresh private folder ("wrenpost-<uid>-XXXXXX") serves instead for the rest
// of the run. nullopt when no private folder can be had.
std::optional<std::string> PrivateTempFolder();

// Joins a folder and a file name with one separator; an empty folder gives
// the name alone.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace wp
