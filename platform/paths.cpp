#include "platform/paths.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace wp {

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != '/') {
        out += '/';
    }
    out += name;
    return out;
}

std::string DataFolderFor(std::string_view currentDir) {
    return JoinPath(currentDir, "Mail");
}

std::optional<std::string> PrepareDataFolder() {
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return std::nullopt;
    }
    std::string folder = DataFolderFor(buffer.data());
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        return folder;  // whatever exists there is accepted
    }
    if (mkdir(folder.c_str(), 0777) == 0) {
        return folder;
    }
    // One more try, as the folder may have appeared meanwhile.
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return std::nullopt;
    }
    folder = DataFolderFor(buffer.data());
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
    std::string root = (base != nullptr && *base == '/') ? base : "/tmp";
    std::string folder = JoinPath(root, "wrenpost-" + std::to_string(getuid()));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::nullopt;
    }
    // lstat: a link planted under our name must not lead our files elsewhere.
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 0077) != 0) {
        return std::nullopt;
    }
    return folder;
}

}  // namespace wp
