#pragma once
// A fresh folder of one test under WRENPOST_TEST_TMP, removed afterwards.
// Tests of several executables run at once, so every folder is unique.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace wp::test {

class TestFolder {
public:
    TestFolder() {
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        std::string root = base != nullptr && *base != '\0' ? base : "/tmp";
        std::error_code ec;
        std::filesystem::create_directories(root, ec);
        std::string pattern = root + "/platform-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a test folder under " << root;
        }
        path_ = pattern;
    }
    ~TestFolder() {
        std::error_code ec;
        // Give back permissions a test took away, so everything can go.
        chmod(path_.c_str(), 0700);
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                chmod(it->path().c_str(), 0700);
            }
        }
        std::filesystem::remove_all(path_, ec);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string Sub(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace wp::test
