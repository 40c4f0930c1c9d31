#include "platform/paths.h"

#include "test_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace wp {
namespace {

using test::TestFolder;

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Changes the current directory for one test and goes back afterwards.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) : previous_(open(".", O_RDONLY | O_DIRECTORY)) {
        EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
    }
    ~InDirectory() {
        EXPECT_EQ(fchdir(previous_), 0);
        close(previous_);
    }

private:
    int previous_;
};

// Points TMPDIR at a folder of the test's own and puts it back afterwards.
class TempDirVariable {
public:
    explicit TempDirVariable(const std::string& dir) {
        const char* old = std::getenv("TMPDIR");
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TempDirVariable() {
        if (had_) {
            setenv("TMPDIR", old_.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

private:
    bool had_;
    std::string old_;
};

TEST(Paths, DataFolderAndAccountFileNames) {
    struct Case {
        const char* cwd;
        const char* dataFolder;
        const char* accountFile;
    };
    const Case cases[] = {
        {"/home/user", "/home/user/Mail", "/home/user/AccData.dat"},
        {"/home/user/", "/home/user/Mail", "/home/user/AccData.dat"},
        {"/", "/Mail", "/AccData.dat"},  // the root: no doubled separator
        {"/srv/mail data", "/srv/mail data/Mail", "/srv/mail data/AccData.dat"},
    };
    for (const auto& c : cases) {
        std::string folder = DataFolderFor(c.cwd);
        EXPECT_EQ(folder, c.dataFolder) << c.cwd;
        EXPECT_EQ(AccountDataPath(folder), c.accountFile) << c.cwd;
    }
    EXPECT_EQ(AccountDataPath("/home/user/Mail/"), "/home/user/AccData.dat");
    EXPECT_EQ(AccountDataPath("Mail"), "./AccData.dat");
}

TEST(Paths, JoinsWithOneSeparator) {
    EXPECT_EQ(JoinPath("/a", "b.eml"), "/a/b.eml");
    EXPECT_EQ(JoinPath("/a/", "b.eml"), "/a/b.eml");
    EXPECT_EQ(JoinPath("/", "b.eml"), "/b.eml");
    // No folder is not the root folder.
    EXPECT_EQ(JoinPath("", "b.eml"), "b.eml");
}

TEST(Paths, DataFolderIsCreatedOnceAndThenReused) {
    TestFolder folder;
    InDirectory in(folder.Path());
    auto created = PrepareDataFolder();
    ASSERT_TRUE(created.has_value());
    EXPECT_EQ(*created, folder.Sub("Mail"));
    EXPECT_TRUE(IsDirectory(*created));

    std::ofstream(folder.Sub("Mail/a.sid")) << "cached";
    auto again = PrepareDataFolder();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *created);
    EXPECT_TRUE(std::filesystem::exists(folder.Sub("Mail/a.sid")));
}

TEST(Paths, AnExistingEntryNamedMailIsAccepted) {
    TestFolder folder;
    std::ofstream(folder.Sub("Mail")) << "not a folder";
    InDirectory in(folder.Path());
    EXPECT_EQ(PrepareDataFolder(), std::optional<std::string>(folder.Sub("Mail")));
}

// A link to nowhere under the name: there is no folder, and none can be made.
TEST(Paths, DataFolderThatCannotBeMadeFails) {
    TestFolder folder;
    ASSERT_EQ(symlink(folder.Sub("gone/Mail").c_str(), folder.Sub("Mail").c_str()), 0);
    InDirectory in(folder.Path());
    EXPECT_EQ(PrepareDataFolder(), std::nullopt);
}

TEST(Paths, DataFolderInAReadOnlyDirectoryFails) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "running as root, permission bits do not stop mkdir; "
                        "DataFolderThatCannotBeMadeFails covers the failure path";
    }
    TestFolder folder;
    ASSERT_EQ(mkdir(folder.Sub("ro").c_str(), 0500), 0);
    InDirectory in(folder.Sub("ro"));
    EXPECT_EQ(PrepareDataFolder(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder.Sub("ro/Mail")));
}

TEST(Paths, RemovedCurrentDirectoryFails) {
    TestFolder folder;
    ASSERT_EQ(mkdir(folder.Sub("gone").c_str(), 0700), 0);
    InDirectory in(folder.Sub("gone"));
    ASSERT_EQ(rmdir(folder.Sub("gone").c_str()), 0);
    EXPECT_EQ(PrepareDataFolder(), std::nullopt);
}

std::string OurName() {
    return "wrenpost-" + std::to_string(geteuid());
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PrivateTemp, IsCreatedPrivateAndReused) {
    TestFolder folder;
    TempDirVariable tmp(folder.Path());
    mode_t oldMask = umask(0177);  // a umask that would leave the owner without access
    auto first = PrivateTempFolder();
    umask(oldMask);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, folder.Sub(OurName()));
    EXPECT_TRUE(IsDirectory(*first));
    EXPECT_EQ(ModeOf(*first), 0700u);

    std::ofstream(*first + "/kept.eml") << "x";
    EXPECT_EQ(PrivateTempFolder(), first);
    EXPECT_TRUE(std::filesystem::exists(*first + "/kept.eml"));
}

// Something planted under our name by someone else must never be written
// into; a private folder of our own serves instead, the same for every call.
TEST(PrivateTemp, NeverUsesWhatOthersCanReach) {
    struct Case {
        const char* what;
        void (*plant)(const std::string& name, const std::string& elsewhere);
    };
    const Case cases[] = {
        {"a link to a folder elsewhere",
         [](const std::string& name, const std::string& elsewhere) {
             ASSERT_EQ(symlink(elsewhere.c_str(), name.c_str()), 0);
         }},
        {"a folder open to everybody",
         [](const std::string& name, const std::string&) {
             ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
             ASSERT_EQ(chmod(name.c_str(), 0777), 0);
         }},
        {"a folder others may read",
         [](const std::string& name, const std::string&) {
             ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
             ASSERT_EQ(chmod(name.c_str(), 0750), 0);
         }},
        {"a file", [](const std::string& name, const std::string&) { std::ofstream(name) << "x"; }},
    };
    for (const auto& c : cases) {
        TestFolder folder;
        TempDirVariable tmp(folder.Path());
        const std::string name = folder.Sub(OurName());
        const std::string elsewhere = folder.Sub("elsewhere");
        ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
        c.plant(name, elsewhere);

        auto got = PrivateTempFolder();
        ASSERT_TRUE(got.has_value()) << c.what;
        EXPECT_NE(*got, name) << c.what;
        EXPECT_EQ(got->rfind(folder.Path() + "/", 0), 0u) << c.what << ": " << *got;
        EXPECT_TRUE(IsDirectory(*got)) << c.what;
        EXPECT_EQ(ModeOf(*got), 0700u) << c.what;
        EXPECT_EQ(PrivateTempFolder(), got) << c.what;
        EXPECT_TRUE(std::filesystem::is_empty(elsewhere)) << c.what;
    }
}

TEST(PrivateTemp, NeverUsesAnotherUsersFolder) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can make a folder owned by someone else";
    }
    TestFolder folder;
    TempDirVariable tmp(folder.Path());
    const std::string name = folder.Sub(OurName());
    ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
    ASSERT_EQ(chown(name.c_str(), 65534, 65534), 0);
    auto got = PrivateTempFolder();
    ASSERT_TRUE(got.has_value());
    EXPECT_NE(*got, name);
    EXPECT_EQ(ModeOf(*got), 0700u);
}

TEST(PrivateTemp, MissingTempDirIsAFailure) {
    TestFolder folder;
    TempDirVariable tmp(folder.Sub("no/such/dir"));
    EXPECT_EQ(PrivateTempFolder(), std::nullopt);
}

}  // namespace
}  // namespace wp
