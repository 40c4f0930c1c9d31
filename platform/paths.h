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

// The per-user folder of an installed program: "wrenpost" under
// $XDG_DATA_HOME when that is an absolute path, else under
// HOME/.local/share. Empty when neither is known.
std::string UserDataFolderFor(std::string_view xdgDataHome, std::string_view home);

// The user's home folder: $HOME when absolute, else the password database's
// entry. Empty when neither is known.
std::string HomeFolder();

// Whether both paths name one existing folder (links followed).
bool SameFolder(const std::string& a, const std::string& b);

// The folder a start without --data-dir makes current, shared by the program
// and wrenpost-cli so both see the same accounts: nullopt keeps the current
// directory, as always. Started from the desktop entry (fromDesktop) or in
// the home folder, it is the per-user folder, made (mode 0700) when missing --
// unless the home folder already holds an AccData.dat of earlier runs and the
// per-user folder has none yet: then the home folder goes on serving.
std::optional<std::string> DefaultDataDir(bool fromDesktop);

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
