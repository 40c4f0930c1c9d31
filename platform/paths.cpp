#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace wp {
namespace {

std::optional<std::string> CurrentDirectory() {
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer.data());
}

enum class Entry { Missing, Private, Unsafe };

// lstat, not stat: a link planted under our name must not lead our files
// elsewhere. Private means a real folder of ours that nobody else may enter.
Entry Inspect(const std::string& folder) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) {
        return errno == ENOENT ? Entry::Missing : Entry::Unsafe;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 0077) != 0 ||
        (st.st_mode & 0700) != 0700) {
        return Entry::Unsafe;
    }
    return Entry::Private;
}

// Creates the folder (0700 whatever the umask) or accepts it when it is
// already private.
bool MakePrivate(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) == 0) {
        // In a sticky temporary folder nobody can swap our new folder for
        // something else before this chmod.
        if (chmod(folder.c_str(), 0700) != 0) {
            return false;
        }
    } else if (errno != EEXIST) {
        return false;
    }
    return Inspect(folder) == Entry::Private;
}

// Makes every missing folder of an absolute path, new ones private; what
// cannot be made is left for the caller's own attempt to report.
void MakePrivateFolders(const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        mkdir(path.substr(0, at).c_str(), 0700);
    }
    mkdir(path.c_str(), 0700);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string UserDataFolderFor(std::string_view xdgDataHome, std::string_view home) {
    // A relative value is invalid and ignored, as the base directory rules say.
    if (xdgDataHome.starts_with('/')) {
        return JoinPath(xdgDataHome, "wrenpost");
    }
    if (home.starts_with('/')) {
        return JoinPath(JoinPath(home, ".local/share"), "wrenpost");
    }
    return {};
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return !a.empty() && !b.empty() && stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           S_ISDIR(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<std::string> DefaultDataDir(bool fromDesktop) {
    const std::string home = HomeFolder();
    if (!fromDesktop) {
        auto cwd = CurrentDirectory();
        if (!cwd || !SameFolder(*cwd, home)) {
            return std::nullopt;
        }
    }
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const std::string folder = UserDataFolderFor(xdg != nullptr ? xdg : "", home);
    if (folder.empty()) {
        return std::nullopt;
    }
    // Accounts a user already keeps in the home folder are not hidden by a
    // fresh, empty folder elsewhere.
    if (!home.empty() && IsFile(JoinPath(home, "AccData.dat")) && !IsFile(JoinPath(folder, "AccData.dat"))) {
        return home;
    }
    MakePrivateFolders(folder);
    return folder;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/') {
        out += '/';
    }
    out += name;
    return out;
}

std::string DataFolderFor(std::string_view currentDir) {
    return JoinPath(currentDir, "Mail");
}

std::optional<std::string> PrepareDataFolder() {
    auto cwd = CurrentDirectory();
    if (!cwd) {
        return std::nullopt;
    }
    std::string folder = DataFolderFor(*cwd);
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        return folder;  // whatever exists there is accepted
    }
    if (mkdir(folder.c_str(), 0777) == 0) {
        return folder;
    }
    // One more try, as the folder may have appeared meanwhile.
    cwd = CurrentDirectory();
    if (!cwd) {
        return std::nullopt;
    }
    folder = DataFolderFor(*cwd);
    if (mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && stat(folder.c_str(), &st) == 0)) {
        return folder;
    }
    return std::nullopt;
}

std::string AccountDataPath(std::string_view dataFolder) {
    std::string folder(dataFolder);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    auto slash = folder.rfind('/');
    std::string parent;
    if (slash == std::string::npos) {
        parent = ".";
    } else if (slash == 0) {
        parent = "/";
    } else {
        parent = folder.substr(0, slash);
    }
    return JoinPath(parent, "AccData.dat");
}

std::optional<std::string> PrivateTempFolder() {
    const char* base = std::getenv("TMPDIR");
    const std::string root = (base != nullptr && *base == '/') ? base : "/tmp";
    const std::string uid = std::to_string(geteuid());

    static std::mutex mutex;
    static std::string fallbackRoot;
    static std::string fallback;
    std::lock_guard lock(mutex);

    std::string folder = JoinPath(root, "wrenpost-" + uid);
    if (MakePrivate(folder)) {
        return folder;
    }
    // Someone else holds our name (a link, a foreign or open folder): use a
    // fresh folder of our own instead, the same one for the rest of the run.
    if (fallbackRoot == root && !fallback.empty() && Inspect(fallback) == Entry::Private) {
        return fallback;
    }
    std::string pattern = JoinPath(root, "wrenpost-" + uid + "-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr || Inspect(pattern) != Entry::Private) {
        return std::nullopt;
    }
    fallbackRoot = root;
    fallback = pattern;
    return fallback;
}

}  // namespace wp
