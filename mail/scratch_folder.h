// A folder of an operation's own for its LIST and UIDL replies and the
// fresh index made from them: another window's listing of the same account
// uses the account's temporaries and never sees these. Removed with its
// content.

#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/paths.h"

namespace wp {

class ScratchFolder {
public:
    // `stem` names the folder in the private temporary folder ("fetch", "save").
    explicit ScratchFolder(const char* stem) {
        if (std::optional<std::string> base = PrivateTempFolder()) {
            std::string pattern = JoinPath(*base, std::string(stem) + "-XXXXXX");
            if (::mkdtemp(pattern.data()) != nullptr) {
                path_ = std::move(pattern);
            }
        }
    }
    ~ScratchFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    explicit operator bool() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace wp
