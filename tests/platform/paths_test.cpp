#include "platform/paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "test_folder.h"

namespace wp {
namespace {

using test::TestFolder;

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
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

// Sets or clears one environment variable for a test and puts it back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_;
    std::string old_;
};

TEST(UserData, FolderFollowsTheBaseDirectoryRules) {
    struct Case {
        const char* xdgDataHome;
        const char* home;
        const char* folder;
    };
    const Case cases[] = {
        {"", "/home/kana", "/home/kana/.local/share/wrenpost"},
        {"/data/kana", "/home/kana", "/data/kana/wrenpost"},
        {"/data/kana/", "/home/kana", "/data/kana/wrenpost"},
        // A relative value is not a place: ignored, not joined to the current directory.
        {"share", "/home/kana", "/home/kana/.local/share/wrenpost"},
        {"", "/", "/.local/share/wrenpost"},
        {"/data", "", "/data/wrenpost"},
        // Nowhere known: no folder rather than one under the current directory.
        {"", "", ""},
        {"", "home/kana", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UserDataFolderFor(c.xdgDataHome, c.home), c.folder) << c.xdgDataHome << " | " << c.home;
    }
}

// Which folder a start without --data-dir works in: the per-user folder from
// the desktop entry or the home folder, the current directory elsewhere, and
// a home folder that already holds accounts is not abandoned.
TEST(UserData, DefaultDataDirFollowsWhereTheProgramStarted) {
    // HomeByLink: in the home folder, which HOME names through a link.
    enum Where { Home, HomeByLink, Elsewhere };
    enum Xdg { Unset, Absolute, Relative };
    struct Case {
        const char* what;
        bool fromDesktop;
        Where cwd;
        Xdg xdg;
        bool homeHasAccounts;
        bool userHasAccounts;
        const char* expected;  // under the test folder; nullptr: the current directory
    };
    const Case cases[] = {
        {"terminal elsewhere", false, Elsewhere, Unset, false, false, nullptr},
        {"terminal elsewhere, accounts at home", false, Elsewhere, Unset, true, false, nullptr},
        {"terminal at home", false, Home, Unset, false, false, "home/.local/share/wrenpost"},
        {"terminal at home named through a link", false, HomeByLink, Unset, false, false,
         "home-link/.local/share/wrenpost"},
        {"terminal at home, own data home", false, Home, Absolute, false, false, "xdg/wrenpost"},
        {"terminal at home, relative data home", false, Home, Relative, false, false,
         "home/.local/share/wrenpost"},
        {"desktop", true, Elsewhere, Unset, false, false, "home/.local/share/wrenpost"},
        {"desktop, own data home", true, Elsewhere, Absolute, false, false, "xdg/wrenpost"},
        {"desktop, accounts at home only", true, Elsewhere, Unset, true, false, "home"},
        {"terminal at home, accounts at home only", false, Home, Unset, true, false, "home"},
        {"desktop, accounts in both", true, Elsewhere, Unset, true, true, "home/.local/share/wrenpost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestFolder folder;
        const std::string home = folder.Sub("home");
        ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(folder.Sub("elsewhere").c_str(), 0700), 0);
        ASSERT_EQ(symlink(home.c_str(), folder.Sub("home-link").c_str()), 0);
        if (c.homeHasAccounts) {
            std::ofstream(home + "/AccData.dat") << "accounts";
        }
        const std::string user =
            c.xdg == Absolute ? folder.Sub("xdg/wrenpost") : home + "/.local/share/wrenpost";
        if (c.userHasAccounts) {
            std::filesystem::create_directories(user);
            std::ofstream(user + "/AccData.dat") << "accounts";
        }
        const std::string homeVariableValue = c.cwd == HomeByLink ? folder.Sub("home-link") : home;
        ScopedVariable homeVariable("HOME", homeVariableValue.c_str());
        const std::string xdg = c.xdg == Absolute ? folder.Sub("xdg") : "xdg";
        ScopedVariable xdgVariable("XDG_DATA_HOME", c.xdg == Unset ? nullptr : xdg.c_str());
        InDirectory in(c.cwd == Elsewhere ? folder.Sub("elsewhere") : home);

        std::optional<std::string> got = DefaultDataDir(c.fromDesktop);
        if (c.expected == nullptr) {
            EXPECT_EQ(got, std::nullopt);
            EXPECT_FALSE(std::filesystem::exists(user));
            continue;
        }
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, folder.Sub(c.expected));
        EXPECT_TRUE(IsDirectory(*got));
        if (*got == user && !c.userHasAccounts) {
            EXPECT_EQ(ModeOf(*got), 0700u) << "a new data folder is the user's alone";
        }
        // Nothing is written at home beside what was there.
        EXPECT_FALSE(std::filesystem::exists(home + "/Mail"));
    }
}

TEST(UserData, SameFolderSeesThroughLinksAndNeedsAFolder) {
    TestFolder folder;
    ASSERT_EQ(mkdir(folder.Sub("a").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(folder.Sub("b").c_str(), 0700), 0);
    ASSERT_EQ(symlink(folder.Sub("a").c_str(), folder.Sub("link").c_str()), 0);
    std::ofstream(folder.Sub("file")) << "x";
    EXPECT_TRUE(SameFolder(folder.Sub("a"), folder.Sub("link")));
    EXPECT_TRUE(SameFolder(folder.Sub("a"), folder.Sub("a/")));
    EXPECT_FALSE(SameFolder(folder.Sub("a"), folder.Sub("b")));
    EXPECT_FALSE(SameFolder(folder.Sub("file"), folder.Sub("file")));
    EXPECT_FALSE(SameFolder(folder.Sub("missing"), folder.Sub("missing")));
    EXPECT_FALSE(SameFolder("", ""));
}

std::string OurName() {
    return "wrenpost-" + std::to_string(geteuid());
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
